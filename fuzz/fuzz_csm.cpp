// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the Compressed Scheme reader: any input is imported into a scratch
// My Schemes folder. A file the checker refuses must leave that folder empty, an
// accepted one must produce its scheme file, and nothing may appear outside the folder.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "exchange/CsmReader.h"
#include "scheme/SchemePaths.h"

namespace fs = std::filesystem;
using namespace tessarook;

namespace {

const fs::path& Root() {
  static const fs::path root = [] {
    fs::path p = fs::temp_directory_path() / ("fuzz_csm." + std::to_string(::getpid()));
    fs::remove_all(p);
    fs::create_directories(p / "box" / "schemes");
    std::atexit([] { fs::remove_all(Root()); });
    return p;
  }();
  return root;
}

size_t CountEntries(const fs::path& dir) {
  size_t n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path box = Root() / "box";
  const fs::path schemes = box / "schemes";
  const fs::path input = Root() / "input.csm";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  CsmSummary summary;
  const ImportResult checked = CCsmReader::Inspect(input.string(), summary);
  CCsmReader reader(schemes.string());
  const ImportResult result = reader.Run(input.string());

  if (checked == ImportResult::kDamaged) {
    if (result != ImportResult::kDamaged || CountEntries(box) != 1) std::abort();
  } else if (checked != ImportResult::kDone) {
    std::abort();  // the input file itself can always be opened
  } else if (result == ImportResult::kCannotCreateScheme) {
    // Only a name too long for a file name here may fail, and then nothing is made.
    if (summary.name.size() + 20 <= 255 || CountEntries(box) != 1) std::abort();
  } else if (result != ImportResult::kDone) {
    std::abort();
  } else {
    const std::string scheme = SchemeFilePath(schemes.string(), summary.name);
    std::error_code ec;
    if (fs::file_size(scheme, ec) != summary.schemeBytes || ec) std::abort();
    if (!fs::is_directory(BackupsFolderFor(scheme))) std::abort();
    // Only the scheme file and its Backups folder (no staging folder left behind).
    size_t top = 0;
    for (const auto& e : fs::directory_iterator(schemes)) {
      (void)e;
      ++top;
    }
    if (top != 2) std::abort();
  }
  // Nothing escaped the My Schemes folder.
  size_t inBox = 0;
  for (const auto& e : fs::directory_iterator(box)) {
    (void)e;
    ++inBox;
  }
  if (inBox != 1) std::abort();

  fs::remove_all(schemes);
  fs::create_directories(schemes);
  return 0;
}
