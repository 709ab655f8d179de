// A stand-in for the client window: four status zones, and the remote directory, tree and progress
// bound as the client binds them, so that the window's thread reads them while callbacks write.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/client_session.h"
#include "ui/runtime.h"

namespace enginetest {

class StandInWindow {
 public:
  StandInWindow() {
    static const bool registered = (ui::addWindowDefinitions(R"({"module": "ENGINETEST", "windows": [{
      "name": "ENGINETEST", "kind": "window", "size": [300, 200],
      "statusbar": {"widths": [60, 60, 60, -1], "zones": [0, 1, 2, 3]},
      "controls": [{"number": 1, "kind": "display", "at": [3, 3, 200, 9], "picture": "@s255"},
        {"number": 2, "kind": "list", "at": [3, 15, 290, 160],
         "format": "120L(1)|MIT(B)~Name~@s255@80L(1)|M~File Size~@s20@"},
        {"number": 3, "kind": "progress", "at": [3, 180, 150, 7], "range": [0, 100]}]}]})"),
                                    true);
    (void)registered;
    window_ = std::make_unique<ui::Window>("ENGINETEST", "ENGINETEST");
    window_->bind(1, engine::RemoteDirectory);
    window_->bindList<DirectoryListRecord>(2, DirectoryList, [](const DirectoryListRecord& r) {
      return std::vector<ui::Cell>{std::string(r.NAME.view()), std::int64_t{r.ICONFIELD},
                                   std::int64_t{r.TREELEVEL}, r.SIZESTR.str()};
    });
    window_->bind(3, engine::ProgressPercent);
    window_->open();
    MainWindow = window_->ref();
    MainThread = ui::currentThread();
  }

  ui::Window& window() { return *window_; }
  ui::WindowRef ref() const { return window_->ref(); }
  std::string status(int zone) const { return ui::status(window_->ref(), zone); }
  void close() { window_->close(); }
  std::vector<int> events() { return std::exchange(events_, {}); }  // user events seen while waiting

  // Runs the window's events (a ticker makes sure some come) until done() holds; false on time out.
  bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::atomic<bool> stop{false};
    std::thread ticker([&, ref = window_->ref()] {
      for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(5))) ui::post(ref, kTick);
    });
    bool held = done();
    for (; !held && std::chrono::steady_clock::now() < end && window_->isOpen() && window_->accept();
         held = done())
      if (window_->event() >= ui::event::User && window_->event() != kTick)
        events_.push_back(window_->event());
    stop = true;
    ticker.join();
    for (; !held && std::chrono::steady_clock::now() < end; held = done())  // a closed window has no events
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return held;
  }

 private:
  static constexpr int kTick = ui::event::User + 900;
  std::unique_ptr<ui::Window> window_;
  std::vector<int> events_;
};

}  // namespace enginetest
