// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers for the Backups suites: scratch folders, files, and the independent
// ZIP readers (Info-ZIP's `unzip -t` and Python's zipfile) used as oracles.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace backup_test {

namespace fs = std::filesystem;

// Sanitizer builds skip the tests that move gigabytes.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// A scratch folder removed when the object goes.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() /
            ("tessarook-backup-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
};

// Runs a shell command, capturing stdout (stderr goes to `errFile` if given).
inline RunResult Shell(const std::string& command) {
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  return r;
}

// Info-ZIP's verdict on an archive.
inline bool UnzipAccepts(const std::string& zip) {
  return Shell("unzip -tqq " + Quote(zip) + " >/dev/null 2>&1").status == 0;
}

// Python's zipfile reads the archive, checks every CRC and extracts it into
// `into`; returns the entry names in archive order, one per line. The status
// is non-zero when Python finds the archive bad.
inline RunResult PythonExtract(const std::string& zip, const std::string& into) {
  return Shell("python3 -c " +
               Quote("import sys, zipfile\n"
                     "z = zipfile.ZipFile(sys.argv[1])\n"
                     "bad = z.testzip()\n"
                     "if bad is not None: sys.exit('bad entry ' + bad)\n"
                     "z.extractall(sys.argv[2])\n"
                     "print('\\n'.join(z.namelist()))\n") +
               " " + Quote(zip) + " " + Quote(into) + " 2>/dev/null");
}

// Makes the Backup at `zip` look as if taken on another machine: the
// machine identity in its taken record (tag "Tr", kind 2) is overwritten.
// False when it holds no taken record.
inline bool PretendTakenElsewhere(const std::string& zip) {
  std::string bytes = ReadFile(zip);
  const std::string marker("\x54\x72\x1a\x00\x01\x02", 6);  // tag, length 26, version 1, kind 2
  const size_t at = bytes.rfind(marker);
  if (at == std::string::npos) return false;
  bytes.replace(at + marker.size() + 8, 16, std::string(16, 'x'));
  WriteFile(zip, bytes);
  return true;
}

inline bool HaveTool(const std::string& tool) {
  return Shell("command -v " + tool + " >/dev/null 2>&1").status == 0;
}

// What the standard readers find wrong with an archive whose entries should
// hold `expected` (name -> bytes; entries not named are not compared): each
// of Info-ZIP's unzip, 7-Zip and bsdtar tests or extracts it, and Python's
// zipfile checks every CRC and reads every entry. Empty when all agree.
// A reader that is not installed is left out and named in `missing`.
inline std::vector<std::string> StandardReaderComplaints(
    const std::string& zip, const std::vector<std::pair<std::string, std::string>>& expected,
    const std::string& scratch, std::vector<std::string>* missing = nullptr) {
  std::vector<std::string> out;
  if (!UnzipAccepts(zip)) out.push_back("unzip -t fails");
  if (HaveTool("7zz")) {
    const RunResult r = Shell("7zz t -bd " + Quote(zip) + " 2>&1");
    if (r.status != 0 || r.out.find("Everything is Ok") == std::string::npos ||
        r.out.find("Warnings") != std::string::npos)
      out.push_back("7zz t: " + r.out);
  } else if (missing) {
    missing->push_back("7zz");
  }
  auto compare = [&](const std::string& tool, const std::string& folder) {
    for (const auto& [name, bytes] : expected)
      if (ReadFile(folder + "/" + name) != bytes)
        out.push_back(tool + " gives other bytes for " + name);
  };
  if (HaveTool("bsdtar")) {
    const std::string into = scratch + "/bsdtar";
    fs::create_directories(into);
    if (Shell("bsdtar -xf " + Quote(zip) + " -C " + Quote(into) + " 2>&1").status != 0)
      out.push_back("bsdtar -x fails");
    compare("bsdtar", into);
  } else if (missing) {
    missing->push_back("bsdtar");
  }
  const std::string into = scratch + "/python";
  if (PythonExtract(zip, into).status != 0) out.push_back("Python's zipfile finds it bad");
  compare("Python", into);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace backup_test
