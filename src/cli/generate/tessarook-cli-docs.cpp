// SPDX-License-Identifier: GPL-3.0-or-later
// tessarook-cli-docs KIND TEMPLATE OUTPUT: fills a template with what the
// command table gives for KIND (man, bash, zsh or fish). Run by the build.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "Generate.h"

int main(int argc, char** argv) {
  using namespace tessarook::cli;
  if (argc != 4) {
    std::fprintf(stderr, "usage: tessarook-cli-docs man|bash|zsh|fish TEMPLATE OUTPUT\n");
    return 2;
  }
  const std::string kind = argv[1];
  std::string data;
  if (kind == "man")
    data = ManCommandSection();
  else if (kind == "bash")
    data = BashCompletionData();
  else if (kind == "zsh")
    data = ZshCompletionData();
  else if (kind == "fish")
    data = FishCompletionData();
  else {
    std::fprintf(stderr, "tessarook-cli-docs: no such kind: %s\n", argv[1]);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::string templ{std::istreambuf_iterator<char>(in), {}};
  const std::string text = FillTemplate(templ, data);
  if (!in || text.empty()) {
    std::fprintf(stderr, "tessarook-cli-docs: %s has no <<TESSAROOK_CLI_TABLE>> line\n", argv[2]);
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "tessarook-cli-docs: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
