// Small process services: key codes, beep, cursor and halt.
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app.h"
#include "dialogs.h"
#include "ui/runtime.h"

namespace ui {
namespace {

thread_local int tKeyCode = key::None;

Qt::Key qtKeyOf(int code) {
  switch (code) {
    case key::Tab:
      return Qt::Key_Tab;
    case key::Enter:
      return Qt::Key_Return;
    case key::Space:
      return Qt::Key_Space;
    case key::Escape:
      return Qt::Key_Escape;
    case key::Home:
      return Qt::Key_Home;
    case key::End:
      return Qt::Key_End;
    case key::Up:
      return Qt::Key_Up;
    case key::Down:
      return Qt::Key_Down;
    default:
      break;
  }
  if (code >= 'A' && code <= 'Z') return static_cast<Qt::Key>(code);
  if (code >= '0' && code <= '9') return static_cast<Qt::Key>(code);
  return Qt::Key_unknown;
}

// The control that has the keyboard focus, or, when no window is active (a headless run), the one
// that would have it in the most recently shown window.
QWidget* focusTarget() {
  if (QWidget* w = QApplication::focusWidget()) return w;
  if (QWidget* active = QApplication::activeWindow())
    if (QWidget* w = active->focusWidget()) return w;
  QWidget* best = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top->focusWidget()) best = top->focusWidget();
  return best;
}

int gCursorDepth = 0;  // GUI thread only: whether our override cursor is set

Qt::CursorShape shapeOf(int systemCursor) {
  switch (systemCursor) {
    case IDC_WAIT:
      return Qt::WaitCursor;
    case IDC_CROSS:
      return Qt::CrossCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace

int keyCode() { return tKeyCode; }
void setKeyCode(int code) { tKeyCode = code; }

void pressKey(int code) {
  tKeyCode = code;
  const Qt::Key k = qtKeyOf(code);
  if (k == Qt::Key_unknown) return;
  // Queued like a real keystroke: it reaches the focused control after what the caller does next
  // (a redisplay that refills the list it moves in).
  detail::postToGui(new detail::FunctionEvent([k] {
    QPointer<QWidget> target = focusTarget();
    if (!target) return;
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    if (!target) return;
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
  }));
}

void beep() {
  detail::runOnGui([] { QApplication::beep(); }, false);
}

void setCursor(int systemCursor) {
  detail::runOnGui(
      [systemCursor] {
        const QCursor cursor(shapeOf(systemCursor));
        if (gCursorDepth > 0) {
          QApplication::changeOverrideCursor(cursor);
        } else {
          QApplication::setOverrideCursor(cursor);
          gCursorDepth = 1;
        }
      },
      false);
}

void restoreCursor() {
  detail::runOnGui(
      [] {
        if (gCursorDepth > 0) {
          QApplication::restoreOverrideCursor();
          gCursorDepth = 0;
        }
      },
      false);
}

void halt(int exitCode, std::string_view message) {
  if (!message.empty()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    if (!detail::dialogsHeadless() && detail::ensureStarted())
      ui::message(message, "", IDI_EXCLAMATION, BUTTON_OK);
  }
  std::fflush(nullptr);
  // At once, as asked: no static destructors racing the threads still running.
  std::_Exit(exitCode);
}

}  // namespace ui
