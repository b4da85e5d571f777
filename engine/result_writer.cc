#include "engine/result_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipdb/gbk.h"

namespace ostrel {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

}  // namespace

void AppendResultLine(std::string_view line, ResultEncoding encoding, std::string& out) {
  if (encoding == ResultEncoding::kGbk) {
    out += Utf8ToGbk(line);
  } else {
    out += line;
  }
  out += "\r\n";
}

ResultWriter::ResultWriter(const std::filesystem::path& path) {
  buffer_.reserve(kBufferBytes);
  if (path == "-") {
    fd_ = 1;
    return;
  }
  // Only an older regular file is deleted: a device or a pipe named as the result is
  // written to, never removed.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      throw ResultWriteError(std::strerror(errno));
    }
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw ResultWriteError(std::strerror(errno));
  owns_fd_ = true;
}

ResultWriter::~ResultWriter() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

void ResultWriter::Append(std::string_view bytes) {
  if (!failure_.empty()) throw ResultWriteError(failure_);
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    Flush();
    if (bytes.size() >= kBufferBytes) {
      WriteOut(bytes.data(), bytes.size());
      return;
    }
  }
  buffer_ += bytes;
}

void ResultWriter::Flush() {
  if (!failure_.empty()) throw ResultWriteError(failure_);
  if (buffer_.empty()) return;
  WriteOut(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void ResultWriter::WriteOut(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      failure_ = std::strerror(errno);
      throw ResultWriteError(failure_);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void ResultWriter::Close() {
  if (fd_ < 0) {
    if (!failure_.empty()) throw ResultWriteError(failure_);
    return;
  }
  try {
    Flush();
  } catch (...) {
    if (owns_fd_) ::close(fd_);
    fd_ = -1;
    throw;
  }
  if (owns_fd_) {
    const int fd = fd_;
    fd_ = -1;
    // close() reports delayed write errors (NFS, quota); they count as a failed write.
    if (::close(fd) != 0 && errno != EINTR) {
      failure_ = std::strerror(errno);
      throw ResultWriteError(failure_);
    }
  } else {
    fd_ = -1;
  }
}

}  // namespace ostrel
