#include "threads.h"

#include <openssl/crypto.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "inet/options.h"

namespace inet {
namespace {

struct Census {
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
};

// Never destroyed: a thread may still be finishing while the process exits.
Census& census() {
  static auto* c = new Census;
  return *c;
}

void leave() {
  Census& c = census();
  std::lock_guard lock(c.mutex);
  --c.running;
  c.changed.notify_all();
}

}  // namespace

bool spawn(std::function<void()> fn) {
  Census& c = census();
  {
    std::lock_guard lock(c.mutex);
    ++c.running;
  }
  try {
    std::thread([fn = std::move(fn)]() mutable {
      fn();
      fn = nullptr;  // what it captured goes before the thread counts as ended
      // And so does OpenSSL's state of this thread. Left to the thread's own end, it would be freed
      // after the count says the thread is gone, while a program that waited for that count may
      // already be exiting.
      OPENSSL_thread_stop();
      leave();
    }).detach();
  } catch (const std::system_error&) {
    leave();
    return false;
  }
  return true;
}

int activeThreads() {
  Census& c = census();
  std::lock_guard lock(c.mutex);
  return c.running;
}

bool waitForThreads(int count, std::chrono::milliseconds limit) {
  Census& c = census();
  std::unique_lock lock(c.mutex);
  return c.changed.wait_for(lock, limit, [&] { return c.running <= count; });
}

}  // namespace inet
