// Windows built from definitions: widgets, the event queue and pull loop, bound variables and the
// properties of controls and windows.
#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTreeView>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app.h"
#include "dialogs.h"
#include "icons.h"
#include "listmodel.h"
#include "qtext.h"
#include "widgets.h"
#include "window_impl.h"

namespace ui {
namespace detail {

void Shell::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (closeBox_) closeBox_();
}

void Shell::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && activated_) activated_();
}

void SubWindow::closeEvent(QCloseEvent* e) {
  e->ignore();
  if (closeBox_) closeBox_();
}

}  // namespace detail

namespace {

using detail::qs;
using detail::ss;

// The frame that windows opened meanwhile become children of (GUI thread only).
QPointer<WindowImpl> gFrame;

void updateFrameBusy() {
  if (WindowImpl* frame = gFrame.data(); frame && frame->isOpen())
    frame->setBusy(detail::latestOpenWindow() != frame);
}

bool sameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

QFont windowFont(const detail::WindowDef& d) {
  QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  // The classic dialog face exists on no Linux system: the system's sans font stands in for it.
  if (!d.fontFace.empty() && !sameFolded(d.fontFace, "MS Sans Serif") &&
      !sameFolded(d.fontFace, "MS Shell Dlg")) {
    f.setFamily(qs(d.fontFace));
    f.setStyleHint(QFont::SansSerif);
  }
  f.setPointSize(d.fontPoints);
  return f;
}

long long toNumber(std::string_view s, bool& ok) {
  std::string t(trim(s));
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  ok = !t.empty() && end && *end == '\0';
  return v;
}

}  // namespace

WindowImpl::WindowImpl(std::shared_ptr<const detail::WindowDef> def) : def_(std::move(def)) {
  shared_ = detail::registerWindow(this);
  title_ = def_->title;
  rect_ = {def_->x, def_->y, def_->width, def_->height};
  build();
}

WindowImpl::~WindowImpl() { close(); }

QSize WindowImpl::pixels(Rect r) const {
  return {static_cast<int>(std::lround(r.width * unitX_)), static_cast<int>(std::lround(r.height * unitY_))};
}

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
  if (!def_->icon.empty()) shell_->setWindowIcon(detail::iconFor(def_->icon, def_->prefix));
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

