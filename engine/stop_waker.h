#pragma once

// Lets blocking input and output end when a run is asked to stop: an eventfd that becomes
// readable at the stop request, which every wait on a pipe, terminal or FIFO polls beside
// the descriptor it waits for.

#include <functional>
#include <stop_token>

namespace ostrel {

class StopWaker {
 public:
  // Watches `stop` for as long as the waker lives. Without an eventfd (lack of
  // descriptors) waits still end, at the latest within their poll interval.
  explicit StopWaker(std::stop_token stop);
  ~StopWaker();
  StopWaker(const StopWaker&) = delete;
  StopWaker& operator=(const StopWaker&) = delete;

  bool stop_requested() const { return stop_.stop_requested(); }

  // Waits until `fd` is ready for `events` (poll's POLLIN or POLLOUT), or up to
  // `timeout_ms` (-1: no limit). Gives false when a stop was requested first. Never throws.
  bool Wait(int fd, short events, int timeout_ms = -1) const;

  // Sleeps `timeout_ms` or until a stop request; false on a stop request.
  bool Sleep(int timeout_ms) const;

 private:
  std::stop_token stop_;
  int event_fd_ = -1;
  std::stop_callback<std::function<void()>> wake_;
};

}  // namespace ostrel
