#include "worker.h"

#include "threads.h"

namespace inet {

bool Worker::post(std::function<void()> job) {
  std::shared_ptr<Queue> queue = queue_;
  std::lock_guard lock(queue->mutex);
  if (queue->stopping) return false;
  queue->jobs.push_back(std::move(job));
  if (queue->started) {
    queue->changed.notify_one();
    return true;
  }
  queue->started = true;
  if (spawn([queue] { serve(queue); })) return true;
  queue->started = false;
  queue->jobs.pop_back();
  return false;
}

void Worker::stop() {
  std::lock_guard lock(queue_->mutex);
  queue_->stopping = true;
  queue_->changed.notify_one();
}

void Worker::serve(const std::shared_ptr<Queue>& queue) {
  std::unique_lock lock(queue->mutex);
  for (;;) {
    queue->changed.wait(lock, [&] { return !queue->jobs.empty() || queue->stopping; });
    if (queue->jobs.empty()) return;  // stopping, and nothing left to run
    std::function<void()> job = std::move(queue->jobs.front());
    queue->jobs.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what it captured goes before the next wait
    lock.lock();
  }
}

}  // namespace inet
