// Delivery of the notifications of one session (one root and every handle under it).
//
// Asynchronous sessions queue them for one thread of their own, which calls the callbacks one at a
// time, in the order the events happened. A request issued from inside a callback waits until that
// callback has returned; a worker never waits for a callback, except when too many data blocks are
// queued (so a slow callback bounds a transfer's memory, not the other way round). Synchronous
// sessions call the callbacks at once on the thread that does the work.
#pragma once

#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cancel.h"
#include "handles.h"
#include "last_response.h"

namespace inet {

struct Endpoint;

struct Event {
  enum class Data : uint8_t { None, Count, Result, Address, Text, HandleValue };

  std::shared_ptr<Handle> handle;
  DWORD_PTR context = 0;
  DWORD status = 0;
  Data data = Data::None;
  DWORD count = 0;
  INTERNET_ASYNC_RESULT result{};
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  std::string text;
  HINTERNET handleValue = nullptr;
  bool block = false;                    // one block of a transfer's data
  bool stop = false;                     // the session's last event: the delivery thread ends
  std::optional<LastResponse> response;  // set on the delivering thread before the callback runs
};

class Delivery : public std::enable_shared_from_this<Delivery> {
 public:
  static constexpr size_t kMaxQueuedBlocks = 256;

  // An asynchronous delivery starts its thread; nullptr when no thread could be made.
  static std::shared_ptr<Delivery> make(bool async);

  bool async() const { return async_; }
  void post(Event event);
  // A data block: waits while kMaxQueuedBlocks blocks are still undelivered, unless cancelled.
  void postBlock(Event event, const Canceller* cancel);
  // True on the thread that runs this session's callbacks, while it runs them.
  bool delivering() const;
  // Runs `start` once the callback now running has returned. Only from the delivering thread.
  void defer(std::function<void()> start);
  // Queues the end: the thread leaves after the events queued before it.
  void finish();

 private:
  explicit Delivery(bool async) : async_(async) {}
  void run();
  static void invoke(Event& event);

  const bool async_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable room_;
  std::deque<Event> queue_;
  size_t blocks_ = 0;
  bool finished_ = false;
  std::vector<std::function<void()>> deferred_;  // touched only by the delivering thread
};

}  // namespace inet
