// The window registry and everything any thread may do to a window by its reference.
#include "registry.h"

#include <algorithm>
#include <vector>

#include "app.h"
#include "window_impl.h"

namespace ui::detail {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<WindowRef, std::shared_ptr<WindowShared>> windows;
  std::map<ThreadNo, std::vector<WindowRef>> openByThread;  // in the order they opened
  std::atomic<WindowRef> next{0};
};

Registry& registry() {
  static Registry* r = new Registry;
  return *r;
}

class WindowEvent final : public RuntimeEvent {
 public:
  WindowEvent(WindowRef ref, int event, int control) : ref_(ref), event_(event), control_(control) {}
  void deliver() override {
    if (auto w = findWindow(ref_); w && w->impl) w->impl->enqueuePosted(event_, control_);
  }

 private:
  WindowRef ref_;
  int event_, control_;
};

class StatusEvent final : public RuntimeEvent {
 public:
  explicit StatusEvent(WindowRef ref) : ref_(ref) {}
  void deliver() override {
    if (auto w = findWindow(ref_); w && w->impl) w->impl->showStatusSoon();
  }

 private:
  WindowRef ref_;
};

class RedisplayEvent final : public RuntimeEvent {
 public:
  explicit RedisplayEvent(WindowRef ref) : ref_(ref) {}
  void deliver() override {
    auto w = findWindow(ref_);
    if (!w) return;
    w->redisplayPending.store(false, std::memory_order_release);
    if (w->impl) w->impl->redisplay(0);
  }

 private:
  WindowRef ref_;
};

}  // namespace

std::shared_ptr<WindowShared> registerWindow(WindowImpl* impl) {
  Registry& r = registry();
  auto w = std::make_shared<WindowShared>();
  w->ref = r.next.fetch_add(1, std::memory_order_relaxed) + 1;
  w->thread = currentThread();
  w->impl = impl;
  std::lock_guard lock(r.mutex);
  r.windows[w->ref] = w;
  return w;
}

std::shared_ptr<WindowShared> findWindow(WindowRef ref) {
  if (ref == 0) return nullptr;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.windows.find(ref);
  return it == r.windows.end() ? nullptr : it->second;
}

void windowOpened(const std::shared_ptr<WindowShared>& w) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  w->open.store(true, std::memory_order_release);
  r.openByThread[w->thread].push_back(w->ref);
}

void unregisterWindow(WindowRef ref) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.windows.find(ref);
  if (it == r.windows.end()) return;
  it->second->open.store(false, std::memory_order_release);
  it->second->impl = nullptr;
  auto& order = r.openByThread[it->second->thread];
  order.erase(std::remove(order.begin(), order.end(), ref), order.end());
  r.windows.erase(it);
}

WindowImpl* latestOpenWindow() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.openByThread.find(currentThread());
  if (it == r.openByThread.end() || it->second.empty()) return nullptr;
  auto w = r.windows.find(it->second.back());
  return w == r.windows.end() ? nullptr : w->second->impl;
}

void storeStatus(WindowShared& w, int zone, std::string_view text) {
  bool post = false;
  {
    std::lock_guard lock(w.statusMutex);
    w.status[zone] = std::string(text);
    w.statusSeq[zone] = ++w.nextSeq;
    w.dirty.insert(zone);
    if (!w.flushPending) w.flushPending = post = true;
  }
  // One flush per window in flight, however many texts are written meanwhile.
  if (post) postToGui(new StatusEvent(w.ref));
}

}  // namespace ui::detail

namespace ui {

bool post(WindowRef window, int event, int control) {
  auto w = detail::findWindow(window);
  if (!w) return false;
  // A posted gain-focus is a redisplay request: one pending is enough.
  if (event == event::GainFocus && w->gainFocusPending.exchange(true, std::memory_order_acq_rel)) return true;
  detail::postToGui(new detail::WindowEvent(window, event, control));
  return true;
}

WindowRef windowOf(ThreadNo thread) {
  auto& r = detail::registry();
  std::lock_guard lock(r.mutex);
  auto it = r.openByThread.find(thread);
  return it == r.openByThread.end() || it->second.empty() ? 0 : it->second.back();
}

bool postToThread(ThreadNo thread, int event, int control) {
  const WindowRef w = windowOf(thread);
  return w != 0 && post(w, event, control);
}

bool isOpen(WindowRef window) {
  auto w = detail::findWindow(window);
  return w && w->open.load(std::memory_order_acquire);
}

void setStatus(WindowRef window, int zone, std::string_view text) {
  auto w = detail::findWindow(window);
  if (!w) return;
  if (detail::onGuiThread() && w->impl) {
    detail::storeStatus(*w, zone, text);
    w->impl->showStatus();
    return;
  }
  detail::storeStatus(*w, zone, text);
}

std::string status(WindowRef window, int zone) {
  auto w = detail::findWindow(window);
  if (!w) return {};
  std::lock_guard lock(w->statusMutex);
  auto it = w->status.find(zone);
  return it == w->status.end() ? std::string() : it->second;
}

void requestRedisplay(WindowRef window) {
  auto w = detail::findWindow(window);
  if (!w) return;
  if (!w->redisplayPending.exchange(true, std::memory_order_acq_rel))
    detail::postToGui(new detail::RedisplayEvent(window));
}

}  // namespace ui
