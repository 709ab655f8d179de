// Drives CLIENT_AS as a user would. The window procedure runs its own loop on the runtime's thread
// (the caller of run()), while the script runs on a thread of its own and acts through Qt's own mouse
// and keyboard events on the widgets; the runtime's hooks only answer message boxes and menus.
//
// A hook runs on the window's thread only while the window waits for its next event, so a hook that
// returns after a click returns after the click has been handled (settle() relies on that).
#pragma once

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/client_window.h"
#include "engine/client_session.h"
#include "nimbo.h"
#include "real_input.h"
#include "ui/runtime.h"

namespace client::testing {

using namespace std::chrono_literals;

class Driver {
 public:
  explicit Driver(ui::ThreadNo gui) : gui_(gui) {}

  // The client window, once it has opened and set itself up.
  ui::WindowRef window() const { return window_; }
  // The newest window of the window's thread: a dialog while one is open.
  ui::WindowRef top() const { return ui::windowOf(gui_); }

  // Waits until the window is open and has handled its opening; false on time out.
  bool opened() {
    const bool ok = waitFor([&] { return ::MainThread.load() == gui_ && ui::windowOf(gui_) != 0; });
    window_ = ui::windowOf(gui_);
    settle();
    return ok;
  }

  // Qt's own mouse and keyboard events on the widgets (real_input.h).
  bool click(int control) { return uitest::press(window_, control); }
  bool enterText(int control, std::string_view text) { return uitest::type(window_, control, text); }
  // A row picked by the mouse (or clicked, then Enter); on the drive list, chosen in its popup.
  bool clickRow(int control, int row, int key = ui::key::MouseLeft) {
    if (control == client::control::DriveList) return uitest::chooseDrop(window_, control, row);
    const uitest::Pick how = key == ui::key::MouseRight        ? uitest::Pick::Right
                             : key == ui::key::MouseLeftDouble ? uitest::Pick::Double
                             : key == ui::key::Enter           ? uitest::Pick::Enter
                                                               : uitest::Pick::Click;
    return uitest::pickRow(window_, control, row, how);
  }
  bool clickMark(int control, int row) { return uitest::clickMark(window_, control, row); }
  bool key(Qt::Key k) { return uitest::key(window_, k); }
  std::string shown(int control) { return ui::test::shownText(window_, control); }
  std::vector<std::string> rows(int control) { return ui::test::shownRows(window_, control); }

  // Returns once everything queued for the window so far has been handled.
  void settle() {
    for (int i = 0; i < 3; ++i) ui::test::shownText(window_, control::Close);
  }

  // Waits until done() holds; false on time out.
  static bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  // Waits until no command is in flight.
  static bool idle(std::chrono::milliseconds limit = 30s) {
    return waitFor([] { return engine::OperationState.load() == engine::state::Idle; }, limit);
  }

  // Waits for a dialog over the client window; its reference, or 0.
  ui::WindowRef dialog() {
    ui::WindowRef d = 0;
    waitFor([&] { return (d = top()) != 0 && d != window_; }, 10s);
    return d == window_ ? 0 : d;
  }

  // The position of a remote tree node (its path on the server, "/" for the root) in DirectoryList.
  static int treeRow(std::string_view relative) {
    DirectoryListRecord found;
    const std::size_t pos = DirectoryList.find(
        [&](const DirectoryListRecord& r) {
          const std::string_view full = r.FULLPATHNAME.clip();
          // The server's name may begin with a scheme ("ftpes://host:port").
          const std::size_t scheme = full.find("://");
          const std::size_t slash = full.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
          const std::string_view path = slash == std::string_view::npos ? "/" : full.substr(slash);
          return path == relative;
        },
        found);
    return static_cast<int>(pos);
  }

  // The position of a local file in AllFiles.
  static int fileRow(std::string_view name) {
    AllFilesRecord found;
    return static_cast<int>(
        AllFiles.find([&](const AllFilesRecord& r) { return r.NAME.clip() == name; }, found));
  }

 private:
  ui::ThreadNo gui_;
  ui::WindowRef window_ = 0;
};

// Runs CLIENT_AS on this thread while `script` drives it from another. Whatever the script does (a
// failed assertion returns early), the window is closed afterwards, dialogs first.
inline void runClient(const std::function<void(Driver&)>& script) {
  std::atomic<bool> returned{false}, done{false};
  Driver driver(ui::currentThread());
  std::thread user([&] {
    if (driver.opened()) script(driver);
    while (!returned.load()) {
      ui::test::closeBox(driver.top());
      std::this_thread::sleep_for(20ms);
    }
    done = true;
  });
  CLIENT_AS();
  returned = true;
  // A hook the script called as the window closed waits for this thread to run it.
  while (!done.load()) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(1ms);
  }
  user.join();
}

}  // namespace client::testing
