#include "handles.h"

namespace inet {

Handle::Handle(HandleKind k, DWORD_PTR ctx, std::shared_ptr<Handle> p)
    : kind(k), context(ctx), parent(std::move(p)) {
  if (parent) {
    session_ = &parent->session();
    callback.store(parent->callback.load());
  }
}

bool Handle::callsBack() const {
  INTERNET_STATUS_CALLBACK cb = callback.load();
  return context != 0 && cb != nullptr && cb != INTERNET_INVALID_STATUS_CALLBACK;
}

HandleTable& HandleTable::instance() {
  static auto* table = new HandleTable;  // outlives every thread that may still look a handle up
  return *table;
}

bool HandleTable::insertLocked(const std::shared_ptr<Handle>& h) {
  if (live_.size() >= kMaxHandles) return false;
  while (next_ == 0 || live_.count(next_)) ++next_;
  h->id_ = next_++;
  live_.emplace(h->id_, h);
  if (h->parent) h->parent->children.push_back(h);
  return true;
}

std::shared_ptr<Handle> HandleTable::findLocked(uint32_t id) const {
  auto it = live_.find(id);
  return it == live_.end() ? nullptr : it->second;
}

void HandleTable::eraseLocked(const Handle& h) {
  auto it = live_.find(h.id_);
  if (it != live_.end() && it->second.get() == &h) live_.erase(it);
}

}  // namespace inet
