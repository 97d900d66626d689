// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/UserPlaces.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "util/PathUtil.h"

namespace tessarook {

namespace {

constexpr char kProgramFolder[] = "tessarook";

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An XDG variable's value when it is usable: set, not empty, absolute.
std::string AbsoluteVariable(const EnvLookup& env, const char* name) {
  const char* value = env(name);
  if (value == nullptr || value[0] != '/') return {};
  return WithoutTrailingSlash(value);
}

std::string HomeFolder(const EnvLookup& env) {
  std::string home = AbsoluteVariable(env, "HOME");
  if (!home.empty()) return home;
  // No usable HOME (a bare service environment): the account's own.
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return WithoutTrailingSlash(found->pw_dir);
  return "/";
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

SUserPlaces FindUserPlaces(const std::string& programDir, const EnvLookup& env) {
  SUserPlaces places;
  const std::string program = WithoutTrailingSlash(programDir.empty() ? "." : programDir);
  const std::string besideProgram = Join(program, "settings.xml");

  std::string configHome = AbsoluteVariable(env, "XDG_CONFIG_HOME");
  std::string dataHome = AbsoluteVariable(env, "XDG_DATA_HOME");
  if (configHome.empty() || dataHome.empty()) {
    const std::string home = HomeFolder(env);
    if (configHome.empty()) configHome = Join(home, ".config");
    if (dataHome.empty()) dataHome = Join(home, ".local/share");
  }
  places.configDir = Join(configHome, kProgramFolder);
  places.profileFile = Join(places.configDir, "profile.conf");

  places.portable = IsRegularFile(besideProgram);
  if (places.portable) {
    places.settingsFile = besideProgram;
    places.defaultSchemesDir = Join(program, "My Schemes");
  } else {
    places.settingsFile = Join(places.configDir, "settings.xml");
    places.defaultSchemesDir = Join(Join(dataHome, kProgramFolder), "My Schemes");
  }

  const std::string runtime = AbsoluteVariable(env, "XDG_RUNTIME_DIR");
  places.lockDir = !runtime.empty() && IsFolder(runtime) ? runtime : places.configDir;
  return places;
}

SUserPlaces FindUserPlaces() {
  return FindUserPlaces(MakeModulePath(""), [](const char* name) { return std::getenv(name); });
}

std::string ErrnoText(int err) {
  std::string text = std::generic_category().message(err);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

namespace {

// Creates the missing levels of `folder` from the top. On failure tells the
// level that could not be made and the errno.
bool MakeFolders(const std::string& folder, mode_t mode, std::string& failedAt, int& cause) {
  if (IsFolder(folder)) return true;
  size_t from = 0;
  while (from <= folder.size()) {
    size_t slash = folder.find('/', from);
    if (slash == std::string::npos) slash = folder.size();
    const std::string prefix = folder.substr(0, slash);
    from = slash + 1;
    if (prefix.empty() || prefix.back() == '/') continue;  // the root, or a doubled "/"
    if (::mkdir(prefix.c_str(), mode) == 0) continue;
    const int err = errno;
    if (err == EEXIST && IsFolder(prefix)) continue;
    failedAt = WithoutTrailingSlash(prefix);
    cause = err == EEXIST ? ENOTDIR : err;  // a file stands where a folder goes
    return false;
  }
  if (IsFolder(folder)) return true;
  failedAt = WithoutTrailingSlash(folder);
  cause = ENOTDIR;
  return false;
}

// "cannot create the <what> F: cause", naming the level that failed when it
// is not F itself.
std::string CreateError(const std::string& what, const std::string& folder,
                        const std::string& failedAt, int cause) {
  const std::string target = WithoutTrailingSlash(folder);
  std::string text = "cannot create the " + what + " " + target + ": ";
  if (failedAt != target) text += failedAt + ": ";
  return text + ErrnoText(cause);
}

}  // namespace

bool CreateFolderPath(const std::string& folder, mode_t mode, std::string* error) {
  std::string failedAt;
  int cause = 0;
  if (!folder.empty() && MakeFolders(folder, mode, failedAt, cause)) return true;
  if (error)
    *error =
        folder.empty() ? "no folder was named" : CreateError("folder", folder, failedAt, cause);
  return false;
}

bool PrepareSchemesFolder(const std::string& folder, std::string* error) {
  std::string failedAt;
  int cause = 0;
  if (folder.empty()) {
    if (error) *error = "no My Schemes folder is set";
    return false;
  }
  // Made private: it holds the user's Backups (see util/PrivateFiles.h).
  if (!MakeFolders(folder, 0700, failedAt, cause)) {
    if (error) *error = CreateError("My Schemes folder", folder, failedAt, cause);
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    const int err = errno;
    if (error)
      *error = "the My Schemes folder " + WithoutTrailingSlash(folder) +
               " cannot be written: " + ErrnoText(err);
    return false;
  }
  return true;
}

}  // namespace tessarook
