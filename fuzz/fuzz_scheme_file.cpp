// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the scheme file reader, from memory and from a file,
// and checks that both agree and that whatever was read writes back to bytes
// that read as the same Scheme.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scheme/Scheme.h"

using tessarook::CScheme;
using tessarook::SchemeError;

namespace {

const std::string& TempPath() {
  static const std::string path = [] {
    std::string p = "/tmp/fuzz_scheme_file." + std::to_string(getpid()) + ".tsbak";
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CScheme fromMemory;
  fromMemory.AddFileEntry("/sentinel");
  const CScheme before = fromMemory;
  const SchemeError err = fromMemory.ReadFromMemory(data, size);
  if (err != SchemeError::kOk && !(fromMemory == before)) abort();  // a failed read changed it

  FILE* f = std::fopen(TempPath().c_str(), "wb");
  if (f) {
    const bool written = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    if (written) {
      CScheme fromFile = before;
      const SchemeError fileErr = fromFile.Load(TempPath());
      if (fileErr != err) abort();
      if (err == SchemeError::kOk && !(fromFile == fromMemory)) abort();
    }
  }

  if (err == SchemeError::kOk) {
    std::string bytes;
    if (fromMemory.ToBytes(bytes) != SchemeError::kOk) abort();
    CScheme again;
    if (again.ReadFromMemory(bytes.data(), bytes.size()) != SchemeError::kOk) abort();
    if (!(again == fromMemory)) abort();
  }
  return 0;
}
