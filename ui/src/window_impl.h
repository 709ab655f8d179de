// A window's widgets, its event queue and its pull loop. Lives on the GUI thread only.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "definitions.h"
#include "registry.h"
#include "ui/runtime.h"

class QAction;
class QComboBox;
class QEventLoop;
class QLabel;
class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTreeView;
class QWidget;

namespace ui {

namespace detail {
class ListModel;
class Content;
class Shell;
}  // namespace detail

class UIRT_API WindowImpl : public QObject {
 public:
  WindowImpl(std::shared_ptr<const detail::WindowDef> def);
  ~WindowImpl() override;

  // -- What the Window class forwards.
  void bind(int control, Binding binding);
  void bindList(int control, std::shared_ptr<ListSource> source);
  void open();
  void close();
  bool isOpen() const { return opened_ && !closed_; }
  WindowRef ref() const { return shared_->ref; }
  bool accept();
  int event() const { return event_; }
  int control() const { return control_; }
  void redisplay(int control);
  void update(int control);
  bool updatingAll() const { return updatingAll_; }
  void select(int control);
  void selectRow(int control, int row);
  int selectedRow(int control) const;
  void enable(int control, bool enabled);
  bool isEnabled(int control) const;
  void setIconList(int control, const std::vector<std::string>& icons);
  void setImage(int control, std::string_view icon);
  std::string image(int control) const;
  void setText(int control, std::string_view text);
  int controlKind(int control) const;
  int firstControl() const;
  int lastControl() const;
  Rect controlPosition(int control) const;
  void setControlPosition(int control, Rect r, bool keepWidth);
  int deferredMoves() const { return deferred_; }
  void setDeferredMoves(int count);
  void setTitle(std::string_view title);
  std::string title() const { return title_; }
  Rect position() const;
  void setPosition(Rect r);

  // -- From the registry (GUI thread).
  void enqueuePosted(int event, int control);
  void showStatus();  // shows the zones the registry holds as changed

  // -- The user's actions, as the widgets report them (and the test hooks reproduce them).
  void userClose();
  bool chooseMenu(int number);
  bool enterText(int control, std::string_view text);
  bool click(int control);
  bool clickRow(int control, int row, int key);
  void userResized();
  void activated();
  // While a window opened after this one is open, this window's own program is away in that
  // window's loop: its program's menu entries are greyed (the runtime's standard ones still work).
  void setBusy(bool busy);

  // -- For tests of the runtime itself.
  QWidget* widget(int control) const;
  QWidget* topWidget() const;
  QSize pixels(Rect r) const;  // a size in dialog units, in pixels
  QSize clientPixels() const { return contentPixels(); }
  std::string chosenValue(int control) const;  // an option group's chosen value
  std::string zoneText(int visibleZone) const;
  double unitX() const { return unitX_; }
  double unitY() const { return unitY_; }

 private:
  struct Control {
    const detail::ControlDef* def = nullptr;
    int kind = 0;
    QWidget* widget = nullptr;
    Rect du;
    Binding binding;
    bool bound = false;
    std::shared_ptr<ListSource> source;
    detail::ListModel* model = nullptr;
    QTreeView* view = nullptr;
    QComboBox* combo = nullptr;
    std::vector<int> radios;  // an option group's radio controls
    std::string image;
  };
  struct Pending {
    int event = 0, control = 0, key = -1;
    bool posted = false;
  };

  void build();
  void buildMenus(QMenu* into, const std::vector<detail::MenuDef>& items);
  void buildControl(const detail::ControlDef& def);
  void buildStatusBar();
  void placeControl(Control& c);
  void enqueue(int event, int control, int key = -1, bool posted = false);
  void runStandard(const std::string& action);
  void fillWindowList(QMenu* menu);
  void redisplayControl(int number, Control& c);
  void updateControl(Control& c);
  void refreshList(Control& c);
  void listSelectionChanged(int number);
  bool entryAccepted(int number);
  void chooseRadio(int number, bool byUser);
  Control* find(int control);
  const Control* find(int control) const;
  QSize contentPixels() const;
  void resizeContent(int widthDu, int heightDu);
  bool isFrame() const { return def_->kind == "frame"; }

  std::shared_ptr<const detail::WindowDef> def_;
  std::shared_ptr<detail::WindowShared> shared_;
  QPointer<detail::Shell> shell_;
  QPointer<QMdiSubWindow> sub_;
  detail::Content* content_ = nullptr;
  QMdiArea* mdi_ = nullptr;
  std::vector<QLabel*> zoneLabels_;
  std::map<int, Control> controls_;
  std::map<int, QAction*> menuActions_;
  std::map<int, std::string> menuStandard_;
  std::set<int> menuDisabled_;  // menu entries the program disabled
  bool busy_ = false;
  void applyMenuState(int number);
  std::deque<Pending> fifo_;
  QEventLoop* loop_ = nullptr;
  int event_ = 0, control_ = 0;
  bool opened_ = false, closed_ = false, closeWindowDelivered_ = false, closeDownDelivered_ = false;
  bool updatingAll_ = false;
  int quiet_ = 0;  // > 0 while the program changes controls: no events for that
  int deferred_ = 0;
  std::vector<int> pendingMoves_;
  std::string title_;
  Rect rect_;         // position and size of the window, dialog units
  QSize lastPixels_;  // client size last reported as Resized
  double unitX_ = 1, unitY_ = 1;
};

}  // namespace ui
