// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the built tessarook-cli in a temporary folder and captures what it says.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tessarook::clitest {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = (std::filesystem::temp_directory_path() /
             ("tessarook-cli-" + std::to_string(rd()) + std::to_string(rd())))
                .string();
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ShellQuote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs `program` with args in the folder cwd; stdin is empty. `prefix` is put
// before the program as it stands ("NAME=value ...", "env -u NAME ...",
// quoted by the caller).
inline Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::string& prefix) {
  TempDir capture;
  std::string cmd = "cd " + ShellQuote(cwd) + " && " + prefix + " " + ShellQuote(program);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  cmd += " </dev/null >" + ShellQuote(capture / "out") + " 2>" + ShellQuote(capture / "err");
  const int raw = std::system(cmd.c_str());
  Result r;
  r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(capture / "out");
  r.err = ReadFile(capture / "err");
  return r;
}

// Runs tessarook-cli with args in the folder cwd; `env` as RunProgram's prefix.
inline Result RunCli(const std::vector<std::string>& args, const std::string& cwd,
                     const std::string& env = "") {
  return RunProgram(TESSAROOK_CLI, args, cwd, env);
}

}  // namespace tessarook::clitest
