#include "worker.h"

#include "threads.h"

namespace inet {

bool Worker::post(std::function<void()> job) {
  std::shared_ptr<Queue> queue = queue_;
  std::lock_guard lock(queue->mutex);
  queue->jobs.push_back(std::move(job));
  if (queue->running) return true;
  queue->running = true;
  if (spawn([queue] { drain(queue); })) return true;
  queue->running = false;
  queue->jobs.pop_back();
  return false;
}

void Worker::drain(const std::shared_ptr<Queue>& queue) {
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard lock(queue->mutex);
      if (queue->jobs.empty()) {
        queue->running = false;
        return;
      }
      job = std::move(queue->jobs.front());
      queue->jobs.pop_front();
    }
    job();
  }
}

}  // namespace inet
