#include "ui/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iterator>

namespace ui {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte here; the watch thread reads it. (Blocking the signals instead
// would not do: a thread that exists before main, a sanitizer's, would still take them.)
int wakePipe[2] = {-1, -1};
// What the signals did before the watch took them, given back when it ends.
struct sigaction previousActions[std::size(kTerminationSignals)];

extern "C" void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

TerminationWatch::TerminationWatch(ThreadNo gui) : gui_(gui) {
  if (::pipe2(wakePipe, O_CLOEXEC) != 0) return;
  // A handler never waits: signals that come faster than the watch reads are one to it anyway.
  ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i)
    ::sigaction(kTerminationSignals[i], &action, &previousActions[i]);
  thread_ = std::thread([this] { watch(); });
}

TerminationWatch::~TerminationWatch() {
  if (!thread_.joinable()) return;
  // The signals act as they did before, so that one during the rest of the exit still ends it.
  for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i)
    ::sigaction(kTerminationSignals[i], &previousActions[i], nullptr);
  ended_ = true;
  onTerminationSignal(0);
  thread_.join();
}

void TerminationWatch::watch() {
  char byte = 0;
  while (::read(wakePipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  if (ended_) return;
  signalled_ = true;
  while (!ended_) {
    if (const WindowRef window = windowOf(gui_)) post(window, event::CloseWindow);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace ui
