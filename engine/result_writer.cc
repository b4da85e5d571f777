#include "engine/result_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "engine/stop_waker.h"
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

ResultWriter::ResultWriter(const std::filesystem::path& path, const StopWaker* waker)
    : waker_(waker) {
  buffer_.reserve(kBufferBytes);
  if (path == "-") {
    fd_ = 1;
    struct stat info {};
    waits_ = waker_ != nullptr && ::fstat(fd_, &info) == 0 &&
             (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
    return;
  }
  // A link is replaced, never followed: the result must not land wherever it points.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      throw ResultWriteError(std::strerror(errno));
    }
  }
  // Non-blocking, so that a FIFO without a reader does not hold the open (ENXIO); we wait
  // for the reader ourselves, where a stop request can end the wait.
  for (;;) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0644);
    if (fd_ >= 0) break;
    if (errno == EINTR) continue;
    if (errno == ENXIO) {
      if (waker_ == nullptr) {
        ::usleep(50 * 1000);
        continue;
      }
      if (!waker_->Sleep(50)) throw ResultWriteError("等待 FIFO 的读取方时分析被停止");
      continue;
    }
    if (errno == EACCES && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      // A read-only older file in a writable folder is replaced, as deleting it would.
      if (::unlink(path.c_str()) == 0) continue;
      errno = EACCES;
    }
    throw ResultWriteError(std::strerror(errno));
  }
  owns_fd_ = true;
  if (::fstat(fd_, &info) != 0) throw ResultWriteError(std::strerror(errno));
  if (S_ISREG(info.st_mode)) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      if (error == EWOULDBLOCK) throw ResultBusyError("另一个分析正在写入此结果文件");
      throw ResultWriteError(std::strerror(error));
    }
    if (::ftruncate(fd_, 0) != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      throw ResultWriteError(std::strerror(error));
    }
  }
  waits_ = waker_ != nullptr && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
  if (!waits_) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  }
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
    std::size_t piece = size;
    if (waits_) {
      if (!waker_->Wait(fd_, POLLOUT)) {
        failure_ = "写入时分析被停止";
        throw ResultWriteError(failure_);
      }
      // A pipe that polls writable takes PIPE_BUF bytes without blocking.
      piece = std::min<std::size_t>(size, PIPE_BUF);
    }
    const ssize_t written = ::write(fd_, data, piece);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
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

ResultFileSink::ResultFileSink(const std::filesystem::path& path, ResultEncoding encoding,
                               const StopWaker* waker)
    : path_(path), encoding_(encoding), writer_(path, waker) {}

void ResultFileSink::Header(std::string_view header) {
  scratch_.clear();
  AppendResultLine(header, encoding_, scratch_);
  writer_.Append(scratch_);
}

void ResultFileSink::Hit(const HitRecord& hit) {
  scratch_.clear();
  AppendResultLine(hit.line, encoding_, scratch_);
  writer_.Append(scratch_);
}

void ResultFileSink::Finish(const RunSummary& /*summary*/) { writer_.Close(); }

std::string ResultFileSink::OutputName() const {
  return path_ == "-" ? std::string("标准输出") : path_.string();
}

}  // namespace ostrel
