// The widgets behind a window's controls, for tests that drive them with the toolkit's own mouse and
// keyboard events (QTest). Unlike runtime.h this names Qt types: only tests include it.
#pragma once

#include <QModelIndex>
#include <functional>

#include "ui/runtime.h"

class QAction;
class QWidget;

namespace ui::test {

// What a test may reach of an open window, on the window's thread only.
class Widgets {
 public:
  virtual ~Widgets() = default;
  virtual QWidget* control(int number) const = 0;  // nullptr when the window has no such control
  virtual QWidget* window() const = 0;             // the window as the user sees it (a frame's child too)
  // A list's row by its position in the list's source (from 1): its index in the view's model.
  virtual QModelIndex row(int control, int position) const = 0;
  virtual QAction* menuEntry(int number) const = 0;  // a menu bar entry, nullptr when none
};

// Runs f on the window's thread with its widgets; false when the window is gone. Like the other
// hooks, f runs while the window waits for its next event, so what f's input caused has been
// queued for the program by the time this returns.
UIRT_API bool withWidgets(WindowRef window, const std::function<void(const Widgets&)>& f);

}  // namespace ui::test
