// Runs the program in the test's own process, as a user drives it: the program on the test's thread
// (which becomes the window runtime's GUI thread), the user's script on another. Whatever the script
// leaves open when it returns, a failed assertion included, is closed innermost first, so a failing
// test still ends.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

#include "real_input.h"
#include "tarnwick/controls.h"
#include "tarnwick/program.h"
#include "ui/runtime.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace programtest {

using namespace std::chrono_literals;

// The program's menu entries and the parameters window's controls, as a user finds them.
using tarnwick::kActionType;
using tarnwick::kCancel;
using tarnwick::kCascade;
using tarnwick::kCopy;
using tarnwick::kCut;
using tarnwick::kDownload;
using tarnwick::kExit;
using tarnwick::kFileList;
using tarnwick::kHelpContents;
using tarnwick::kLocalDirectory;
using tarnwick::kPassive;
using tarnwick::kPassword;
using tarnwick::kPaste;
using tarnwick::kPrintSetup;
using tarnwick::kRemoteDirectory;
using tarnwick::kServer;
using tarnwick::kStart;
using tarnwick::kStartAsyncClient;
using tarnwick::kStartAutoUploadDownload;
using tarnwick::kTile;
using tarnwick::kUpload;
using tarnwick::kUserName;

// True once pred holds, polling; false after the limit.
inline bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

namespace handover {

// One call handed to the GUI thread.
struct Call : QEvent {
  explicit Call(std::function<void()> run) : QEvent(QEvent::User), run(std::move(run)) {}
  std::function<void()> run;
};

// Runs the calls posted to it, on the thread it lives on.
struct Runner : QObject {
  bool event(QEvent* e) override {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(e);
#endif
    if (e->type() != QEvent::User) return QObject::event(e);
    static_cast<Call*>(e)->run();
    return true;
  }
};

}  // namespace handover

class User {
 public:
  // Made on the GUI thread, which its hand-overs then run on.
  explicit User(ui::ThreadNo gui) : gui_(gui), runner_(std::make_unique<handover::Runner>()) {}

  // The window the program shows in front (the innermost one open), or 0.
  ui::WindowRef front() const { return ui::windowOf(gui_); }

  // Waits until a window other than `current` is in front; 0 when none came.
  ui::WindowRef nextWindow(ui::WindowRef current, std::chrono::milliseconds limit = 20s) const {
    ui::WindowRef found = 0;
    waitFor(
        [&] {
          found = front();
          return found != 0 && found != current;
        },
        limit);
    return found != current ? found : 0;
  }

  // Waits until `window` is in front again.
  bool backTo(ui::WindowRef window, std::chrono::milliseconds limit = 30s) const {
    return waitFor([&] { return front() == window; }, limit);
  }

  // Runs f on the GUI thread, while the program waits for its next event, and returns its result.
  template <typename F>
  auto onGui(F f) const {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
      handOver([&] { f(); });
    } else {
      R result{};
      handOver([&] { result = f(); });
      return result;
    }
  }

  // Closes every window the program has open, innermost first.
  void closeAll() const {
    while (const ui::WindowRef w = front()) {
      ui::post(w, ui::event::CloseWindow);
      waitFor([&] { return front() != w; }, 10s);
    }
  }

 private:
  // Runs f on the GUI thread and waits for it. The call travels as an event built before it is
  // posted, so everything the driver wrote (the event included) is released before Qt's queue takes
  // it; ThreadSanitizer cannot see inside Qt, so the hand-over says so itself.
  template <typename F>
  void handOver(F f) const {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    auto* call = new handover::Call([&] {
      f();
      std::lock_guard lock(m);
      done = true;
      cv.notify_all();
    });
#if defined(__SANITIZE_THREAD__)
    __tsan_release(call);
#endif
    QCoreApplication::postEvent(runner_.get(), call);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
  }

  ui::ThreadNo gui_;
  std::unique_ptr<handover::Runner> runner_;
};

// Runs the program with the script as its user; the program's exit code.
inline int runProgram(const std::function<void(User&)>& script) {
  ui::start();
  User user(ui::currentThread());
  std::atomic<bool> ended{false};
  std::thread driver([&] {
    script(user);
    // The frame opens late when the script did nothing: wait for it, then close what is open.
    waitFor([&] { return ended || user.front() != 0; }, 10s);
    user.closeAll();
  });
  const int code = tarnwick::run();
  ended = true;
  driver.join();
  return code;
}

// The frame, once it is open.
inline ui::WindowRef frameOf(const User& user) {
  ui::WindowRef frame = 0;
  waitFor([&] { return (frame = tarnwick::frameWindow()) != 0 && user.front() == frame; });
  return frame;
}

}  // namespace programtest
