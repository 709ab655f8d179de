// Runs a connection's requests one after the other on a thread of its own, which starts with the first
// job and ends at stop(), once the jobs posted before have run. A worker belongs to the logged-on control
// connection, not to one handle: a connection kept after its handle closed takes its worker into the
// pool and on to the handle that takes it again, so a batch of many files runs on one thread, not one
// per request. It stops when its control connection closes: with its handle, or in the pool (expired,
// found dead, or making room).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace inet {

class Worker {
 public:
  Worker() = default;
  ~Worker() { stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // False when no thread could be started, or the worker was stopped; the job is then dropped.
  bool post(std::function<void()> job);
  // The thread ends once the jobs posted before have run. Never waits: it may be called from a job.
  void stop();

 private:
  struct Queue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    bool started = false;
    bool stopping = false;
  };
  static void serve(const std::shared_ptr<Queue>& queue);

  std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

}  // namespace inet
