// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small file helpers shared by the exchange, library and monitor suites.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace tessarook::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    m_path = fs::temp_directory_path() /
             ("tessarook-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
  }
  const fs::path& path() const { return m_path; }
  std::string operator/(const std::string& rel) const { return (m_path / rel).string(); }

 private:
  fs::path m_path;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// Every entry below `root`: relative path -> contents ("<dir>" for folders).
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), root).string();
    tree[rel] = it->is_directory() ? "<dir>" : ReadFile(it->path().string());
  }
  return tree;
}

inline std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

inline std::string Field(const std::string& text) { return U32(text.size()) + text; }

// Runs a shell command line; returns its exit status and collects its stdout.
inline int RunCommand(const std::string& commandLine, std::string* out = nullptr) {
  FILE* p = ::popen(commandLine.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

}  // namespace tessarook::testing
