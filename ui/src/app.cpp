// Start of the runtime, the GUI thread and the hand-over of work from other threads.
#include "app.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "definitions.h"
#include "ui/runtime.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not instrumented: tell ThreadSanitizer that a posted event carries what was written before
// the post to the thread that receives it.
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace ui::detail {
namespace {

const QEvent::Type kRuntimeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Lives on the GUI thread and runs what other threads hand over.
class Receiver final : public QObject {
 public:
  bool event(QEvent* e) override {
    // Acquired before the event is read at all: its type too was written by the posting thread.
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(e);
#endif
    if (e->type() != kRuntimeEvent) return QObject::event(e);
    static_cast<RuntimeEvent*>(e)->deliver();
    return true;
  }
};

struct Core {
  std::mutex mutex;  // guards start-up and error
  std::atomic<bool> started{false};
  std::string error;
  std::atomic<Receiver*> receiver{nullptr};
  std::atomic<QThread*> guiThread{nullptr};
};

Core& core() {
  static Core* c = new Core;  // never destroyed: worker threads may outlive static destruction
  return *c;
}

// argv must outlive the application object.
int gArgc = 1;
char gProgramName[256] = "uirt";
char* gArgv[] = {gProgramName, nullptr};

void readProgramName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  if (std::getline(in, name) && !name.empty()) {
    const std::string_view fits = ui::utf8Fit(name, sizeof gProgramName - 1);
    std::memcpy(gProgramName, fits.data(), fits.size());
    gProgramName[fits.size()] = '\0';
  }
}

bool canConnectUnix(const std::string& path, bool abstract) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof addr.sun_path) {
    ::close(fd);
    return false;
  }
  std::memcpy(addr.sun_path + offset, path.data(), path.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

// Qt aborts the process when it cannot open its display; find out first, for a plain reason.
std::string displayProblem() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string p = platform ? platform : "";
  const bool wantsX = p.rfind("xcb", 0) == 0 || (p.empty() && (!wayland || !*wayland));
  if (!p.empty() && !wantsX) return {};  // offscreen, wayland, vnc...: Qt's own business
  if (p.empty() && wayland && *wayland) return {};
  if (!display || !*display)
    return "No display to open windows on: neither DISPLAY nor WAYLAND_DISPLAY nor QT_QPA_PLATFORM is set.";
  // Local displays (":0", "unix:0.0") are checked; remote ones are left to the toolkit.
  std::string d = display;
  if (d.rfind("unix:", 0) == 0) d = d.substr(4);
  if (d.empty() || d[0] != ':') return {};
  std::string number = d.substr(1, d.find('.') == std::string::npos ? std::string::npos : d.find('.') - 1);
  const std::string path = "/tmp/.X11-unix/X" + number;
  if (canConnectUnix(path, true) || canConnectUnix(path, false)) return {};
  return "Cannot open the display \"" + std::string(display) + "\": no X server answers there.";
}

}  // namespace

RuntimeEvent::RuntimeEvent() : QEvent(kRuntimeEvent) {}

bool running() { return core().started.load(std::memory_order_acquire); }

bool ensureStarted() {
  Core& c = core();
  if (c.started.load(std::memory_order_acquire)) return true;
  std::lock_guard lock(c.mutex);
  if (c.started.load(std::memory_order_relaxed)) return true;
  QCoreApplication* app = QCoreApplication::instance();
  if (app && !qobject_cast<QApplication*>(app)) {
    c.error = "The program runs a non-widget application object; windows cannot be opened.";
    return false;
  }
  if (!app) {
    const std::string problem = displayProblem();
    if (!problem.empty()) {
      c.error = problem;
      return false;
    }
    readProgramName();
    app = new QApplication(gArgc, gArgv);  // lives as long as the process
    static_cast<QApplication*>(app)->setQuitOnLastWindowClosed(false);
  }
  auto* receiver = new Receiver;
  if (receiver->thread() != app->thread()) receiver->moveToThread(app->thread());
  c.guiThread.store(app->thread(), std::memory_order_release);
  c.receiver.store(receiver, std::memory_order_release);
  c.error.clear();
  c.started.store(true, std::memory_order_release);
  checkAllDefinitions();
  return true;
}

bool onGuiThread() {
  QThread* gui = core().guiThread.load(std::memory_order_acquire);
  return gui && QThread::currentThread() == gui;
}

void postToGui(RuntimeEvent* event) {
  Receiver* r = core().receiver.load(std::memory_order_acquire);
  if (!r) {
    delete event;
    return;
  }
#if defined(__SANITIZE_THREAD__)
  __tsan_release(event);
#endif
  QCoreApplication::postEvent(r, event);
}

bool runOnGui(std::function<void()> f, bool wait) {
  if (!running()) return false;
  if (onGuiThread()) {
    f();
    return true;
  }
  if (!wait) {
    postToGui(new FunctionEvent(std::move(f)));
    return true;
  }
  struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  postToGui(new FunctionEvent([f = std::move(f), done] {
    f();
    std::lock_guard lock(done->m);
    done->done = true;
    done->cv.notify_all();
  }));
  std::unique_lock lock(done->m);
  done->cv.wait(lock, [&] { return done->done; });
  return true;
}

void fatal(std::string_view message) { ui::halt(1, message); }

}  // namespace ui::detail

namespace ui {

bool start() { return detail::ensureStarted(); }

std::string startError() {
  auto& c = detail::core();
  std::lock_guard lock(c.mutex);
  return c.error;
}

ThreadNo currentThread() {
  static std::atomic<ThreadNo> next{0};
  thread_local ThreadNo mine = 0;
  if (mine == 0) mine = next.fetch_add(1, std::memory_order_relaxed) + 1;
  return mine;
}

}  // namespace ui
