// The runtime's process-wide core: the application object, the GUI thread and the one object on it
// that receives everything other threads hand over.
#pragma once

#include <QEvent>
#include <functional>
#include <string_view>

namespace ui::detail {

// Starts the runtime on the calling thread if it is not running; false when it cannot start.
bool ensureStarted();
// True when the runtime runs (without starting it).
bool running();
// True on the thread that owns the widgets.
bool onGuiThread();

// Work handed to the GUI thread. deliver() runs there, in posting order.
class RuntimeEvent : public QEvent {
 public:
  RuntimeEvent();
  virtual void deliver() = 0;
};

// A function run on the GUI thread.
class FunctionEvent final : public RuntimeEvent {
 public:
  explicit FunctionEvent(std::function<void()> f) : f_(std::move(f)) {}
  void deliver() override { f_(); }

 private:
  std::function<void()> f_;
};

// Posts a runtime event to the GUI thread; takes ownership. Dropped when the runtime is not running.
void postToGui(RuntimeEvent* event);

// Runs f on the GUI thread: at once when called there, otherwise queued. With wait, the caller
// blocks until f has run. Returns false (f not run) when the runtime is not running.
bool runOnGui(std::function<void()> f, bool wait);

// Halts from inside the runtime with a message to the user and to stderr.
[[noreturn]] void fatal(std::string_view message);

}  // namespace ui::detail
