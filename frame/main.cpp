// tarnwick's entry point. A termination request (SIGTERM from a session that ends, SIGINT from a
// terminal, SIGHUP) closes the program's windows one after the other, innermost first, as their close
// boxes would: a batch ends its transfer, the frame closes, the settings file is written, and the
// program exits 0.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tarnwick/program.h"

namespace {

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

// Waits for a termination signal on a thread of its own (the signals are blocked everywhere else),
// then keeps closing the window the GUI thread runs until the program has ended: windows opened
// meanwhile close as well.
class TerminationWatch {
 public:
  explicit TerminationWatch(ui::ThreadNo gui) : gui_(gui), thread_([this] { watch(); }) {}
  ~TerminationWatch() {
    ended_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);  // wakes sigwait
    thread_.join();
  }

 private:
  void watch() {
    const sigset_t set = terminationSignals();
    int signal = 0;
    if (sigwait(&set, &signal) != 0) return;
    while (!ended_) {
      if (const ui::WindowRef window = ui::windowOf(gui_)) ui::post(window, ui::event::CloseWindow);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  ui::ThreadNo gui_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace

int main() {
  // Before any thread exists, so that every thread inherits the mask and only the watch sees them.
  const sigset_t set = terminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  TerminationWatch watch(ui::currentThread());
  return tarnwick::run();
}
