// Building a window's widgets from its definition: dialog units from the window's font, the menu
// bar, the status bar and each kind of control, placed at its dialog-unit geometry.
#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeView>
#include <cmath>
#include <vector>

#include "icons.h"
#include "kernel/ascii.h"
#include "listmodel.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {
namespace {

using detail::qs;

QFont windowFont(const detail::WindowDef& d) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  // The classic dialog face exists on no Linux system: the system's sans font stands in for it.
  if (!d.fontFace.empty() && !kernel::equalIgnoringAsciiCase(d.fontFace, "MS Sans Serif") &&
      !kernel::equalIgnoringAsciiCase(d.fontFace, "MS Shell Dlg")) {
    f.setFamily(qs(d.fontFace));
    f.setStyleHint(QFont::SansSerif);
  }
  f.setPointSize(d.fontPoints);
  return f;
}

// A column narrower than its title widens to show it whole, taking the room from the column with the
// most to spare beyond its own title, so that the columns still span what the definition gave them.
void fitTitles(QHeaderView* header, std::vector<int>& widths) {
  const int count = static_cast<int>(widths.size());
  for (int i = 0; i < count; ++i) {
    const int need = header->sectionSizeHint(i) - widths[static_cast<std::size_t>(i)];
    if (need <= 0) continue;
    widths[static_cast<std::size_t>(i)] += need;
    int donor = -1, spare = 0;
    for (int j = 0; j < count; ++j) {
      const int room = widths[static_cast<std::size_t>(j)] - header->sectionSizeHint(j);
      if (j != i && room > spare) donor = j, spare = room;
    }
    if (donor >= 0) widths[static_cast<std::size_t>(donor)] -= std::min(spare, need);
  }
}

}  // namespace

QSize WindowImpl::pixels(Rect r) const { return {toPixelsX(r.width), toPixelsY(r.height)}; }
int WindowImpl::toPixelsX(int du) const { return static_cast<int>(std::lround(du * unitX_)); }
int WindowImpl::toPixelsY(int du) const { return static_cast<int>(std::lround(du * unitY_)); }

void WindowImpl::build() {
  shell_ = new detail::Shell([this] { userClose(); }, [this] { activated(); });
  const QFont font = windowFont(*def_);
  shell_->setFont(font);
  // Dialog units: a quarter of the average character width across, an eighth of the height down.
  const QFontMetricsF fm(font);
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  unitX_ = fm.horizontalAdvance(letters) / letters.size() / 4.0;
  unitY_ = fm.height() / 8.0;
  shell_->setWindowTitle(qs(title_));
  if (!def_->icon.empty()) {
    const QIcon icon = detail::iconFor(def_->icon, def_->prefix);
    shell_->setWindowIcon(icon);
    // The program's frame lends its icon to the windows that have none of their own.
    if (isFrame()) QApplication::setWindowIcon(icon);
  }
  const QSize size = pixels(rect_);
  if (isFrame()) {
    mdi_ = new detail::FrameArea(size);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    shell_->setCentralWidget(mdi_);
  } else {
    content_ = new detail::Content(size, [this] { userResized(); });
    shell_->setCentralWidget(content_);
  }
  if (!def_->menus.empty()) buildMenus(nullptr, def_->menus);
  buildStatusBar();
  for (const auto& c : def_->controls) buildControl(c);
  for (auto& [number, c] : controls_) {
    if (c.kind == kind::Radio) {
      auto g = controls_.find(c.def->group);
      g->second.radios.push_back(number);
    }
  }
  for (auto& [number, c] : controls_) {
    if (c.kind != kind::OptionGroup) continue;
    auto* group = new QButtonGroup(c.widget);
    for (int r : c.radios) group->addButton(static_cast<QAbstractButton*>(controls_[r].widget));
  }
  // Boxes behind what they surround.
  for (auto& [number, c] : controls_)
    if (c.kind == kind::Frame || c.kind == kind::OptionGroup) c.widget->lower();
  resizeContent(rect_.width, rect_.height);
}

void WindowImpl::buildMenus(QMenu* into, const std::vector<detail::MenuDef>& items) {
  for (const auto& m : items) {
    if (m.separator) {
      if (into) into->addSeparator();
      continue;
    }
    if (m.isMenu) {
      QMenu* menu = into ? into->addMenu(qs(m.text)) : shell_->menuBar()->addMenu(qs(m.text));
      if (!m.hint.empty()) menu->menuAction()->setStatusTip(qs(m.hint));
      if (m.number != 0) menuActions_[m.number] = menu->menuAction();
      buildMenus(menu, m.items);
      if (m.windowList)
        QObject::connect(menu, &QMenu::aboutToShow, this, [this, menu] { fillWindowList(menu); });
      continue;
    }
    QAction* a = into ? into->addAction(qs(m.text)) : shell_->menuBar()->addAction(qs(m.text));
    if (!m.hint.empty()) a->setStatusTip(qs(m.hint));
    const int number = m.number;
    const std::string standard = m.standard;
    if (number != 0) {
      menuActions_[number] = a;
      menuStandard_[number] = standard;
    }
    QObject::connect(a, &QAction::triggered, this, [this, number, standard] {
      if (!standard.empty())
        runStandard(standard);
      else if (number != 0)
        enqueue(event::Accepted, number, key::MouseLeft);
    });
  }
}

