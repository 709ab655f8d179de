// The life of a window: built on the runtime's thread, opened where it belongs (a child of the open
// frame, a modal dialog over its owner, or a top-level window), closed once for good.
#include <QApplication>
#include <QEventLoop>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <algorithm>

#include "app.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {
namespace {

using detail::qs;

// The frame that windows opened meanwhile become children of (GUI thread only).
QPointer<WindowImpl> gFrame;

void updateFrameBusy() {
  if (WindowImpl* frame = gFrame.data(); frame && frame->isOpen())
    frame->setBusy(detail::latestOpenWindow() != frame);
}

}  // namespace

Window::Window(std::string_view module, std::string_view name) {
  if (!detail::ensureStarted()) halt(1, "Cannot open windows: " + startError());
  if (!detail::onGuiThread())
    detail::fatal("Window " + std::string(module) + "/" + std::string(name) +
                  ": windows are built on the thread that runs the runtime");
  impl_ = std::make_unique<WindowImpl>(detail::windowDefinition(module, name));
}

Window::~Window() = default;

// Widgets live on one thread; a call from another is a programming error better stopped loudly
// than left to corrupt the window now and then.
WindowImpl& Window::gui(const char* member) const {
  if (!detail::onGuiThread())
    detail::fatal(std::string("Window::") + member +
                  " was called from a thread other than the window's (from there use ui::post, ui::setStatus "
                  "or ui::requestRedisplay)");
  return *impl_;
}

void Window::open() {
  WindowImpl& w = gui("open");
  if (w.opened_ || w.closed_ || !w.shell_) return;
  WindowImpl* frame = gFrame.data();
  if (frame && frame != &w && frame->isOpen() && frame->mdi_ && w.def_->kind == "window")
    w.openInFrame(*frame);
  else
    w.openTopLevel();
  w.opened_ = true;
  if (w.isFrame()) gFrame = &w;
  detail::windowOpened(w.shared_);
  updateFrameBusy();
  w.fifo_.push_front({event::OpenWindow, 0, -1, false});
  w.lastPixels_ = w.contentPixels();
  for (auto& [number, c] : w.controls_)
    if (c.model) w.refreshList(c);
}

void Window::close() { gui("close").close(); }
bool Window::isOpen() const { return ui::isOpen(impl_->ref()); }
WindowRef Window::ref() const { return impl_->ref(); }

WindowImpl::WindowImpl(std::shared_ptr<const detail::WindowDef> def) : def_(std::move(def)) {
  shared_ = detail::registerWindow(this);
  title_ = def_->title;
  rect_ = {def_->x, def_->y, def_->width, def_->height};
  build();
}

WindowImpl::~WindowImpl() { close(); }

void WindowImpl::openInFrame(WindowImpl& frame) {
  auto* sub = new detail::SubWindow([this] { userClose(); });
  sub_ = sub;
  sub->setWidget(shell_);
  sub->setWindowTitle(qs(title_));
  sub->setWindowIcon(shell_->windowIcon());
  if (!def_->resizable) sub->setWindowFlags(sub->windowFlags() & ~Qt::WindowMaximizeButtonHint);
  frame.mdi_->addSubWindow(sub);
  QObject::connect(frame.mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* active) {
    if (active && active == sub_) activated();
  });
  QObject::connect(sub, &QObject::destroyed, this, [this] {
    // The frame went away under the window: it is closed from now on.
    sub_ = nullptr;
    shell_ = nullptr;
    content_ = nullptr;
    controls_.clear();
    zoneLabels_.clear();
    zoneBar_ = nullptr;
    enqueue(event::CloseWindow, 0);
  });
  sub->adjustSize();
  // Where the definition says, else where the frame would put it, pulled back so that it starts
  // inside the client area; then a frame too small for it grows (as far as the screen allows)
  // rather than hiding its edges behind scroll bars.
  QPoint at = def_->hasPosition ? QPoint(toPixelsX(def_->x), toPixelsY(def_->y)) : sub->pos();
  const QSize have = frame.mdi_->viewport()->size();
  const QSize size = sub->size();
  QSize grow(std::max(0, at.x() + size.width() - have.width()),
             std::max(0, at.y() + size.height() - have.height()));
  if (!def_->hasPosition) {
    at = {std::clamp(at.x(), 0, std::max(0, have.width() - size.width())),
          std::clamp(at.y(), 0, std::max(0, have.height() - size.height()))};
    grow = {std::max(0, size.width() - have.width()), std::max(0, size.height() - have.height())};
  }
  if (grow.width() > 0 || grow.height() > 0) {
    QWidget* top = frame.shell_;
    QSize wanted = top->size() + grow;
    if (const QScreen* screen = top->screen()) {
      const QRect room = screen->availableGeometry();
      const QSize border = top->frameGeometry().size() - top->size();
      wanted = wanted.boundedTo(room.size() - border);
      // A frame that now reaches past the screen's edge moves in.
      QPoint corner = top->pos();
      corner.setX(
          std::max(room.left(), std::min(corner.x(), room.right() + 1 - wanted.width() - border.width())));
      corner.setY(
          std::max(room.top(), std::min(corner.y(), room.bottom() + 1 - wanted.height() - border.height())));
      top->move(corner);
    }
    top->resize(wanted);
    // The frame's new client area is laid out now, not at the next turn of the loop, so that the
    // child lands in it.
    if (top->layout()) top->layout()->activate();
  }
  sub->move(at);
  sub->show();
  frame.mdi_->setActiveSubWindow(sub);
}

void WindowImpl::openTopLevel() {
  if (def_->kind == "dialog") {
    if (WindowImpl* owner = detail::latestOpenWindow(); owner && owner->topWidget()) {
      shell_->setParent(owner->topWidget()->window(), Qt::Dialog);
    }
    shell_->setWindowModality(Qt::ApplicationModal);
  }
  shell_->adjustSize();
  if (def_->hasPosition) {
    shell_->move(toPixelsX(def_->x), toPixelsY(def_->y));
  } else if (QWidget* parent = shell_->parentWidget()) {
    shell_->move(parent->window()->geometry().center() - shell_->rect().center());
  } else if (QScreen* screen = QApplication::primaryScreen()) {
    shell_->move(screen->availableGeometry().center() - shell_->rect().center());
  }
  shell_->show();
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) shell_->raise();  // it has no stacking
  shell_->activateWindow();
}

void WindowImpl::close() {
  if (closed_) return;
  closed_ = true;
  if (loop_) loop_->exit(0);
  detail::unregisterWindow(shared_->ref);
  if (gFrame == this) gFrame = nullptr;
  updateFrameBusy();
  controls_.clear();
  zoneLabels_.clear();
  zoneBar_ = nullptr;
  menuActions_.clear();
  content_ = nullptr;
  mdi_ = nullptr;
  if (shell_) shell_->detach();
  if (sub_) {
    static_cast<detail::SubWindow*>(sub_.data())->detach();
    QObject::disconnect(sub_, &QObject::destroyed, this, nullptr);
    delete sub_.data();
  } else {
    delete shell_.data();
  }
  fifo_.clear();
}

QWidget* WindowImpl::topWidget() const {
  if (sub_) return sub_;
  return shell_;
}

}  // namespace ui
