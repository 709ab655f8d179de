// A window's events: one queue per window, filled by the user's actions and by posts, emptied by the
// program's pull loop, which runs the toolkit's loop (nested if need be) while the queue is empty.
#include <QEventLoop>
#include <QLineEdit>
#include <QRadioButton>
#include <QShortcut>
#include <cerrno>
#include <cstdlib>

#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {

long long detail::toNumber(std::string_view s, bool& ok) {
  std::string t(trim(s));
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  ok = !t.empty() && end && *end == '\0' && errno != ERANGE;
  return v;
}

bool Window::accept() {
  WindowImpl& w = gui("accept");
  if (!w.opened_ || w.closed_ || w.closeDownDelivered_) return false;
  if (w.closeWindowDelivered_) {
    w.closeDownDelivered_ = true;
    w.event_ = event::CloseDown;
    w.control_ = 0;
    return true;
  }
  while (w.fifo_.empty()) {
    QEventLoop loop;
    w.loop_ = &loop;
    const int rc = loop.exec();
    w.loop_ = nullptr;
    if (w.closed_) return false;
    // The application is quitting: the window closes as if its close box were pressed.
    if (w.fifo_.empty() && rc != 0) {
      WindowImpl::Pending quit{event::CloseWindow, 0, -1, false};
      quit.quit = true;
      w.fifo_.push_back(quit);
    }
  }
  const WindowImpl::Pending p = w.fifo_.front();
  w.fifo_.pop_front();
  w.event_ = p.event;
  w.control_ = p.control;
  if (p.key >= 0) setKeyCode(p.key);
  if (p.posted && p.event == event::GainFocus)
    w.shared_->gainFocusPending.store(false, std::memory_order_release);
  if (w.event_ == event::CloseWindow) {
    w.closeWindowDelivered_ = true;
    w.closeIsQuit_ = p.quit;
  }
  // The row whose mark was toggled is the highlighted one when the program takes the event, though
  // the user may have moved on since.
  if (p.event == event::MarkToggled && p.row > 0) w.selectRow(p.control, p.row);
  // Accepting a control copies what the user entered into its variable.
  if (w.event_ == event::Accepted && w.control_ > 0) w.update(w.control_);
  return true;
}

bool Window::closeCanWait() const {
  const WindowImpl& w = gui("closeCanWait");
  return w.closeWindowDelivered_ && !w.closeDownDelivered_ && !w.closeIsQuit_ && !w.closed_;
}

void Window::keepOpen() {
  WindowImpl& w = gui("keepOpen");
  if (closeCanWait()) w.closeWindowDelivered_ = false;
}

void Window::setAlertKey(int key) {
  WindowImpl& w = gui("setAlertKey");
  const int qtKey = key == key::Escape ? Qt::Key_Escape : key == key::Enter ? Qt::Key_Return : 0;
  if (!qtKey || !w.shell_) return;
  auto* shortcut = new QShortcut(QKeySequence(qtKey), w.shell_);
  // The window's own controls only: a frame's other children keep their keys.
  shortcut->setContext(Qt::WidgetWithChildrenShortcut);
  QObject::connect(shortcut, &QShortcut::activated, &w, [&w, key] { w.enqueue(event::Alert, 0, key); });
}

int Window::event() const { return gui("event").event_; }
int Window::control() const { return gui("control").control_; }
void Window::post(int event, int control) { ui::post(impl_->ref(), event, control); }

void WindowImpl::enqueue(int event, int control, int key, bool posted) {
  if (closed_ || closeWindowDelivered_) return;
  fifo_.push_back({event, control, key, posted});
  if (loop_) loop_->exit(0);
}

void WindowImpl::enqueuePosted(int event, int control) { enqueue(event, control, -1, true); }

void WindowImpl::enqueueMark(int control, int row) {
  if (closed_ || closeWindowDelivered_) return;
  fifo_.push_back({event::MarkToggled, control, -1, false, row});
  if (loop_) loop_->exit(0);
}

void WindowImpl::userClose() { enqueue(event::CloseWindow, 0); }

void WindowImpl::activated() {
  if (!opened_ || closed_) return;
  for (const Pending& p : fifo_)
    if (p.event == event::GainFocus && !p.posted) return;
  enqueue(event::GainFocus, 0);
}

void WindowImpl::userResized() {
  if (!opened_ || closed_) return;
  const QSize px = contentPixels();
  if (px == lastPixels_) return;
  lastPixels_ = px;
  // Keep the exact dialog units a program asked for; a size the user dragged is rounded.
  if (px != pixels(rect_)) {
    rect_.width = static_cast<int>(std::lround(px.width() / unitX_));
    rect_.height = static_cast<int>(std::lround(px.height() / unitY_));
  }
  for (const Pending& p : fifo_)
    if (p.event == event::Resized) return;
  enqueue(event::Resized, 0);
}

bool WindowImpl::entryAccepted(int number) {
  Control* c = find(number);
  if (!c) return false;
  auto* e = static_cast<QLineEdit*>(c->widget);
  if (c->def->hasPicture && c->def->picture.type == 'n') {
    bool ok = false;
    const long long v = detail::toNumber(detail::ss(e->text()), ok);
    // The magnitude in unsigned arithmetic: the most negative number has no positive twin.
    const unsigned long long magnitude = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v;
    const std::string digits = std::to_string(magnitude);
    if (!ok || (v < 0 && !c->def->picture.sign) || static_cast<int>(digits.size()) > c->def->picture.width) {
      enqueue(event::Rejected, number);
      return false;
    }
  }
  enqueue(event::Accepted, number);
  return true;
}

void WindowImpl::chooseRadio(int number, bool byUser) {
  Control* r = find(number);
  if (!r) return;
  Control* g = find(r->def->group);
  if (!g) return;
  ++quiet_;
  for (int other : g->radios)
    if (Control* o = find(other)) static_cast<QRadioButton*>(o->widget)->setChecked(other == number);
  --quiet_;
  if (byUser) enqueue(event::Accepted, g->def->number, key::MouseLeft);
}

}  // namespace ui