void WindowImpl::buildStatusBar() {
  if (!def_->hasStatusBar && !isFrame()) return;
  QStatusBar* bar = shell_->statusBar();
  bar->setSizeGripEnabled(def_->resizable || isFrame());
  for (std::size_t i = 0; i < def_->statusWidths.size(); ++i) {
    const int du = def_->statusWidths[i];
    auto* label = new detail::ZoneLabel(du > 0 ? static_cast<int>(std::lround(du * unitX_)) : 0);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(label, du > 0 ? 0 : 1);
    zoneLabels_.push_back(label);
  }
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
      auto* l = new QLabel(qs(d.text), content_);
      l->setTextFormat(Qt::PlainText);
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
    case kind::Frame:
      w = new QGroupBox(qs(d.text), content_);
      break;
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
    case kind::List: {
      auto* v = new QTreeView(content_);
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
      c.model = new detail::ListModel(d.format, unitX_, v);
      v->setModel(c.model);
      for (std::size_t i = 0; i < d.format.columns.size(); ++i) {
        const auto& col = d.format.columns[i];
        const int section = static_cast<int>(i);
        v->header()->setSectionResizeMode(section,
                                          col.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
        v->setColumnWidth(section, static_cast<int>(std::lround(col.width * unitX_)));
      }
      if (d.format.treeColumn >= 0)
        v->setItemDelegate(new detail::TreeDelegate(d.format.treeColumn, v->indentation(), v));
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
      w = v;
      break;
    }
    case kind::DropList: {
      auto* b = new QComboBox(content_);
      c.model = new detail::ListModel(d.format, unitX_, b);
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
  }
  auto& stored = controls_[n] = std::move(c);
  if (stored.kind == kind::Image && !stored.image.empty()) setImage(n, stored.image);
  placeControl(stored);
}

void WindowImpl::placeControl(Control& c) {
  if (!c.widget) return;
  c.widget->setGeometry(static_cast<int>(std::lround(c.du.x * unitX_)),
                        static_cast<int>(std::lround(c.du.y * unitY_)),
                        static_cast<int>(std::lround(c.du.width * unitX_)),
                        static_cast<int>(std::lround(c.du.height * unitY_)));
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

// ---- Life --------------------------------------------------------------------------------------------

void WindowImpl::open() {
  if (opened_ || closed_ || !shell_) return;
  WindowImpl* frame = gFrame.data();
  if (frame && frame != this && frame->isOpen() && frame->mdi_ && def_->kind == "window") {
    auto* sub = new detail::SubWindow([this] { userClose(); });
    sub_ = sub;
    sub->setWidget(shell_);
    sub->setWindowTitle(qs(title_));
    sub->setWindowIcon(shell_->windowIcon());
    if (!def_->resizable) sub->setWindowFlags(sub->windowFlags() & ~Qt::WindowMaximizeButtonHint);
    frame->mdi_->addSubWindow(sub);
    QObject::connect(frame->mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* active) {
      if (active && active == sub_) activated();
    });
    QObject::connect(sub, &QObject::destroyed, this, [this] {
      // The frame went away under the window: it is closed from now on.
      sub_ = nullptr;
      shell_ = nullptr;
      content_ = nullptr;
      controls_.clear();
      zoneLabels_.clear();
      enqueue(event::CloseWindow, 0);
    });
    sub->adjustSize();
    if (def_->hasPosition)
      sub->move(static_cast<int>(std::lround(def_->x * unitX_)),
                static_cast<int>(std::lround(def_->y * unitY_)));
    // A child larger than the frame's client area widens the frame rather than hiding its edges.
    const QSize need(sub->geometry().right() + 1, sub->geometry().bottom() + 1);
    const QSize have = frame->mdi_->viewport()->size();
    if (need.width() > have.width() || need.height() > have.height()) {
      QWidget* top = frame->shell_;
      top->resize(top->size() + QSize(std::max(0, need.width() - have.width()),
                                      std::max(0, need.height() - have.height())));
    }
    sub->show();
    frame->mdi_->setActiveSubWindow(sub);
  } else {
    if (def_->kind == "dialog") {
      if (WindowImpl* owner = detail::latestOpenWindow(); owner && owner->topWidget()) {
        shell_->setParent(owner->topWidget()->window(), Qt::Dialog);
      }
      shell_->setWindowModality(Qt::ApplicationModal);
    }
    shell_->adjustSize();
    if (def_->hasPosition) {
      shell_->move(static_cast<int>(std::lround(def_->x * unitX_)),
                   static_cast<int>(std::lround(def_->y * unitY_)));
    } else if (QWidget* parent = shell_->parentWidget()) {
      shell_->move(parent->window()->geometry().center() - shell_->rect().center());
    } else if (QScreen* screen = QApplication::primaryScreen()) {
      shell_->move(screen->availableGeometry().center() - shell_->rect().center());
    }
    shell_->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) shell_->raise();  // it has no stacking
    shell_->activateWindow();
  }
  opened_ = true;
  if (isFrame()) gFrame = this;
  detail::windowOpened(shared_);
  updateFrameBusy();
  fifo_.push_front({event::OpenWindow, 0, -1, false});
  lastPixels_ = contentPixels();
  for (auto& [number, c] : controls_)
    if (c.model) refreshList(c);
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

QWidget* WindowImpl::widget(int control) const {
  const Control* c = find(control);
  return c ? c->widget : nullptr;
}

// ---- Events ------------------------------------------------------------------------------------------

void WindowImpl::enqueue(int event, int control, int key, bool posted) {
  if (closed_ || closeWindowDelivered_) return;
  fifo_.push_back({event, control, key, posted});
  if (loop_) loop_->exit(0);
}

void WindowImpl::enqueuePosted(int event, int control) { enqueue(event, control, -1, true); }

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

bool WindowImpl::accept() {
  if (!opened_ || closed_ || closeDownDelivered_) return false;
  if (closeWindowDelivered_) {
    closeDownDelivered_ = true;
    event_ = event::CloseDown;
    control_ = 0;
    return true;
  }
  while (fifo_.empty()) {
    QEventLoop loop;
    loop_ = &loop;
    const int rc = loop.exec();
    loop_ = nullptr;
    if (closed_) return false;
    // The application is quitting: the window closes as if its close box were pressed.
    if (fifo_.empty() && rc != 0) fifo_.push_back({event::CloseWindow, 0, -1, false});
  }
  const Pending p = fifo_.front();
  fifo_.pop_front();
  event_ = p.event;
  control_ = p.control;
  if (p.key >= 0) setKeyCode(p.key);
  if (p.posted && p.event == event::GainFocus)
    shared_->gainFocusPending.store(false, std::memory_order_release);
  if (event_ == event::CloseWindow) closeWindowDelivered_ = true;
  // Accepting a control copies what the user entered into its variable.
  if (event_ == event::Accepted && control_ > 0) update(control_);
  return true;
}

bool WindowImpl::entryAccepted(int number) {
  Control* c = find(number);
  if (!c) return false;
  auto* e = static_cast<QLineEdit*>(c->widget);
  if (c->def->hasPicture && c->def->picture.type == 'n') {
    bool ok = false;
    const long long v = toNumber(ss(e->text()), ok);
    const std::string digits = std::to_string(v < 0 ? -v : v);
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

// ---- Status zones -------------------------------------------------------------------------------------

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
    zoneLabels_[static_cast<std::size_t>(visible)]->setText(qs(text.second));
}

// ---- Bound variables ----------------------------------------------------------------------------------

void WindowImpl::bind(int control, Binding binding) {
  auto it = controls_.find(control);
  if (it == controls_.end()) return;
  it->second.binding = std::move(binding);
  it->second.bound = true;
}

void WindowImpl::bindList(int control, std::shared_ptr<ListSource> source) {
  Control* c = find(control);
  if (!c || !c->model) return;
  c->source = source;
  ++quiet_;
  c->model->setSource(std::move(source));
  --quiet_;
}

void WindowImpl::refreshList(Control& c) {
  const int before = selectedRow(c.def->number);
  ++quiet_;
  if (c.model->refresh() && before > 0 && c.model->sourceCount() > 0) {
    // Rows replaced: the highlight stays at its position, as far as the list still reaches.
    selectRow(c.def->number, std::min(before, c.model->sourceCount()));
  }
  --quiet_;
}

void WindowImpl::redisplayControl(int number, Control& c) {
  if (c.model) refreshList(c);
  if (!c.bound || !c.binding.get) return;
  const std::string value = c.binding.get();
  ++quiet_;
  switch (c.kind) {
    case kind::Entry: {
      auto* e = static_cast<QLineEdit*>(c.widget);
      const QString text =
          qs(c.def->hasPicture && c.def->picture.type == 's' ? detail::applyPicture(c.def->picture, value)
                                                             : value);
      if (e->text() != text) e->setText(text);
      e->setModified(false);
      break;
    }
    case kind::DisplayText:
    case kind::Prompt: {
      const std::string shown = c.def->hasPicture ? detail::applyPicture(c.def->picture, value) : value;
      static_cast<QLabel*>(c.widget)->setText(qs(shown));
      break;
    }
    case kind::CheckBox: {
      bool ok = false;
      static_cast<QCheckBox*>(c.widget)->setChecked(toNumber(value, ok) != 0);
      break;
    }
    case kind::OptionGroup: {
      int chosen = 0;
      for (int r : c.radios)
        if (const Control* rc = find(r);
            rc && sameText(trim(rc->def->value.empty() ? std::to_string(r) : rc->def->value), trim(value)))
          chosen = r;
      for (int r : c.radios)
        if (Control* rc = find(r)) static_cast<QRadioButton*>(rc->widget)->setChecked(r == chosen);
      break;
    }
    case kind::ProgressBar: {
      auto* p = static_cast<QProgressBar*>(c.widget);
      bool ok = false;
      const long long v = toNumber(value, ok);
      p->setValue(static_cast<int>(std::clamp<long long>(v, p->minimum(), p->maximum())));
      break;
    }
    case kind::Button:
    case kind::Radio:
      static_cast<QAbstractButton*>(c.widget)->setText(qs(value));
      break;
    case kind::Frame:
      static_cast<QGroupBox*>(c.widget)->setTitle(qs(value));
      break;
    case kind::Image:
      setImage(number, value);
      break;
    default:
      break;
  }
  --quiet_;
}

void WindowImpl::redisplay(int control) {
  if (closed_) return;
  if (control != 0) {
    if (Control* c = find(control)) redisplayControl(control, *c);
    return;
  }
  for (auto& [number, c] : controls_)
    if (c.widget) redisplayControl(number, c);
}

void WindowImpl::updateControl(Control& c) {
  if (!c.bound || !c.binding.set) return;
  switch (c.kind) {
    case kind::Entry: {
      const std::string text = ss(static_cast<QLineEdit*>(c.widget)->text());
      if (c.def->hasPicture && c.def->picture.type == 'n') {
        bool ok = false;
        const long long v = toNumber(text, ok);
        c.binding.set(ok ? std::to_string(v) : std::string("0"));
      } else {
        c.binding.set(text);
      }
      break;
    }
    case kind::CheckBox:
      c.binding.set(static_cast<QCheckBox*>(c.widget)->isChecked() ? "1" : "0");
      break;
    case kind::OptionGroup:
      for (int r : c.radios)
        if (const Control* rc = find(r); rc && static_cast<QRadioButton*>(rc->widget)->isChecked()) {
          c.binding.set(rc->def->value.empty() ? std::to_string(r) : rc->def->value);
          break;
        }
      break;
    default:
      break;
  }
}

void WindowImpl::update(int control) {
  if (closed_) return;
  if (control != 0) {
    if (Control* c = find(control)) updateControl(*c);
    return;
  }
  updatingAll_ = true;
  for (auto& [number, c] : controls_)
    if (c.widget) updateControl(c);
  updatingAll_ = false;
}

// ---- Control properties -------------------------------------------------------------------------------

void WindowImpl::select(int control) {
  Control* c = find(control);
  if (!c) return;
  QWidget* target = c->widget;
  if (c->kind == kind::OptionGroup) {
    for (int r : c->radios)
      if (Control* rc = find(r);
          rc && (target == c->widget || static_cast<QRadioButton*>(rc->widget)->isChecked()))
        target = rc->widget;
  }
  target->setFocus(Qt::OtherFocusReason);
}

void WindowImpl::selectRow(int control, int row) {
  Control* c = find(control);
  if (!c || !c->model) return;
  ++quiet_;
  const int viewRow = row > 0 ? c->model->nearestViewRow(std::min(row, c->model->sourceCount())) : -1;
  if (c->view) {
    if (viewRow < 0) {
      c->view->selectionModel()->clear();
    } else {
      const QModelIndex index = c->model->index(viewRow, 0);
      c->view->selectionModel()->setCurrentIndex(
          index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      c->view->scrollTo(index);
    }
  } else if (c->combo) {
    c->combo->setCurrentIndex(viewRow);
  }
  --quiet_;
}

int WindowImpl::selectedRow(int control) const {
  const Control* c = find(control);
  if (!c || !c->model) return 0;
  if (c->view) {
    const QModelIndex index = c->view->selectionModel()->currentIndex();
    return index.isValid() ? c->model->positionOf(index.row()) : 0;
  }
  if (c->combo) return c->model->positionOf(c->combo->currentIndex());
  return 0;
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

void WindowImpl::enable(int control, bool enabled) {
  if (control < 0) {
    if (enabled)
      menuDisabled_.erase(control);
    else
      menuDisabled_.insert(control);
    applyMenuState(control);
    return;
  }
  Control* c = find(control);
  if (!c) return;
  c->widget->setEnabled(enabled);
  for (int r : c->radios)
    if (Control* rc = find(r)) rc->widget->setEnabled(enabled);
}

bool WindowImpl::isEnabled(int control) const {
  if (control < 0) return menuActions_.count(control) && !menuDisabled_.count(control);
  const Control* c = find(control);
  return c && c->widget->isEnabled();
}

void WindowImpl::setIconList(int control, const std::vector<std::string>& icons) {
  Control* c = find(control);
  if (!c || !c->model) return;
  std::vector<QIcon> list;
  list.reserve(icons.size());
  for (const auto& name : icons) list.push_back(detail::iconFor(name, def_->prefix));
  c->model->setIcons(std::move(list));
}

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

std::string WindowImpl::image(int control) const {
  const Control* c = find(control);
  return c ? c->image : std::string();
}

void WindowImpl::setText(int control, std::string_view text) {
  Control* c = find(control);
  if (!c) {
    if (auto it = menuActions_.find(control); it != menuActions_.end()) it->second->setText(qs(text));
    return;
  }
  if (auto* l = qobject_cast<QLabel*>(c->widget); l && c->kind != kind::Image)
    l->setText(qs(text));
  else if (auto* b = qobject_cast<QAbstractButton*>(c->widget))
    b->setText(qs(text));
  else if (auto* g = qobject_cast<QGroupBox*>(c->widget))
    g->setTitle(qs(text));
  else if (auto* e = qobject_cast<QLineEdit*>(c->widget))
    e->setText(qs(text));
}

int WindowImpl::controlKind(int control) const {
  if (const Control* c = find(control)) return c->kind;
  auto it = menuActions_.find(control);
  if (it == menuActions_.end()) return kind::None;
  return it->second->menu() ? kind::Menu : kind::MenuItem;
}

int WindowImpl::firstControl() const { return controls_.empty() ? 0 : controls_.begin()->first; }
int WindowImpl::lastControl() const { return controls_.empty() ? 0 : controls_.rbegin()->first; }

Rect WindowImpl::controlPosition(int control) const {
  const Control* c = find(control);
  return c ? c->du : Rect{};
}

void WindowImpl::setControlPosition(int control, Rect r, bool keepWidth) {
  Control* c = find(control);
  if (!c) return;
  if (keepWidth) r.width = c->du.width;
  c->du = r;
  if (deferred_ == 0) {
    placeControl(*c);
    return;
  }
  pendingMoves_.push_back(control);
  if (deferred_ > 0 && --deferred_ == 0) setDeferredMoves(0);
}

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

// ---- Window properties ---------------------------------------------------------------------------------

void WindowImpl::setTitle(std::string_view title) {
  title_ = std::string(title);
  if (shell_) shell_->setWindowTitle(qs(title_));
  if (sub_) sub_->setWindowTitle(qs(title_));
}

Rect WindowImpl::position() const {
  Rect r = rect_;
  if (QWidget* top = topWidget(); top && opened_) {
    const QPoint p = top->pos();
    r.x = static_cast<int>(std::lround(p.x() / unitX_));
    r.y = static_cast<int>(std::lround(p.y() / unitY_));
  }
  return r;
}

void WindowImpl::setPosition(Rect r) {
  if (closed_ || !shell_) return;
  rect_ = r;
  resizeContent(r.width, r.height);
  if (QWidget* top = topWidget())
    top->move(static_cast<int>(std::lround(r.x * unitX_)), static_cast<int>(std::lround(r.y * unitY_)));
  lastPixels_ = opened_ ? lastPixels_ : contentPixels();
}

// ---- Standard actions of menus --------------------------------------------------------------------------

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
          QApplication::clipboard()->setText(qs(m->rowText(v->currentIndex().row())));
      } else if (auto* b = qobject_cast<QComboBox*>(focus)) {
        QApplication::clipboard()->setText(b->currentText());
      }
    }
  } else if (action == "tile") {
    if (mdi_) mdi_->tileSubWindows();
  } else if (action == "cascade") {
    if (mdi_) mdi_->cascadeSubWindows();
  } else if (action == "arrange") {
    if (!mdi_) return;
    // Minimised windows in a row along the bottom edge, left to right.
    int x = 0;
    const int bottom = mdi_->viewport()->height();
    for (QMdiSubWindow* sub : mdi_->subWindowList())
      if (sub->isMinimized()) {
        sub->move(x, bottom - sub->height());
        x += sub->width();
      }
  } else if (action == "helpcontents" || action == "helpsearch" || action == "helponhelp") {
    if (detail::dialogsHeadless()) detail::recordStandardDialog(action);
    ui::message("No help file is installed for this program.", "Help", IDI_ASTERISK, BUTTON_OK);
  }
}

