// A user's mouse and keyboard on the windows the runtime builds, through Qt's own input events
// (QTest): a click in the middle of a button, text typed into an entry, a row clicked where the view
// draws it, a drop-down list opened and a row chosen in it, a menu opened on the menu bar. Each runs
// on the window's thread and returns false when the window, control or row is not there to take the
// input (missing, disabled, hidden, scrolled away). Message boxes and popup menus have no widget in a
// headless run: the runtime's hooks answer those.
#pragma once

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeView>
#include <functional>
#include <string_view>

#include "ui/testing.h"

namespace uitest {

// The ways a user picks a list's row.
enum class Pick { Click, Right, Double, Enter };

namespace detail {

inline bool usable(const QWidget* w) { return w && w->isVisible() && w->isEnabled(); }

// The part of a row the view shows: its first column, cut to the viewport.
inline QRect shownRect(QTreeView* view, const QModelIndex& index) {
  // A row under a closed folder is not there to click (scrolling to it would open the folder).
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
    if (!view->isExpanded(up)) return {};
  view->scrollTo(index);
  return view->visualRect(index).intersected(view->viewport()->rect());
}

// A list's view and the shown part of a row of it, when both are there to be clicked.
inline bool listRow(const ui::test::Widgets& w, int control, int position, QTreeView*& view,
                    QModelIndex& index, QRect& shown) {
  view = qobject_cast<QTreeView*>(w.control(control));
  index = w.row(control, position);
  if (!usable(view) || !index.isValid()) return false;
  shown = shownRect(view, index);
  return !shown.isEmpty();
}

inline bool onWidgets(ui::WindowRef window, const std::function<bool(const ui::test::Widgets&)>& f) {
  bool ok = false;
  ui::test::withWidgets(window, [&](const ui::test::Widgets& w) { ok = f(w); });
  return ok;
}

}  // namespace detail

// A left click in the middle of a button, check box or radio button.
inline bool press(ui::WindowRef window, int control) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    QWidget* c = w.control(control);
    if (!detail::usable(c)) return false;
    QTest::mouseClick(c, Qt::LeftButton, {}, c->rect().center());
    return true;
  });
}

// Clicks into an entry, selects what it holds, types the text and presses Enter.
inline bool type(ui::WindowRef window, int control, std::string_view text) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    auto* e = qobject_cast<QLineEdit*>(w.control(control));
    if (!detail::usable(e)) return false;
    QTest::mouseClick(e, Qt::LeftButton, {}, e->rect().center());
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    if (text.empty())
      QTest::keyClick(e, Qt::Key_Delete);
    else
      QTest::keyClicks(e, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    QTest::keyClick(e, Qt::Key_Return);
    return true;
  });
}

// A key pressed where the keyboard is in the window (its focused control, else the window).
inline bool key(ui::WindowRef window, Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    QWidget* top = w.window();
    if (!top) return false;
    QWidget* focus = top->focusWidget() ? top->focusWidget() : top;
    QTest::keyClick(focus, k, modifiers);
    return true;
  });
}

// A list's row, by its position in the list's source, picked as a user would: clicked, clicked with
// the right button, double-clicked, or clicked and Enter pressed.
inline bool pickRow(ui::WindowRef window, int control, int position, Pick how = Pick::Click) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    QTreeView* view = nullptr;
    QModelIndex index;
    QRect r;
    if (!detail::listRow(w, control, position, view, index, r)) return false;
    QWidget* port = view->viewport();
    switch (how) {
      case Pick::Click:
        QTest::mouseClick(port, Qt::LeftButton, {}, r.center());
        break;
      case Pick::Right:
        QTest::mouseClick(port, Qt::RightButton, {}, r.center());
        break;
      case Pick::Double:
        // As the mouse sends it: a click, then the second press as a double-click, and its release
        // (QTest's double-click alone is the second press only).
        QTest::mouseClick(port, Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(port, Qt::LeftButton, {}, r.center());
        QTest::mouseRelease(port, Qt::LeftButton, {}, r.center());
        break;
      case Pick::Enter:
        QTest::mouseClick(port, Qt::LeftButton, {}, r.center());
        QTest::keyClick(view, Qt::Key_Return);
        break;
    }
    return true;
  });
}

// A click on the tick box of a list's row.
inline bool clickMark(ui::WindowRef window, int control, int position) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    QTreeView* view = nullptr;
    QModelIndex index;
    QRect r;
    if (!detail::listRow(w, control, position, view, index, r)) return false;
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box.center());
    return true;
  });
}

// A drop-down list opened with a click and a row chosen in its popup with the arrow keys and Enter.
inline bool chooseDrop(ui::WindowRef window, int control, int position) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    auto* combo = qobject_cast<QComboBox*>(w.control(control));
    const QModelIndex index = w.row(control, position);
    if (!detail::usable(combo) || !index.isValid()) return false;
    QTest::mouseClick(combo, Qt::LeftButton, {}, combo->rect().center());
    QAbstractItemView* popup = combo->view();
    if (!popup->isVisible()) return false;
    int at = popup->currentIndex().isValid() ? popup->currentIndex().row() : 0;
    for (; at < index.row(); ++at) QTest::keyClick(popup, Qt::Key_Down);
    for (; at > index.row(); --at) QTest::keyClick(popup, Qt::Key_Up);
    QTest::keyClick(popup, Qt::Key_Return);
    return true;
  });
}

// A menu bar's menu opened with a click, and one of its entries clicked.
inline bool chooseMenu(ui::WindowRef window, int entry) {
  return detail::onWidgets(window, [&](const ui::test::Widgets& w) {
    QAction* action = w.menuEntry(entry);
    if (!action || !action->isEnabled()) return false;
    QMenu* menu = nullptr;
    for (QObject* o : action->associatedObjects())
      if ((menu = qobject_cast<QMenu*>(o))) break;
    QMenuBar* bar = nullptr;
    if (menu)
      for (QObject* o : menu->menuAction()->associatedObjects())
        if ((bar = qobject_cast<QMenuBar*>(o))) break;
    if (!bar) return false;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    if (!menu->isVisible()) return false;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return true;
  });
}

}  // namespace uitest
