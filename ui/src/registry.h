// The window registry: what any thread may know of a window, by its reference.
//
// A window's shared record lives as long as anyone holds it; the registry forgets it when the window
// closes, so a stale reference finds nothing and every operation on it does nothing. The widgets are
// reached only on the GUI thread, through `impl`.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "ui/runtime.h"

namespace ui {
class WindowImpl;
}

namespace ui::detail {

struct WindowShared {
  WindowRef ref = 0;
  ThreadNo thread = 0;
  std::atomic<bool> open{false};
  std::atomic<bool> redisplayPending{false};
  std::atomic<bool> gainFocusPending{false};

  // Status zones: the latest text of each, and which ones the window has yet to show.
  std::mutex statusMutex;
  std::map<int, std::string> status;
  std::map<int, std::uint64_t> statusSeq;  // order of writes, for zones that share a visible zone
  std::set<int> dirty;
  bool flushPending = false;
  std::uint64_t nextSeq = 0;

  WindowImpl* impl = nullptr;  // GUI thread only
};

// A new record with a fresh reference, for a window built on the calling thread.
std::shared_ptr<WindowShared> registerWindow(WindowImpl* impl);
// The record of a live window, or null.
std::shared_ptr<WindowShared> findWindow(WindowRef ref);
// The window opened or closed: keeps the per-thread order that windowOf() answers from.
void windowOpened(const std::shared_ptr<WindowShared>& w);
// Forgets the window: its reference goes stale.
void unregisterWindow(WindowRef ref);

// The most recently opened window still open on the GUI thread, or null (GUI thread only).
WindowImpl* latestOpenWindow();

// Stores a zone's text; the caller on the GUI thread shows it at once, others have it shown soon.
void storeStatus(WindowShared& w, int zone, std::string_view text);

}  // namespace ui::detail
