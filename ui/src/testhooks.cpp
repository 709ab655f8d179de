// The user's actions and what the window shows, for tests: each does what the mouse or keyboard
// would, through the same widgets and events.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeView>

#include "app.h"
#include "listmodel.h"
#include "qtext.h"
#include "registry.h"
#include "ui/testing.h"
#include "window_impl.h"

namespace ui {

bool WindowImpl::chooseMenu(int number) {
  auto it = menuActions_.find(number);
  if (it == menuActions_.end() || !it->second->isEnabled() || it->second->menu()) return false;
  it->second->trigger();
  return true;
}

bool WindowImpl::enterText(int control, std::string_view text) {
  Control* c = find(control);
  if (!c || c->kind != kind::Entry || !c->widget->isEnabled()) return false;
  auto* e = static_cast<QLineEdit*>(c->widget);
  e->setText(detail::qs(text));  // cut to the picture's width as typing would be
  e->setModified(false);
  return entryAccepted(control);
}

bool WindowImpl::click(int control) {
  Control* c = find(control);
  if (!c || !c->widget->isEnabled()) return false;
  if (auto* b = qobject_cast<QAbstractButton*>(c->widget)) {
    b->click();
    return true;
  }
  return false;
}

bool WindowImpl::clickRow(int control, int row, int key) {
  Control* c = find(control);
  if (!c || !c->model || !c->widget->isEnabled()) return false;
  const QModelIndex index = c->model->indexOf(row);
  if (!index.isValid() || c->model->nearestShown(row) != index) return false;
  if (c->combo) {
    c->combo->setCurrentIndex(index.row());
    emit c->combo->activated(index.row());
    return true;
  }
  // A click gives the list the keyboard, as the mouse does.
  c->view->setFocus(Qt::MouseFocusReason);
  c->view->setCurrentIndex(index);
  if (key == key::MouseRight || key == key::MouseLeftDouble || key == key::Enter)
    enqueue(event::Alert, control, key);
  return true;
}

bool WindowImpl::clickMark(int control, int row) {
  Control* c = find(control);
  if (!c || !c->view || !c->model->showsMarks() || !c->widget->isEnabled()) return false;
  const QModelIndex index = c->model->indexOf(row);
  if (!index.isValid()) return false;
  // The press highlights the row; the release on the box toggles it, through the model as the view's
  // delegate does.
  c->view->setFocus(Qt::MouseFocusReason);
  c->view->setCurrentIndex(index);
  c->model->setData(index, c->model->marked(index) ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  return true;
}

QModelIndex WindowImpl::rowIndex(int control, int position) const {
  const Control* c = find(control);
  return c && c->model ? c->model->indexOf(position) : QModelIndex();
}

QAction* WindowImpl::menuAction(int number) const {
  auto it = menuActions_.find(number);
  return it == menuActions_.end() ? nullptr : it->second;
}

std::string WindowImpl::chosenValue(int control) const {
  const Control* c = find(control);
  if (!c) return {};
  for (int r : c->radios)
    if (const Control* rc = find(r); rc && static_cast<QRadioButton*>(rc->widget)->isChecked())
      return rc->def->value.empty() ? std::to_string(r) : rc->def->value;
  return {};
}

}  // namespace ui

namespace ui::test {
namespace {

// Runs f with the window's implementation on its thread; false when the window is gone.
template <typename F>
auto onWindow(WindowRef ref, F f) -> decltype(f(std::declval<WindowImpl&>())) {
  using R = decltype(f(std::declval<WindowImpl&>()));
  R result{};
  if (!detail::findWindow(ref)) return result;  // stale: no need to wait for the window's thread
  detail::runOnGui(
      [&] {
        if (auto w = detail::findWindow(ref); w && w->impl) result = f(*w->impl);
      },
      true);
  return result;
}

std::vector<std::string> rowsOf(QWidget* widget, bool onlyCurrent) {
  std::vector<std::string> out;
  detail::ListModel* model = nullptr;
  QModelIndex current;
  if (auto* v = qobject_cast<QTreeView*>(widget)) {
    model = dynamic_cast<detail::ListModel*>(v->model());
    current = v->currentIndex();
  } else if (auto* b = qobject_cast<QComboBox*>(widget)) {
    model = dynamic_cast<detail::ListModel*>(b->model());
    if (model) current = model->index(b->currentIndex(), 0);
  }
  if (!model) return out;
  if (onlyCurrent) {
    if (current.isValid()) out.push_back(model->rowText(current));
    return out;
  }
  for (const QModelIndex& r : model->shownRows()) out.push_back(model->rowText(r));
  return out;
}

}  // namespace

bool chooseMenu(WindowRef window, int number) {
  return onWindow(window, [&](WindowImpl& w) { return w.chooseMenu(number); });
}

bool click(WindowRef window, int control) {
  return onWindow(window, [&](WindowImpl& w) { return w.click(control); });
}

bool enterText(WindowRef window, int control, std::string_view text) {
  const std::string t(text);
  return onWindow(window, [&](WindowImpl& w) { return w.enterText(control, t); });
}

bool clickRow(WindowRef window, int control, int row, int keyCode) {
  return onWindow(window, [&](WindowImpl& w) { return w.clickRow(control, row, keyCode); });
}

bool clickMark(WindowRef window, int control, int row) {
  return onWindow(window, [&](WindowImpl& w) { return w.clickMark(control, row); });
}

bool closeBox(WindowRef window) {
  return onWindow(window, [&](WindowImpl& w) {
    w.userClose();
    return true;
  });
}

bool resizeTo(WindowRef window, int width, int height) {
  return onWindow(window, [&](WindowImpl& w) {
    QWidget* top = w.topWidget();
    if (!top) return false;
    const QSize target = w.pixels({0, 0, width, height});
    const QSize now = w.clientPixels();
    top->resize(top->size() + (target - now));
    return true;
  });
}

std::string shownText(WindowRef window, int control) {
  return onWindow(window, [&](WindowImpl& w) -> std::string {
    QWidget* widget = w.widget(control);
    if (!widget) return {};
    if (auto* e = qobject_cast<QLineEdit*>(widget)) return detail::ss(e->text());
    if (auto* l = qobject_cast<QLabel*>(widget)) return detail::ss(l->text());
    if (auto* c = qobject_cast<QCheckBox*>(widget)) return c->isChecked() ? "1" : "0";
    if (auto* r = qobject_cast<QRadioButton*>(widget)) return r->isChecked() ? "1" : "0";
    if (auto* b = qobject_cast<QAbstractButton*>(widget)) return detail::ss(b->text());
    if (auto* p = qobject_cast<QProgressBar*>(widget)) return std::to_string(p->value());
    if (w.controlKind(control) == kind::OptionGroup) return w.chosenValue(control);
    if (auto* g = qobject_cast<QGroupBox*>(widget)) return detail::ss(g->title());
    auto rows = rowsOf(widget, true);
    return rows.empty() ? std::string() : rows.front();
  });
}

std::vector<std::string> shownRows(WindowRef window, int control) {
  return onWindow(window, [&](WindowImpl& w) { return rowsOf(w.widget(control), false); });
}

std::vector<bool> shownMarks(WindowRef window, int control) {
  return onWindow(window, [&](WindowImpl& w) {
    std::vector<bool> marks;
    auto* view = qobject_cast<QTreeView*>(w.widget(control));
    auto* model = view ? dynamic_cast<detail::ListModel*>(view->model()) : nullptr;
    if (!model || !model->showsMarks()) return marks;
    for (const QModelIndex& r : model->shownRows()) marks.push_back(model->marked(r));
    return marks;
  });
}

bool withWidgets(WindowRef window, const std::function<void(const Widgets&)>& f) {
  struct Of final : Widgets {
    explicit Of(WindowImpl& w) : w(w) {}
    QWidget* control(int number) const override { return w.widget(number); }
    QWidget* window() const override { return w.topWidget(); }
    QModelIndex row(int control, int position) const override { return w.rowIndex(control, position); }
    QAction* menuEntry(int number) const override { return w.menuAction(number); }
    WindowImpl& w;
  };
  return onWindow(window, [&](WindowImpl& w) {
    f(Of(w));
    return true;
  });
}

std::string shownStatus(WindowRef window, int visibleZone) {
  return onWindow(window, [&](WindowImpl& w) { return w.zoneText(visibleZone); });
}

}  // namespace ui::test
