#pragma once
// Runs the built tessarook-cli in a temporary folder and captures what it says.

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
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs tessarook-cli with args from the folder cwd; stdin is empty.
Result RunCli(const std::vector<std::string>& args, const std::string& cwd);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace tessarook::clitest
