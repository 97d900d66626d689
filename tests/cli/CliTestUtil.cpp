#include "CliTestUtil.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace tessarook::clitest {

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

}  // namespace

TempDir::TempDir() {
  std::random_device rd;
  path_ = (fs::temp_directory_path() /
           ("tessarook-cli-" + std::to_string(rd()) + "-" + std::to_string(rd())))
              .string();
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

Result RunCli(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir capture;
  std::string cmd = "cd " + Quote(cwd) + " && " + Quote(TESSAROOK_CLI);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " </dev/null >" + Quote(capture / "out") + " 2>" + Quote(capture / "err");
  Result r;
  const int raw = std::system(cmd.c_str());
  r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(capture / "out");
  r.err = ReadFile(capture / "err");
  return r;
}

}  // namespace tessarook::clitest
