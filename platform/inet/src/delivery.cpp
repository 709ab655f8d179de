#include "delivery.h"

#include "threads.h"

namespace inet {
namespace {
thread_local const Delivery* t_delivering = nullptr;
}

std::shared_ptr<Delivery> Delivery::make(bool async) {
  std::shared_ptr<Delivery> d(new Delivery(async));
  if (async && !spawn([d] { d->run(); })) return nullptr;
  return d;
}

void Delivery::invoke(Event& e) {
  if (e.response) setLastResponse(std::move(*e.response));
  INTERNET_STATUS_CALLBACK cb = e.handle->callback.load();
  if (e.context == 0 || cb == nullptr || cb == INTERNET_INVALID_STATUS_CALLBACK) return;
  void* info = nullptr;
  DWORD length = 0;
  switch (e.data) {
    case Event::Data::None:
      break;
    case Event::Data::Count:
      info = &e.count;
      length = sizeof e.count;
      break;
    case Event::Data::Result:
      info = &e.result;
      length = sizeof e.result;
      break;
    case Event::Data::Address:
      info = &e.address;
      length = e.addressLength;
      break;
    case Event::Data::Text:
      info = e.text.data();
      length = static_cast<DWORD>(e.text.size() + 1);
      break;
    case Event::Data::HandleValue:
      info = &e.handleValue;
      length = sizeof e.handleValue;
      break;
  }
  cb(e.handle->value(), e.context, e.status, info, length);
}

void Delivery::post(Event event) {
  if (!async_) {
    invoke(event);
    return;
  }
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(event));
  wake_.notify_one();
}

void Delivery::postBlock(Event event, const Canceller* cancel) {
  if (!async_) {
    invoke(event);
    return;
  }
  event.block = true;
  std::unique_lock lock(mutex_);
  if (t_delivering != this) {
    // The canceller does not know this condition: look at it now and then.
    while (blocks_ >= kMaxQueuedBlocks && !finished_ && !(cancel && cancel->cancelled()))
      room_.wait_for(lock, std::chrono::milliseconds(50));
  }
  ++blocks_;
  queue_.push_back(std::move(event));
  wake_.notify_one();
}

bool Delivery::delivering() const { return t_delivering == this; }

void Delivery::defer(std::function<void()> start) { deferred_.push_back(std::move(start)); }

void Delivery::finish() {
  if (!async_) return;
  Event stop;
  stop.stop = true;
  std::lock_guard lock(mutex_);
  finished_ = true;
  queue_.push_back(std::move(stop));
  wake_.notify_one();
  room_.notify_all();
}

void Delivery::run() {
  t_delivering = this;
  for (;;) {
    Event event;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return !queue_.empty(); });
      event = std::move(queue_.front());
      queue_.pop_front();
      if (event.block) {
        --blocks_;
        room_.notify_all();
      }
    }
    const bool stop = event.stop;
    if (!stop) invoke(event);
    event = Event{};  // let go of the handle before anything it held can be freed elsewhere
    for (size_t i = 0; i < deferred_.size(); ++i) deferred_[i]();
    deferred_.clear();
    if (stop) break;
  }
  t_delivering = nullptr;
}

}  // namespace inet
