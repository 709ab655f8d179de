// Properties of controls (focus, highlighted row, enabled, icons, captions, kind, geometry with
// deferred moves) and of windows (title, position, status zones).
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cmath>

#include "icons.h"
#include "listmodel.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {

using detail::qs;

// ---- Controls ----------------------------------------------------------------------------------------

void Window::select(int control) {
  WindowImpl& w = gui("select");
  WindowImpl::Control* c = w.find(control);
  if (!c) return;
  QWidget* target = c->widget;
  if (c->kind == kind::OptionGroup) {
    for (int r : c->radios)
      if (WindowImpl::Control* rc = w.find(r);
          rc && (target == c->widget || static_cast<QRadioButton*>(rc->widget)->isChecked()))
        target = rc->widget;
  }
  target->setFocus(Qt::OtherFocusReason);
}

void Window::selectRow(int control, int row) { gui("selectRow").selectRow(control, row); }
int Window::selectedRow(int control) const { return gui("selectedRow").selectedRow(control); }

void WindowImpl::selectRow(int control, int row) {
  Control* c = find(control);
  if (!c || !c->model) return;
  ++quiet_;
  const QModelIndex index =
      row > 0 ? c->model->nearestShown(std::min(row, c->model->sourceCount())) : QModelIndex();
  if (c->view) {
    if (!index.isValid()) {
      c->view->selectionModel()->clear();
    } else {
      c->view->selectionModel()->setCurrentIndex(
          index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      c->view->scrollTo(index);
    }
  } else if (c->combo) {
    c->combo->setCurrentIndex(index.isValid() ? index.row() : -1);
  }
  --quiet_;
}

int WindowImpl::selectedRow(int control) const {
  const Control* c = find(control);
  if (!c || !c->model) return 0;
  if (c->view) {
    const QModelIndex index = c->view->selectionModel()->currentIndex();
    return c->model->positionOf(index);
  }
  if (c->combo) return c->model->positionOf(c->model->index(c->combo->currentIndex(), 0));
  return 0;
}

void Window::enable(int control, bool enabled) {
  WindowImpl& w = gui("enable");
  if (control < 0) {
    if (enabled)
      w.menuDisabled_.erase(control);
    else
      w.menuDisabled_.insert(control);
    w.applyMenuState(control);
    return;
  }
  WindowImpl::Control* c = w.find(control);
  if (!c) return;
  c->widget->setEnabled(enabled);
  for (int r : c->radios)
    if (WindowImpl::Control* rc = w.find(r)) rc->widget->setEnabled(enabled);
}

bool Window::isEnabled(int control) const {
  const WindowImpl& w = gui("isEnabled");
  if (control < 0) return w.menuActions_.count(control) && !w.menuDisabled_.count(control);
  const WindowImpl::Control* c = w.find(control);
  return c && c->widget->isEnabled();
}

void WindowImpl::applyMenuState(int number) {
  auto it = menuActions_.find(number);
  if (it == menuActions_.end()) return;
  const bool program = !it->second->menu() && menuStandard_[number].empty();
  it->second->setEnabled(!menuDisabled_.count(number) && !(busy_ && program));
}

void WindowImpl::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  for (const auto& [number, action] : menuActions_) applyMenuState(number);
}

void Window::showMarks(int control) {
  WindowImpl& w = gui("showMarks");
  WindowImpl::Control* c = w.find(control);
  if (!c || !c->view) return;
  QTreeView* view = c->view;
  detail::ListModel* model = c->model;
  // The row is highlighted, as a click on it does; the program reads the highlighted row.
  model->showMarks([&w, control, view, model](int position) {
    const QModelIndex index = model->indexOf(position);
    if (view->currentIndex().siblingAtColumn(0) != index) view->setCurrentIndex(index);
    w.enqueueMark(control, position);
  });
}

void Window::setIconList(int control, const std::vector<std::string>& icons) {
  WindowImpl& w = gui("setIconList");
  WindowImpl::Control* c = w.find(control);
  if (!c || !c->model) return;
  std::vector<QIcon> list;
  list.reserve(icons.size());
  for (const auto& name : icons) list.push_back(detail::iconFor(name, w.def_->prefix));
  c->model->setIcons(std::move(list));
}

void Window::setImage(int control, std::string_view icon) { gui("setImage").setImage(control, icon); }

void WindowImpl::setImage(int control, std::string_view icon) {
  Control* c = find(control);
  if (!c) return;
  c->image = std::string(icon);
  const QIcon i = detail::iconFor(icon, def_->prefix);
  if (c->kind == kind::Image) {
    const QSize s = c->widget->size().isEmpty() ? QSize(32, 32) : c->widget->size();
    static_cast<QLabel*>(c->widget)->setPixmap(i.pixmap(std::min(s.width(), s.height())));
  } else if (c->kind == kind::Button) {
    static_cast<QPushButton*>(c->widget)->setIcon(i);
  }
}

std::string Window::image(int control) const {
  const WindowImpl::Control* c = gui("image").find(control);
  return c ? c->image : std::string();
}

void Window::setText(int control, std::string_view text) {
  WindowImpl& w = gui("setText");
  WindowImpl::Control* c = w.find(control);
  if (!c) {
    if (auto it = w.menuActions_.find(control); it != w.menuActions_.end()) it->second->setText(qs(text));
    return;
  }
  if (auto* d = dynamic_cast<detail::DisplayLabel*>(c->widget))
    d->show(qs(text));
  else if (auto* l = qobject_cast<QLabel*>(c->widget); l && c->kind != kind::Image)
    l->setText(qs(text));
  else if (auto* b = qobject_cast<QAbstractButton*>(c->widget))
    b->setText(qs(text));
  else if (auto* g = qobject_cast<QGroupBox*>(c->widget))
    g->setTitle(qs(text));
  else if (auto* e = qobject_cast<QLineEdit*>(c->widget))
    e->setText(qs(text));
}

