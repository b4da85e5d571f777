#pragma once

#include <signal.h>

#include <atomic>
#include <stop_token>
#include <thread>

namespace ostrel::cli {

// Turns SIGINT and SIGTERM into a stop request for as long as it lives, so an interrupted
// command still finishes cleanly: a scan flushes and closes its result file, an update
// removes its partial files. The signals are blocked in every thread and taken by one
// waiting thread; no handler and no global state is needed. Create it before any other
// thread, so that they inherit the blocked signals.
class InterruptToStop {
 public:
  explicit InterruptToStop(std::stop_source& source);
  ~InterruptToStop();
  InterruptToStop(const InterruptToStop&) = delete;
  InterruptToStop& operator=(const InterruptToStop&) = delete;

  // True once SIGINT or SIGTERM arrived.
  bool interrupted() const { return interrupted_; }

 private:
  // Sent by the destructor to end the wait at once.
  static constexpr int kWakeSignal = SIGUSR1;

  sigset_t signals_{};
  sigset_t previous_{};
  std::atomic<bool> interrupted_{false};
  std::jthread waiter_;
};

}  // namespace ostrel::cli