void WindowImpl::buildStatusBar() {
  if (!def_->hasStatusBar && !isFrame()) return;
  QStatusBar* bar = shell_->statusBar();
  bar->setSizeGripEnabled(def_->resizable || isFrame());
  if (def_->statusWidths.empty()) return;
  zoneBar_ = new detail::ZoneBar;
  for (std::size_t i = 0; i < def_->statusWidths.size(); ++i) {
    const int du = def_->statusWidths[i];
    auto* label = new detail::ZoneLabel(du > 0 ? toPixelsX(du) : 0);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    zoneBar_->add(label);
    zoneLabels_.push_back(label);
  }
  bar->addWidget(zoneBar_, 1);
}

void WindowImpl::buildControl(const detail::ControlDef& d) {
  Control c;
  c.def = &d;
  c.kind = d.kind;
  c.du = {d.x, d.y, d.width, d.height};
  const int n = d.number;
  QWidget* w = nullptr;
  switch (d.kind) {
    case kind::Prompt: {
      auto* l = new QLabel(qs(d.text), content_);
      l->setTextFormat(Qt::PlainText);
      w = l;
      break;
    }
    case kind::DisplayText: {
      auto* l = new detail::DisplayLabel(content_);
      l->show(qs(d.text));
      w = l;
      break;
    }
    case kind::Entry: {
      auto* e = new QLineEdit(qs(d.text), content_);
      if (d.hasPicture) e->setMaxLength(d.picture.width + (d.picture.type == 'n' && d.picture.sign ? 1 : 0));
      if (d.password) e->setEchoMode(QLineEdit::Password);
      QObject::connect(e, &QLineEdit::editingFinished, this, [this, n, e] {
        if (quiet_ || !e->isModified()) return;
        e->setModified(false);
        entryAccepted(n);
      });
      w = e;
      break;
    }
    case kind::Button: {
      auto* b = new QPushButton(qs(d.text), content_);
      if (!d.icon.empty()) b->setIcon(detail::iconFor(d.icon, def_->prefix));
      b->setDefault(d.isDefault);
      b->setAutoDefault(false);
      QObject::connect(b, &QPushButton::clicked, this,
                       [this, n] { enqueue(event::Accepted, n, key::MouseLeft); });
      w = b;
      c.image = d.icon;
      break;
    }
    case kind::CheckBox: {
      auto* b = new QCheckBox(qs(d.text), content_);
      QObject::connect(b, &QCheckBox::clicked, this,
                       [this, n] { enqueue(event::Accepted, n, key::MouseLeft); });
      w = b;
      break;
    }
    case kind::OptionGroup:
    case kind::Frame: {
      auto* box = new QGroupBox(qs(d.text), content_);
      // Definitions place what a box holds as the classic dialogs draw it: the box's top line runs
      // through the middle of its title, and the first row inside starts one text line down. Styles
      // that put the line below the title would cut through that row.
      if (!d.text.empty())
        box->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                                          " margin-top: %1px; }"
                                          " QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                                          " padding: 0 %3px; }")
                               .arg(std::lround(4 * unitY_))
                               .arg(std::lround(4 * unitX_))
                               .arg(std::lround(unitX_)));
      w = box;
      break;
    }
    case kind::Radio: {
      auto* r = new QRadioButton(qs(d.text), content_);
      r->setAutoExclusive(false);  // its option group decides, not its siblings
      QObject::connect(r, &QRadioButton::clicked, this, [this, n] { chooseRadio(n, true); });
      w = r;
      break;
    }
    case kind::ProgressBar: {
      auto* p = new QProgressBar(content_);
      p->setRange(d.low, d.high);
      p->setValue(d.low);
      p->setTextVisible(false);
      w = p;
      break;
    }
    case kind::Image: {
      auto* l = new QLabel(content_);
      l->setAlignment(Qt::AlignCenter);
      w = l;
      c.image = d.icon;
      break;
    }
    case kind::List:
      w = buildList(c);
      break;
    case kind::DropList: {
      auto* b = new QComboBox(content_);
      c.model = new detail::ListModel(d.format, b);
      b->setModel(c.model);
      QObject::connect(b, &QComboBox::activated, this,
                       [this, n] { enqueue(event::Accepted, n, key::MouseLeft); });
      c.combo = b;
      w = b;
      break;
    }
    default:
      break;
  }
  if (!d.tooltip.empty()) w->setToolTip(qs(d.tooltip));
  c.widget = w;
  if (d.naturalSize) {
    const QSize hint = w->sizeHint();
    c.du.width = static_cast<int>(std::ceil(hint.width() / unitX_));
    c.du.height = static_cast<int>(std::ceil(hint.height() / unitY_));
    // A display's text comes later, and may be any length: it gets the room up to the window's
    // right edge, leaving there the margin it has on the left (at most 4 units), and one line.
    if (d.kind == kind::DisplayText) {
      c.du.width = std::max(1, rect_.width - d.x - std::min(d.x, 4));
      c.du.height = static_cast<int>(std::ceil(QFontMetricsF(w->font()).height() / unitY_));
    }
  }
  auto& stored = controls_[n] = std::move(c);
  if (stored.kind == kind::Image && !stored.image.empty()) setImage(n, stored.image);
  placeControl(stored);
}

