#include "batch/threadcheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "batch/run.h"
#include "batch/status.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {

Thread currentThread() {
  if (ui::currentThread() == MainThread.load()) return Thread::Window;
  if (TheRun.onRetryThread()) return Thread::Retry;
  return Thread::Delivery;
}

std::string_view threadName(Thread thread) {
  switch (thread) {
    case Thread::Window:
      return "window";
    case Thread::Retry:
      return "retry";
    case Thread::Delivery:
      break;
  }
  return "delivery";
}

void checkThread(std::string_view what, unsigned allowed) {
#if defined(NIMBO_THREAD_CHECKS) && NIMBO_THREAD_CHECKS
  const Thread thread = currentThread();
  if ((allowed & unsigned(thread)) == 0) {
    std::fprintf(stderr, "batch: %.*s runs on the %.*s thread\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(threadName(thread).size()), threadName(thread).data());
    std::abort();
  }
#else
  (void)what;
  (void)allowed;
#endif
}

void onThread(std::string_view step, unsigned allowed) {
  traceStep(step, threadName(currentThread()));
  checkThread(step, allowed);
}

}  // namespace batch
