// A stand-in for the client window: four status zones, the progress bar, the remote directory display
// and the remote tree, bound to the engine's fields as the client binds them. Tests and benchmarks run
// the engine through it headlessly and wait for the engine by pumping the window's events.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/session.h"
#include "ui/runtime.h"

namespace enginetest {

inline constexpr const char* kStandInDefinition = R"({
  "module": "ENGINETEST",
  "windows": [{
    "name": "ENGINETEST", "kind": "window", "title": "Engine", "size": [300, 200],
    "statusbar": { "widths": [60, 60, 60, -1], "zones": [0, 1, 2, 3] },
    "controls": [
      { "number": 1, "kind": "display", "at": [3, 3, 200, 9], "picture": "@s255" },
      { "number": 2, "kind": "list", "at": [3, 15, 290, 160],
        "format": "120L(1)|MIT(B)~Name~@s255@80L(1)|M~File Size~@s20@" },
      { "number": 3, "kind": "progress", "at": [3, 180, 150, 7], "range": [0, 100] }
    ]
  }]
})";

class StandInWindow {
 public:
  StandInWindow() {
    static const bool registered = [] {
      ui::addWindowDefinitions(kStandInDefinition);
      return true;
    }();
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

  // Runs the window's events until done() holds or the time is up; true when it holds. User events
  // seen on the way are kept (events()).
  bool waitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::atomic<bool> stop{false};
    // The loop below only returns with an event: a ticker makes sure one comes.
    const ui::WindowRef ref = window_->ref();
    std::thread ticker([&] {
      while (!stop.load()) {
        ui::post(ref, kTick);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    bool held = done();
    while (!held && std::chrono::steady_clock::now() < end && window_->isOpen() && window_->accept()) {
      if (window_->event() >= ui::event::User && window_->event() != kTick)
        events_.push_back(window_->event());
      held = done();
    }
    stop = true;
    ticker.join();
    // A closed window has no events left to wait on.
    while (!held && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      held = done();
    }
    return held;
  }
  std::vector<int> events() { return std::exchange(events_, {}); }

 private:
  static constexpr int kTick = ui::event::User + 900;
  std::unique_ptr<ui::Window> window_;
  std::vector<int> events_;
};

}  // namespace enginetest
