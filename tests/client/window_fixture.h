// What the window tests of the client share: the client window's definition, a routing of the local
// side's events as the client window makes it, and a way to let a window handle what is pending.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "ui/runtime.h"

namespace client::testing {

// Registers the library's own window module NIMBO001 from the source tree (the test does not link
// libnimbo.so, which carries it in its resources).
inline void addClientWindowDefinitions() {
  static const bool added = [] {
    std::ifstream in(std::string(NIMBO_WINDOWS_DIR) + "/NIMBO001.json");
    std::stringstream text;
    text << in.rdbuf();
    ui::addWindowDefinitions(text.str());
    return true;
  }();
  (void)added;
}

// Handles every event the window has pending, each through `handle`, and returns once the window has
// caught up: a user event posted behind them marks the end. What the handling itself queues (a
// keystroke, a post) is caught up with as well.
inline void pump(ui::Window& window, const std::function<void(int event, int control)>& handle) {
  constexpr int kCaughtUp = ui::event::User + 777;
  for (int handled = 1; handled > 0;) {
    handled = 0;
    window.post(kCaughtUp);
    while (window.accept()) {
      if (window.event() == kCaughtUp) break;
      handle(window.event(), window.control());
      ++handled;
    }
  }
}

}  // namespace client::testing
