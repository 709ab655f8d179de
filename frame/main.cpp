// tarnwick's entry point. A termination request (SIGTERM from a session that ends, SIGINT from a
// terminal, SIGHUP) closes the program's windows one after the other, innermost first, as their close
// boxes would: a batch ends its transfer, the frame closes, the settings file is written, and the
// program exits 0.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "tarnwick/program.h"

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte here; the watch thread reads it. (Blocking the signals instead
// would not do: a thread that exists before main, a sanitizer's, would still take them.)
int wakePipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
  errno = saved;
}

// Waits for a termination request on a thread of its own, then keeps closing the window the GUI
// thread runs until the program has ended: windows opened meanwhile close as well.
class TerminationWatch {
 public:
  explicit TerminationWatch(ui::ThreadNo gui) : gui_(gui) {
    if (::pipe2(wakePipe, O_CLOEXEC) != 0) return;
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kTerminationSignals) ::sigaction(signal, &action, nullptr);
    thread_ = std::thread([this] { watch(); });
  }
  ~TerminationWatch() {
    if (!thread_.joinable()) return;
    ended_ = true;
    onTerminationSignal(0);
    thread_.join();
  }
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

 private:
  void watch() {
    char byte = 0;
    while (::read(wakePipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    while (!ended_) {
      if (const ui::WindowRef window = ui::windowOf(gui_)) ui::post(window, ui::event::CloseWindow);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  ui::ThreadNo gui_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace

int main() {
  TerminationWatch watch(ui::currentThread());
  return tarnwick::run();
}
