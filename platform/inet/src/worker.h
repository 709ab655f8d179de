// Runs a connection's jobs one after the other on a thread of the connection's own. The thread exists
// only while there is work, so idle connections (the client keeps many) cost no thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace inet {

class Worker {
 public:
  // False when no thread could be started; the job is then dropped.
  bool post(std::function<void()> job);

 private:
  struct Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    bool running = false;
  };
  static void drain(const std::shared_ptr<Queue>& queue);

  std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

}  // namespace inet
