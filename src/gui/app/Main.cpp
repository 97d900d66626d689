// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstring>

#include "app/TessarookApp.h"

wxIMPLEMENT_APP_NO_MAIN(tessarook::CTessarookApp);

int main(int argc, char** argv) {
  // Answered before the toolkit starts: no display is needed and no window opens.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("tessarook %s\n", TESSAROOK_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  return wxEntry(argc, argv);
}
