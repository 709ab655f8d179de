// A program's termination request (SIGTERM from a session that ends, SIGINT from a terminal, SIGHUP)
// closes the windows the GUI thread runs, innermost first, as their close boxes would: a batch ends
// its transfer, a frame closes and writes its settings, and the program then ends normally.
#pragma once

#include <atomic>
#include <thread>

#include "ui/runtime.h"

namespace ui {

// Catches the three signals for as long as it lives (one per process). After a signal, a thread of
// its own keeps posting a close to the window in front of `gui` until the watch is destroyed, so a
// window that opens after the signal closes too.
class UIRT_API TerminationWatch {
 public:
  explicit TerminationWatch(ThreadNo gui);
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

  // Whether a signal came.
  bool signalled() const { return signalled_; }

 private:
  void watch();

  ThreadNo gui_;
  std::atomic<bool> ended_{false};
  std::atomic<bool> signalled_{false};
  std::thread thread_;
};

}  // namespace ui
