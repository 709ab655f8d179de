#include "batch/run.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace batch {

Run TheRun;

Run::~Run() {
  stop();
  if (retryThread_.joinable()) retryThread_.join();
}

void Run::begin() {
  stop();  // a run that was never ended, or whose wait ran out
  if (retryThread_.joinable()) retryThread_.join();
  {
    std::lock_guard lock(mutex_);
    running_ = true;
    floor_ = std::numeric_limits<uint32_t>::max();  // until the run has a session of its own
    pending_ = 0;
    inFlight_ = Request::None;
    pause_ = std::chrono::milliseconds{0};
    retries_.clear();
    closing_.clear();
    retiring_ = 0;
  }
  retryThread_ = std::thread([this] { retryLoop(); });
}

void Run::setFloor(uint32_t handle) {
  std::lock_guard lock(mutex_);
  floor_ = handle;
}

void Run::stop() {
  std::lock_guard lock(mutex_);
  running_ = false;
  retries_.clear();
  retriesChanged_.notify_all();
}

bool Run::waitIdle(std::chrono::milliseconds patience) {
  bool idle;
  {
    std::unique_lock lock(mutex_);
    idle = settled_.wait_for(lock, patience, [this] { return busy_ == 0 && pending_ == 0; });
  }
  // The retry thread only waits or takes a Step, and steps end once the handles are closed.
  if (idle && retryThread_.joinable()) retryThread_.join();
  return idle;
}

bool Run::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool Run::enter(uint32_t handle) {
  {
    std::lock_guard lock(mutex_);
    if (!running_ || (handle != 0 && handle < floor_)) return false;
    ++busy_;
  }
  stepMutex_.lock();
  return true;
}

void Run::leave() {
  stepMutex_.unlock();
  std::lock_guard lock(mutex_);
  --busy_;
  settled_.notify_all();
}

Run::Step::Step(Run& run, uint32_t handle) : run_(run), entered_(run.enter(handle)) {}

Run::Step::~Step() {
  if (entered_) run_.leave();
}

void Run::issued(Request kind) {
  std::lock_guard lock(mutex_);
  ++pending_;
  inFlight_ = kind;
}

void Run::settledAtOnce() {
  std::lock_guard lock(mutex_);
  if (pending_ > 0) --pending_;
  inFlight_ = Request::None;
  settled_.notify_all();
}

Run::Request Run::completed(uint32_t handle) {
  std::lock_guard lock(mutex_);
  if (handle != 0 && handle < floor_) return Request::None;
  if (pending_ > 0) --pending_;
  settled_.notify_all();
  return std::exchange(inFlight_, Request::None);
}

void Run::after(std::chrono::milliseconds delay, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  if (!running_) return;
  retries_.emplace(std::chrono::steady_clock::now() + delay, std::move(action));
  retriesChanged_.notify_all();
}

void Run::closing(uint32_t connection) {
  std::lock_guard lock(mutex_);
  closing_.push_back(connection);
}

void Run::closed(uint32_t connection) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(closing_.begin(), closing_.end(), connection);
  if (it == closing_.end()) return;
  closing_.erase(it);
  settled_.notify_all();
}

void Run::awaitRetired(uint32_t connection) {
  std::lock_guard lock(mutex_);
  retiring_ = connection;
}

bool Run::takeRetired(uint32_t connection) {
  std::lock_guard lock(mutex_);
  if (connection == 0 || retiring_ != connection) return false;
  retiring_ = 0;
  return true;
}

bool Run::waitClosed(std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  const bool gone = settled_.wait_for(lock, patience, [this] { return closing_.empty(); });
  closing_.clear();  // what did not close in time is not waited for again
  return gone;
}

bool Run::adopt(std::atomic<uint32_t>& slot, HINTERNET handle) {
  {
    std::lock_guard lock(mutex_);
    if (running_) {
      slot = INET_HANDLE_ID(handle);
      return true;
    }
  }
  if (handle) InternetCloseHandle(handle);
  return false;
}

std::chrono::milliseconds Run::nextPause() {
  std::lock_guard lock(mutex_);
  pause_ = pause_.count() == 0 ? kFirstPause : std::min(pause_ * 2, kLongestPause);
  return pause_;
}

void Run::connected() {
  std::lock_guard lock(mutex_);
  pause_ = std::chrono::milliseconds{0};
}

void Run::retryLoop() {
  retryThreadId_ = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  while (running_) {
    if (retries_.empty()) {
      retriesChanged_.wait(lock);
      continue;
    }
    const auto next = retries_.begin();
    // A copy: while the wait lets the lock go, stop() may free the retry, due time and all.
    const std::chrono::steady_clock::time_point due = next->first;
    if (std::chrono::steady_clock::now() < due) {
      retriesChanged_.wait_until(lock, due);
      continue;  // due, stopped, or an earlier retry queued: look again
    }
    std::function<void()> action = std::move(next->second);
    retries_.erase(next);
    lock.unlock();
    action();
    lock.lock();
  }
  // Thread ids are reused once a thread has ended: a delivery thread started later must not pass
  // for this one.
  retryThreadId_ = std::thread::id{};
}

}  // namespace batch