// ---- The user's actions, for tests ------------------------------------------------------------------------

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
  e->setText(qs(text));  // cut to the picture's width as typing would be
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
  const int viewRow = c->model->viewRowOf(row);
  if (viewRow < 0) return false;
  if (c->combo) {
    c->combo->setCurrentIndex(viewRow);
    emit c->combo->activated(viewRow);
    return true;
  }
  c->view->setCurrentIndex(c->model->index(viewRow, 0));
  if (key == key::MouseRight || key == key::MouseLeftDouble || key == key::Enter)
    enqueue(event::Alert, control, key);
  return true;
}

std::string WindowImpl::chosenValue(int control) const {
  const Control* c = find(control);
  if (!c) return {};
  for (int r : c->radios)
    if (const Control* rc = find(r); rc && static_cast<QRadioButton*>(rc->widget)->isChecked())
      return rc->def->value.empty() ? std::to_string(r) : rc->def->value;
  return {};
}

std::string WindowImpl::zoneText(int visibleZone) const {
  if (visibleZone < 0 || visibleZone >= static_cast<int>(zoneLabels_.size())) return {};
  return ss(zoneLabels_[static_cast<std::size_t>(visibleZone)]->text());
}

// ---- Window ---------------------------------------------------------------------------------------------

namespace {
// Widgets live on one thread; a call from another is a programming error better stopped loudly
// than left to corrupt the window now and then.
void windowThread(const char* what) {
  if (!detail::onGuiThread())
    detail::fatal(std::string("Window::") + what +
                  " was called from a thread other than the window's (from there use ui::post, ui::setStatus "
                  "or ui::requestRedisplay)");
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

void Window::bind(int control, Binding binding) {
  windowThread("bind");
  impl_->bind(control, std::move(binding));
}
void Window::bindList(int control, std::shared_ptr<ListSource> source) {
  impl_->bindList(control, std::move(source));
}
void Window::open() {
  windowThread("open");
  impl_->open();
}
void Window::close() {
  windowThread("close");
  impl_->close();
}
bool Window::isOpen() const { return ui::isOpen(impl_->ref()); }
WindowRef Window::ref() const { return impl_->ref(); }
bool Window::accept() {
  windowThread("accept");
  return impl_->accept();
}
int Window::event() const {
  windowThread("event");
  return impl_->event();
}
int Window::control() const {
  windowThread("control");
  return impl_->control();
}
void Window::post(int event, int control) { ui::post(impl_->ref(), event, control); }
void Window::redisplay(int control) {
  // From another thread, a redisplay can only be asked for.
  if (!detail::onGuiThread()) return requestRedisplay(impl_->ref());
  impl_->redisplay(control);
}
void Window::update(int control) {
  windowThread("update");
  impl_->update(control);
}
bool Window::updatingAll() const {
  windowThread("updatingAll");
  return impl_->updatingAll();
}
void Window::select(int control) {
  windowThread("select");
  impl_->select(control);
}
void Window::selectRow(int control, int row) {
  windowThread("selectRow");
  impl_->selectRow(control, row);
}
int Window::selectedRow(int control) const {
  windowThread("selectedRow");
  return impl_->selectedRow(control);
}
void Window::enable(int control, bool enabled) {
  windowThread("enable");
  impl_->enable(control, enabled);
}
bool Window::isEnabled(int control) const {
  windowThread("isEnabled");
  return impl_->isEnabled(control);
}
void Window::setIconList(int control, const std::vector<std::string>& icons) {
  impl_->setIconList(control, icons);
}
void Window::setImage(int control, std::string_view icon) {
  windowThread("setImage");
  impl_->setImage(control, icon);
}
std::string Window::image(int control) const {
  windowThread("image");
  return impl_->image(control);
}
void Window::setText(int control, std::string_view text) {
  windowThread("setText");
  impl_->setText(control, text);
}
int Window::controlKind(int control) const {
  windowThread("controlKind");
  return impl_->controlKind(control);
}
int Window::firstControl() const {
  windowThread("firstControl");
  return impl_->firstControl();
}
int Window::lastControl() const {
  windowThread("lastControl");
  return impl_->lastControl();
}
Rect Window::controlPosition(int control) const {
  windowThread("controlPosition");
  return impl_->controlPosition(control);
}
void Window::setControlPosition(int control, Rect r, bool keepWidth) {
  impl_->setControlPosition(control, r, keepWidth);
}
int Window::deferredMoves() const {
  windowThread("deferredMoves");
  return impl_->deferredMoves();
}
void Window::setDeferredMoves(int count) {
  windowThread("setDeferredMoves");
  impl_->setDeferredMoves(count);
}
void Window::setTitle(std::string_view title) {
  windowThread("setTitle");
  impl_->setTitle(title);
}
std::string Window::title() const {
  windowThread("title");
  return impl_->title();
}
Rect Window::position() const {
  windowThread("position");
  return impl_->position();
}
void Window::setPosition(Rect r) {
  windowThread("setPosition");
  impl_->setPosition(r);
}
void Window::setStatus(int zone, std::string_view text) { ui::setStatus(impl_->ref(), zone, text); }
std::string Window::status(int zone) const { return ui::status(impl_->ref(), zone); }
}  // namespace ui
