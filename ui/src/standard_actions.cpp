// Menu entries the runtime carries out itself, named by their definition's "standard" field: print
// set-up, exit, the clipboard on the focused control, tile, cascade, arrange icons and help; and the
// list of child windows in a frame's window menu.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QTreeView>

#include "dialogs.h"
#include "listmodel.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {
namespace {

// Copies what the focused control holds: an entry's selection, a list's highlighted row, a drop-down
// list's chosen row. Cut and paste only work on an entry the user may change.
void clipboardAction(const std::string& action, QWidget* focus) {
  if (auto* e = qobject_cast<QLineEdit*>(focus)) {
    if (action == "cut" && !e->isReadOnly())
      e->cut();
    else if (action == "copy")
      e->copy();
    else if (action == "paste" && !e->isReadOnly())
      e->paste();
  } else if (action == "copy") {
    if (auto* v = qobject_cast<QTreeView*>(focus); v && v->currentIndex().isValid()) {
      if (auto* m = dynamic_cast<detail::ListModel*>(v->model()))
        QApplication::clipboard()->setText(detail::qs(m->rowText(v->currentIndex())));
    } else if (auto* b = qobject_cast<QComboBox*>(focus)) {
      QApplication::clipboard()->setText(b->currentText());
    }
  }
}

// Minimised windows in a row along the bottom edge, left to right.
void arrangeIcons(QMdiArea& mdi) {
  int x = 0;
  const int bottom = mdi.viewport()->height();
  for (QMdiSubWindow* sub : mdi.subWindowList())
    if (sub->isMinimized()) {
      sub->move(x, bottom - sub->height());
      x += sub->width();
    }
}

}  // namespace

void WindowImpl::runStandard(const std::string& action) {
  if (action == "exit") {
    enqueue(event::CloseWindow, 0);
  } else if (action == "printsetup") {
    if (detail::dialogsHeadless()) {
      detail::recordStandardDialog(action);
      return;
    }
    static QPrinter* printer = new QPrinter;  // the choice holds for the rest of the run
    QPrintDialog dialog(printer, shell_);
    dialog.setWindowTitle(QStringLiteral("Print Setup"));
    dialog.exec();
  } else if (action == "cut" || action == "copy" || action == "paste") {
    QWidget* focus = QApplication::focusWidget();
    if (!focus && shell_) focus = shell_->focusWidget();
    clipboardAction(action, focus);
  } else if (action == "tile") {
    if (mdi_) mdi_->tileSubWindows();
  } else if (action == "cascade") {
    if (mdi_) mdi_->cascadeSubWindows();
  } else if (action == "arrange") {
    if (mdi_) arrangeIcons(*mdi_);
  } else if (action == "helpcontents" || action == "helpsearch" || action == "helponhelp") {
    if (detail::dialogsHeadless()) detail::recordStandardDialog(action);
    ui::message("No help file is installed for this program.", "Help", IDI_ASTERISK, BUTTON_OK);
  }
}

void WindowImpl::fillWindowList(QMenu* menu) {
  for (QAction* a : menu->actions())
    if (a->property("uirtWindowList").toBool()) {
      menu->removeAction(a);
      a->deleteLater();
    }
  if (!mdi_) return;
  const auto subs = mdi_->subWindowList();
  if (subs.isEmpty()) return;
  QAction* sep = menu->addSeparator();
  sep->setProperty("uirtWindowList", true);
  int n = 0;
  for (QMdiSubWindow* sub : subs) {
    QAction* a = menu->addAction(QStringLiteral("&%1 %2").arg(++n).arg(sub->windowTitle()));
    a->setProperty("uirtWindowList", true);
    a->setCheckable(true);
    a->setChecked(sub == mdi_->activeSubWindow());
    QPointer<QMdiSubWindow> target = sub;
    QObject::connect(a, &QAction::triggered, this, [this, target] {
      if (target && mdi_) mdi_->setActiveSubWindow(target);
    });
  }
}

}  // namespace ui
