#include "engine/thread_check.h"

#include <cstdio>
#include <cstdlib>

#include "nimbo.h"
#include "ui/runtime.h"

namespace engine {

namespace {
bool noWindow() { return MainThread.load() == 0; }
}  // namespace

bool onWindowThread() { return noWindow() || ui::currentThread() == MainThread.load(); }

void checkThread(Thread expected, const char* function) {
  if (noWindow()) return;
  const bool window = ui::currentThread() == MainThread.load();
  if (window == (expected == Thread::Window)) return;
  std::fprintf(stderr, "engine: %s runs on %s, and was called on %s\n", function,
               expected == Thread::Window ? "the window's thread" : "a delivery thread",
               window ? "the window's thread" : "another thread");
  std::abort();
}

}  // namespace engine
