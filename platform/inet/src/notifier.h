// Where one request's notifications go: a handle and the context they carry. Silent when the context
// is 0 (callbacks fire only for handles made with a context).
#pragma once

#include <memory>
#include <string_view>

#include "delivery.h"
#include "handles.h"

namespace inet {

struct Endpoint;

class Notifier {
 public:
  Notifier() = default;
  Notifier(std::shared_ptr<Handle> target, DWORD_PTR context);

  bool silent() const { return !target_ || context_ == 0; }
  void status(DWORD code) const;                                       // no data
  void count(DWORD code, DWORD bytes) const;                           // a byte count
  void block(DWORD code, DWORD bytes, const Canceller* cancel) const;  // a block of transfer data
  void text(DWORD code, std::string_view text) const;
  void address(DWORD code, const Endpoint& endpoint) const;
  void created() const;  // HANDLE_CREATED: the target's handle in dwResult
  void closing() const;  // HANDLE_CLOSING: the address of the target's handle
  // REQUEST_COMPLETE, with the response the delivering thread will hold while the callback runs.
  void complete(DWORD_PTR result, DWORD error, LastResponse response) const;

 private:
  Event make(DWORD code) const;
  void post(Event event) const;

  std::shared_ptr<Handle> target_;
  DWORD_PTR context_ = 0;
};

}  // namespace inet
