#include "cli/interrupt_to_stop.h"

#include <pthread.h>

namespace ostrel::cli {

InterruptToStop::InterruptToStop(std::stop_source& source) {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  sigaddset(&signals_, kWakeSignal);
  pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
  waiter_ = std::jthread([this, &source](std::stop_token done) {
    for (;;) {
      const int signal = sigwaitinfo(&signals_, nullptr);
      if (done.stop_requested()) return;
      if (signal == SIGINT || signal == SIGTERM) {
        interrupted_ = true;
        source.request_stop();
      }
    }
  });
}

InterruptToStop::~InterruptToStop() {
  waiter_.request_stop();
  pthread_kill(waiter_.native_handle(), kWakeSignal);
  waiter_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace ostrel::cli
