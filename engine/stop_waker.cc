#include "engine/stop_waker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ostrel {
namespace {

// Without an eventfd, waits look at the stop token this often.
constexpr int kFallbackPollMs = 100;

}  // namespace

StopWaker::StopWaker(std::stop_token stop)
    : stop_(stop), event_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), wake_(stop, [this] {
        if (event_fd_ >= 0) {
          const std::uint64_t one = 1;
          [[maybe_unused]] const ssize_t written = ::write(event_fd_, &one, sizeof one);
        }
      }) {}

StopWaker::~StopWaker() {
  if (event_fd_ >= 0) ::close(event_fd_);
}

bool StopWaker::Wait(int fd, short events, int timeout_ms) const {
  for (;;) {
    if (stop_.stop_requested()) return false;
    pollfd fds[2] = {{fd, events, 0}, {event_fd_, POLLIN, 0}};
    const int nfds = event_fd_ >= 0 ? 2 : 1;
    int wait = timeout_ms;
    if (event_fd_ < 0 && (wait < 0 || wait > kFallbackPollMs)) wait = kFallbackPollMs;
    const int rc = ::poll(fds, static_cast<nfds_t>(nfds), wait);
    if (rc < 0 && errno == EINTR) continue;
    if (stop_.stop_requested()) return false;
    if (rc < 0) return true;  // let the caller's read or write report the error
    if (fds[0].revents != 0) return true;
    if (rc == 0 && wait == timeout_ms) return true;  // the caller's own time-out
  }
}

bool StopWaker::Sleep(int timeout_ms) const {
  if (stop_.stop_requested()) return false;
  if (event_fd_ < 0) {
    ::usleep(static_cast<useconds_t>(timeout_ms) * 1000);
  } else {
    pollfd wake{event_fd_, POLLIN, 0};
    while (::poll(&wake, 1, timeout_ms) < 0 && errno == EINTR) {
    }
  }
  return !stop_.stop_requested();
}

}  // namespace ostrel