int Window::controlKind(int control) const { return gui("controlKind").controlKind(control); }

int WindowImpl::controlKind(int control) const {
  if (const Control* c = find(control)) return c->kind;
  auto it = menuActions_.find(control);
  if (it == menuActions_.end()) return kind::None;
  return it->second->menu() ? kind::Menu : kind::MenuItem;
}

int Window::firstControl() const {
  const WindowImpl& w = gui("firstControl");
  return w.controls_.empty() ? 0 : w.controls_.begin()->first;
}

int Window::lastControl() const {
  const WindowImpl& w = gui("lastControl");
  return w.controls_.empty() ? 0 : w.controls_.rbegin()->first;
}

Rect Window::controlPosition(int control) const {
  const WindowImpl::Control* c = gui("controlPosition").find(control);
  return c ? c->du : Rect{};
}

void Window::setControlPosition(int control, Rect r, bool keepWidth) {
  WindowImpl& w = gui("setControlPosition");
  WindowImpl::Control* c = w.find(control);
  if (!c) return;
  if (keepWidth) r.width = c->du.width;
  c->du = r;
  if (w.deferred_ == 0) {
    w.placeControl(*c);
    return;
  }
  w.pendingMoves_.push_back(control);
  if (w.deferred_ > 0 && --w.deferred_ == 0) w.setDeferredMoves(0);
}

int Window::deferredMoves() const { return gui("deferredMoves").deferred_; }
void Window::setDeferredMoves(int count) { gui("setDeferredMoves").setDeferredMoves(count); }

void WindowImpl::setDeferredMoves(int count) {
  const bool wasCollecting = deferred_ != 0;
  deferred_ = count;
  if (count < 0 || (!wasCollecting && pendingMoves_.empty())) return;
  if (pendingMoves_.empty()) return;
  // Everything collected moves at once, with one repaint.
  if (content_) content_->setUpdatesEnabled(false);
  for (int n : pendingMoves_)
    if (Control* c = find(n)) placeControl(*c);
  pendingMoves_.clear();
  if (content_) content_->setUpdatesEnabled(true);
}

// ---- The window -------------------------------------------------------------------------------------

void Window::setTitle(std::string_view title) {
  WindowImpl& w = gui("setTitle");
  w.title_ = std::string(title);
  if (w.shell_) w.shell_->setWindowTitle(qs(w.title_));
  if (w.sub_) w.sub_->setWindowTitle(qs(w.title_));
}

std::string Window::title() const { return gui("title").title_; }

Rect Window::position() const {
  const WindowImpl& w = gui("position");
  Rect r = w.rect_;
  if (QWidget* top = w.topWidget(); top && w.opened_) {
    const QPoint p = top->pos();
    r.x = static_cast<int>(std::lround(p.x() / w.unitX_));
    r.y = static_cast<int>(std::lround(p.y() / w.unitY_));
  }
  return r;
}

void Window::setPosition(Rect r) {
  WindowImpl& w = gui("setPosition");
  if (w.closed_ || !w.shell_) return;
  w.rect_ = r;
  w.resizeContent(r.width, r.height);
  if (QWidget* top = w.topWidget()) top->move(w.toPixelsX(r.x), w.toPixelsY(r.y));
  w.lastPixels_ = w.opened_ ? w.lastPixels_ : w.contentPixels();
}

void Window::setStatus(int zone, std::string_view text) { ui::setStatus(impl_->ref(), zone, text); }
std::string Window::status(int zone) const { return ui::status(impl_->ref(), zone); }

void WindowImpl::showStatus() {
  std::map<int, std::pair<std::uint64_t, std::string>> latest;  // visible zone → newest write
  {
    std::lock_guard lock(shared_->statusMutex);
    shared_->flushPending = false;
    for (int zone : shared_->dirty) {
      if (zoneLabels_.empty()) break;
      int visible = zone;
      if (zone >= 0 && zone < static_cast<int>(def_->statusZones.size()))
        visible = def_->statusZones[static_cast<std::size_t>(zone)];
      else if (zone < 0 || zone >= static_cast<int>(zoneLabels_.size()))
        visible = static_cast<int>(zoneLabels_.size()) - 1;
      const std::uint64_t seq = shared_->statusSeq[zone];
      auto& slot = latest[visible];
      if (seq >= slot.first) slot = {seq, shared_->status[zone]};
    }
    shared_->dirty.clear();
  }
  for (const auto& [visible, text] : latest)
    zoneBar_->setText(static_cast<std::size_t>(visible), qs(text.second));
}

void WindowImpl::showStatusSoon() {
  constexpr qint64 kFrameMs = 16;
  if (statusFrameArmed_) return;  // the frame's end shows whatever has been written by then
  const qint64 since = statusShown_.isValid() ? statusShown_.elapsed() : kFrameMs;
  if (since >= kFrameMs) {
    showStatus();
    statusShown_.start();
    return;
  }
  // The texts stay marked as pending meanwhile, so the writers post nothing more until they show.
  statusFrameArmed_ = true;
  QTimer::singleShot(static_cast<int>(kFrameMs - since), Qt::PreciseTimer, this, [this] {
    statusFrameArmed_ = false;
    showStatus();
    statusShown_.start();
  });
}

std::string WindowImpl::zoneText(int visibleZone) const {
  if (visibleZone < 0 || visibleZone >= static_cast<int>(zoneLabels_.size())) return {};
  return detail::ss(zoneLabels_[static_cast<std::size_t>(visibleZone)]->text());
}

}  // namespace ui
