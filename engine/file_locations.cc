#include "engine/file_locations.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include "engine/executable_dir.h"

// Where the install rules put the shared data and the documents, relative to the programs.
#ifndef OSTREL_DATA_FROM_BIN
#error "OSTREL_DATA_FROM_BIN must be defined by the build"
#endif
#ifndef OSTREL_DOC_FROM_BIN
#error "OSTREL_DOC_FROM_BIN must be defined by the build"
#endif

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr char kProgramFolder[] = "ostrel";
constexpr char kDefaultDataDirs[] = "/usr/local/share/:/usr/share/";

// Only absolute paths count; the XDG rules say a relative one is to be ignored.
fs::path AbsoluteOrEmpty(std::string_view text) {
  fs::path path(text);
  return path.is_absolute() ? path.lexically_normal() : fs::path();
}

bool IsWritableFolder(const fs::path& folder) {
  // The effective ids decide, as they do for the files the program then creates.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

void AddOnce(std::vector<fs::path>& folders, fs::path folder) {
  folder = folder.lexically_normal();
  // "/usr/share/" and "/usr/share" name one folder.
  if (!folder.has_filename() && folder.has_parent_path() && folder != folder.root_path()) {
    folder = folder.parent_path();
  }
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
    folders.push_back(std::move(folder));
  }
}

std::string GetEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Creates `folder` and its missing parents with mode 0700.
bool CreateFolderChain(const fs::path& folder, std::string* error) {
  if (IsFolder(folder)) return true;
  const fs::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder && !CreateFolderChain(parent, error)) return false;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create the folder " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  if (!IsFolder(folder)) {
    *error = folder.string() + " exists but is not a folder";
    return false;
  }
  return true;
}

}  // namespace

LocationEnvironment ProcessLocationEnvironment() {
  LocationEnvironment environment;
  environment.xdg_data_home = GetEnvironment("XDG_DATA_HOME");
  environment.xdg_data_dirs = GetEnvironment("XDG_DATA_DIRS");
  environment.home = GetEnvironment("HOME");
  if (environment.home.empty()) {
    // getpwuid_r rather than getpwuid: the front ends may have threads by now.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
      environment.home = found->pw_dir;
    }
  }
  return environment;
}

FileLocations FileLocations::Portable(fs::path exe_dir) {
  FileLocations locations;
  locations.portable_ = true;
  locations.exe_dir_ = std::move(exe_dir);
  locations.data_dir_ = locations.exe_dir_;
  locations.ipdb_dirs_ = {locations.exe_dir_};
  return locations;
}

FileLocations FileLocations::Decide(const fs::path& exe_dir,
                                    const LocationEnvironment& environment) {
  const fs::path installed_data = (exe_dir / OSTREL_DATA_FROM_BIN).lexically_normal();
  const bool installed_tree = IsFolder(installed_data);
  if (!installed_tree && IsWritableFolder(exe_dir)) return Portable(exe_dir);

  FileLocations locations;
  locations.portable_ = false;
  locations.exe_dir_ = exe_dir;
  fs::path data_home = AbsoluteOrEmpty(environment.xdg_data_home);
  if (data_home.empty()) {
    const fs::path home = AbsoluteOrEmpty(environment.home);
    if (!home.empty()) data_home = home / ".local" / "share";
  }
  if (!data_home.empty()) {
    locations.data_dir_ = data_home / kProgramFolder;
    AddOnce(locations.ipdb_dirs_, locations.data_dir_);
  }

  std::string_view dirs = environment.xdg_data_dirs;
  if (dirs.empty()) dirs = kDefaultDataDirs;
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const fs::path dir = AbsoluteOrEmpty(dirs.substr(0, colon));
    if (!dir.empty()) AddOnce(locations.ipdb_dirs_, dir / kProgramFolder);
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  if (installed_tree) AddOnce(locations.ipdb_dirs_, installed_data);
  AddOnce(locations.ipdb_dirs_, exe_dir);

  const fs::path doc_dir = (exe_dir / OSTREL_DOC_FROM_BIN).lexically_normal();
  if (IsFolder(doc_dir)) locations.doc_dir_ = doc_dir;
  return locations;
}

FileLocations FileLocations::ForThisProcess() {
  return Decide(ExecutableDir(), ProcessLocationEnvironment());
}

std::optional<fs::path> FileLocations::FindIpDatabase() const {
  for (const fs::path& folder : ipdb_dirs_) {
    const fs::path candidate = folder / "QQWry.dat";
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

fs::path FileLocations::ResultFile() const {
  return data_dir_.empty() ? fs::path() : data_dir_ / "1.log";
}

fs::path FileLocations::HelpFile() const {
  if (!portable_ && !doc_dir_.empty()) {
    const fs::path installed = doc_dir_ / "help.html";
    std::error_code error;
    if (fs::exists(installed, error)) return installed;
  }
  return exe_dir_ / "help.html";
}

bool FileLocations::CreateDataDir(std::string* error) const {
  if (data_dir_.empty()) {
    *error = "no folder for the user's files: neither XDG_DATA_HOME nor HOME is set";
    return false;
  }
  return CreateFolderChain(data_dir_, error);
}

}  // namespace ostrel
