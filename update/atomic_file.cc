#include "update/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace ostrel {
namespace {

std::string ErrorText(std::string_view what, const std::filesystem::path& path, int error) {
  return std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

mode_t NewFileMode() {
  // Read the umask from /proc rather than by setting it: umask() changes process-wide
  // state that other threads may be relying on at the same moment.
  mode_t mask = 022;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> status(
      std::fopen("/proc/self/status", "re"), &std::fclose);
  if (status != nullptr) {
    char line[256];
    while (std::fgets(line, sizeof line, status.get()) != nullptr) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value & 0777);
        break;
      }
    }
  }
  return 0644 & ~mask;
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_path_.empty()) {
    ::unlink(temp_path_.c_str());
    temp_path_.clear();
  }
}

bool AtomicFile::Open(const std::filesystem::path& target, std::string* error) {
  Discard();
  target_ = target;
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // A dot file, so a half-written download does not look like a finished one.
  std::string pattern = (folder / ("." + target.filename().string() + ".part-XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = ErrorText("cannot create a temporary file for", target, errno);
    return false;
  }
  fd_ = fd;
  temp_path_ = name.data();
  return true;
}

bool AtomicFile::Write(std::string_view bytes, std::string* error) {
  if (fd_ < 0) {
    *error = "no file open for " + target_.string();
    return false;
  }
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      *error = ErrorText("cannot write", target_, errno);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool AtomicFile::Commit(std::string* error) {
  if (fd_ < 0) {
    *error = "no file open for " + target_.string();
    return false;
  }
  struct stat old_state {};
  const mode_t mode =
      ::stat(target_.c_str(), &old_state) == 0 ? (old_state.st_mode & 07777) : NewFileMode();
  if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) {
    *error = ErrorText("cannot write", target_, errno);
    Discard();
    return false;
  }
  const int close_result = ::close(fd_);
  fd_ = -1;
  if (close_result != 0) {
    *error = ErrorText("cannot write", target_, errno);
    Discard();
    return false;
  }
  if (::rename(temp_path_.c_str(), target_.c_str()) != 0) {
    *error = ErrorText("cannot replace", target_, errno);
    Discard();
    return false;
  }
  temp_path_.clear();
  return true;
}

}  // namespace ostrel