// A list is a tree view over a model of its source's rows: columns as its format gives them, a tree
// column drawn by indenting, and the alert gestures turned into Alert events.
QWidget* WindowImpl::buildList(Control& c) {
  const detail::ControlDef& d = *c.def;
  const int n = d.number;
  auto* v = new detail::ListView(content_);
  v->setRootIsDecorated(false);
  v->setItemsExpandable(false);
  v->setUniformRowHeights(true);
  v->setSelectionMode(QAbstractItemView::SingleSelection);
  v->setSelectionBehavior(QAbstractItemView::SelectRows);
  v->setAllColumnsShowFocus(true);
  v->setEditTriggers(QAbstractItemView::NoEditTriggers);
  v->setExpandsOnDoubleClick(false);
  v->header()->setVisible(d.format.hasHeader);
  v->header()->setStretchLastSection(false);
  v->header()->setSectionsMovable(false);
  c.model = new detail::ListModel(d.format, v);
  v->setModel(c.model);
  std::vector<int> widths;
  for (std::size_t i = 0; i < d.format.columns.size(); ++i) {
    const auto& col = d.format.columns[i];
    v->header()->setSectionResizeMode(static_cast<int>(i),
                                      col.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    widths.push_back(toPixelsX(col.width));
  }
  if (d.format.hasHeader) fitTitles(v->header(), widths);
  for (std::size_t i = 0; i < widths.size(); ++i) v->setColumnWidth(static_cast<int>(i), widths[i]);
  // Each level of a tree indents its rows by a little more than an icon's width.
  if (d.format.treeColumn >= 0) v->setIndentation(toPixelsX(10));
  QObject::connect(v->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this, n] {
    if (!quiet_) enqueue(event::NewSelection, n);
  });
  // Right button, double-click and Enter raise the list's alert, with keyCode() telling which.
  // The viewport is taken now: the filter also sees events while the view is being destroyed.
  QWidget* viewport = v->viewport();
  auto* filter = new detail::Filter(v, [this, n, v, viewport](QObject* watched, QEvent* e) {
    if (watched == viewport) {
      if (e->type() == QEvent::MouseButtonPress &&
          static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
        const QModelIndex index = v->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
        if (index.isValid()) v->setCurrentIndex(index);
        enqueue(event::Alert, n, key::MouseRight);
        return true;
      }
      if (e->type() == QEvent::MouseButtonDblClick &&
          static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        enqueue(event::Alert, n, key::MouseLeftDouble);
        return true;
      }
    } else if (e->type() == QEvent::KeyPress) {
      const int k = static_cast<QKeyEvent*>(e)->key();
      if (k == Qt::Key_Return || k == Qt::Key_Enter) {
        enqueue(event::Alert, n, key::Enter);
        return true;
      }
    }
    return false;
  });
  viewport->installEventFilter(filter);
  v->installEventFilter(filter);
  c.view = v;
  return v;
}

void WindowImpl::placeControl(Control& c) {
  if (!c.widget) return;
  c.widget->setGeometry(toPixelsX(c.du.x), toPixelsY(c.du.y), toPixelsX(c.du.width), toPixelsY(c.du.height));
  if (c.kind == kind::Image && !c.image.empty()) setImage(c.def->number, c.image);
}

QSize WindowImpl::contentPixels() const {
  if (content_) return content_->size();
  if (mdi_) return mdi_->size();
  return {};
}

void WindowImpl::resizeContent(int widthDu, int heightDu) {
  if (!shell_) return;
  const QSize target = pixels({0, 0, widthDu, heightDu});
  QWidget* area = content_ ? static_cast<QWidget*>(content_) : static_cast<QWidget*>(mdi_);
  if (content_) content_->setHint(target);
  if (mdi_) static_cast<detail::FrameArea*>(mdi_)->setHint(target);
  // Fix the client area for a moment so that the window around it takes the size it needs.
  area->setFixedSize(target);
  shell_->adjustSize();
  if (sub_) sub_->adjustSize();
  if (def_->resizable || isFrame()) {
    area->setMinimumSize(0, 0);
    area->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
}

WindowImpl::Control* WindowImpl::find(int control) {
  auto it = controls_.find(control);
  return it == controls_.end() || !it->second.widget ? nullptr : &it->second;
}

const WindowImpl::Control* WindowImpl::find(int control) const {
  auto it = controls_.find(control);
  return it == controls_.end() || !it->second.widget ? nullptr : &it->second;
}

QWidget* WindowImpl::widget(int control) const {
  const Control* c = find(control);
  return c ? c->widget : nullptr;
}

}  // namespace ui
