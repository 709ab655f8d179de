#include "notifier.h"

#include <cstring>

#include "session.h"
#include "socket.h"

namespace inet {

Notifier::Notifier(std::shared_ptr<Handle> target, DWORD_PTR context)
    : target_(std::move(target)), context_(context) {}

Event Notifier::make(DWORD code) const {
  Event e;
  e.handle = target_;
  e.context = context_;
  e.status = code;
  return e;
}

void Notifier::post(Event event) const { target_->session().delivery().post(std::move(event)); }

void Notifier::status(DWORD code) const {
  if (silent()) return;
  post(make(code));
}

void Notifier::count(DWORD code, DWORD bytes) const {
  if (silent()) return;
  Event e = make(code);
  e.data = Event::Data::Count;
  e.count = bytes;
  post(std::move(e));
}

void Notifier::block(DWORD code, DWORD bytes, const Canceller* cancel) const {
  if (silent()) return;
  Event e = make(code);
  e.data = Event::Data::Count;
  e.count = bytes;
  target_->session().delivery().postBlock(std::move(e), cancel);
}

void Notifier::text(DWORD code, std::string_view text) const {
  if (silent()) return;
  Event e = make(code);
  e.data = Event::Data::Text;
  e.text.assign(text);
  post(std::move(e));
}

void Notifier::address(DWORD code, const Endpoint& endpoint) const {
  if (silent()) return;
  Event e = make(code);
  e.data = Event::Data::Address;
  std::memcpy(&e.address, &endpoint.storage, sizeof e.address);
  e.addressLength = endpoint.length;
  post(std::move(e));
}

void Notifier::created() const {
  if (silent()) return;
  Event e = make(INTERNET_STATUS_HANDLE_CREATED);
  e.data = Event::Data::Result;
  e.result.dwResult = reinterpret_cast<DWORD_PTR>(target_->value());
  e.result.dwError = ERROR_SUCCESS;
  post(std::move(e));
}

void Notifier::closing() const {
  if (silent()) return;
  Event e = make(INTERNET_STATUS_HANDLE_CLOSING);
  e.data = Event::Data::HandleValue;
  e.handleValue = target_->value();
  post(std::move(e));
}

void Notifier::complete(DWORD_PTR result, DWORD error, LastResponse response) const {
  if (silent()) return;
  Event e = make(INTERNET_STATUS_REQUEST_COMPLETE);
  e.data = Event::Data::Result;
  e.result.dwResult = result;
  e.result.dwError = error;
  e.response = std::move(response);
  post(std::move(e));
}

}  // namespace inet
