#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// The environment variables the file locations depend on, each empty when unset.
struct LocationEnvironment {
  std::string xdg_data_home;
  std::string xdg_data_dirs;
  std::string home;
};

// The running process's values; HOME falls back to the user's home folder in the password
// database when the variable is unset.
LocationEnvironment ProcessLocationEnvironment();

// Where the program finds and keeps its files, decided once at start-up for both front ends
// and the updater. There are two layouts:
//
// - Portable (a build tree or an unpacked copy): QQWry.dat, 1.log, 1.xlsx, update.ini,
//   tmp.ini, the downloads and help.html all live in the executable's folder.
// - Installed: the executable's folder is not writable by the user, or it has an installed
//   tree beside it (`../share/ostrel`, which the install rules create), so a root user of a
//   system-wide copy does not write into /usr/bin either. Each user's files live in
//   $XDG_DATA_HOME/ostrel (default ~/.local/share/ostrel). QQWry.dat is looked up there,
//   then in each $XDG_DATA_DIRS/ostrel (default /usr/local/share and /usr/share), then in
//   the installed tree's share/ostrel, then beside the executable; help.html comes from the
//   installed tree's share/doc/ostrel.
class FileLocations {
 public:
  // The portable layout over `exe_dir`, whatever its permissions.
  static FileLocations Portable(std::filesystem::path exe_dir);

  // Decides the layout for a program in `exe_dir` (absolute) under `environment`. Looks at
  // the file system only to test whether `exe_dir` is writable and whether the installed
  // tree exists; creates nothing. Relative XDG paths are ignored, as the XDG rules say.
  static FileLocations Decide(const std::filesystem::path& exe_dir,
                              const LocationEnvironment& environment);

  // Decide for the running executable's folder and the process environment.
  static FileLocations ForThisProcess();

  // True for the portable layout.
  bool portable() const { return portable_; }
  const std::filesystem::path& exe_dir() const { return exe_dir_; }

  // The folder the program writes into: 1.log, 1.xlsx, update.ini, tmp.ini and downloads.
  // Empty only when installed and neither XDG_DATA_HOME nor HOME names a folder.
  const std::filesystem::path& data_dir() const { return data_dir_; }

  // The folders searched for QQWry.dat, in order, each once.
  const std::vector<std::filesystem::path>& ipdb_dirs() const { return ipdb_dirs_; }

  // The first QQWry.dat in ipdb_dirs() that exists (a file or a link to one), or nothing.
  std::optional<std::filesystem::path> FindIpDatabase() const;

  // The default result file, data_dir()/1.log; empty when data_dir() is.
  std::filesystem::path ResultFile() const;

  // The usage guide help.html: beside the executable when portable, else in the installed
  // tree's share/doc/ostrel when it is there, else beside the executable.
  std::filesystem::path HelpFile() const;

  // Makes sure data_dir() exists as a folder, creating every missing level with mode 0700
  // (the XDG rule for a user's data folders). Gives false and sets `error` (naming the
  // folder) when it cannot; never changes the mode of a folder that already exists.
  bool CreateDataDir(std::string* error) const;

 private:
  FileLocations() = default;

  bool portable_ = true;
  std::filesystem::path exe_dir_;
  std::filesystem::path data_dir_;
  std::filesystem::path doc_dir_;  // the installed tree's share/doc/ostrel; empty if none
  std::vector<std::filesystem::path> ipdb_dirs_;
};

}  // namespace ostrel
