// A flag that ends a request: set from any thread, seen by the thread that waits on the network.
#pragma once

#include <atomic>

#include "kernel/fd.h"

namespace inet {

class Canceller {
 public:
  Canceller();
  Canceller(const Canceller&) = delete;
  Canceller& operator=(const Canceller&) = delete;

  // False when the system gave no event descriptor (out of descriptors).
  bool usable() const { return fd_.valid(); }
  void cancel();
  // Clears the flag for the next request.
  void reset();
  // Gives the event descriptor back: no request will wait on it again.
  void release() { fd_.reset(); }
  bool cancelled() const { return flag_.load(std::memory_order_acquire); }
  // Readable once cancel() has run: waits on sockets watch it too.
  int fd() const { return fd_.get(); }

 private:
  kernel::UniqueFd fd_;
  std::atomic<bool> flag_{false};
};

}  // namespace inet
