#include "cancel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace inet {

Canceller::Canceller() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void Canceller::cancel() {
  flag_.store(true, std::memory_order_release);
  if (fd_.valid()) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
  }
}

void Canceller::reset() {
  flag_.store(false, std::memory_order_release);
  if (fd_.valid()) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(fd_.get(), &count, sizeof count);
  }
}

}  // namespace inet
