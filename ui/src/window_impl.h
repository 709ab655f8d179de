// A window's state: its widgets, its event queue and what its controls are bound to. Lives on the GUI
// thread only. The public `Window` does its work on this state directly (it is a friend); what the
// rest of the runtime needs (the registry, the frame, the test hooks) is public here.
//
// The code is split by concern: window_build.cpp (widgets from the definition), window_life.cpp
// (construction, open, close), window_events.cpp (the event queue and the pull loop),
// window_binding.cpp (bound variables), window_properties.cpp (control and window properties, status
// zones), standard_actions.cpp (menu entries the runtime carries out) and testhooks.cpp (the user's
// actions, for tests).
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QModelIndex>
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
class ZoneBar;
}  // namespace detail

class UIRT_API WindowImpl : public QObject {
 public:
  explicit WindowImpl(std::shared_ptr<const detail::WindowDef> def);
  ~WindowImpl() override;

  bool isOpen() const { return opened_ && !closed_; }
  WindowRef ref() const { return shared_->ref; }
  void close();

  // -- From the registry and the frame (GUI thread).
  void enqueuePosted(int event, int control);
  void showStatus();  // shows the zones the registry holds as changed
  // The same for texts written on other threads: at most one repaint of the status bar per display
  // frame, the latest texts shown at the frame's end. A transfer writes a text for every reply.
  void showStatusSoon();
  void redisplay(int control);
  // While a window opened after this one is open, this window's own program is away in that
  // window's loop: its program's menu entries are greyed (the runtime's standard ones still work).
  void setBusy(bool busy);

  // -- The user's actions, as the widgets report them (and the test hooks reproduce them).
  void userClose();
  void userResized();
  void activated();
  bool chooseMenu(int number);
  bool enterText(int control, std::string_view text);
  bool click(int control);
  bool clickRow(int control, int row, int key);
  bool clickMark(int control, int row);

  // -- What the window shows, for tests of the runtime and of the windows built on it.
  QWidget* widget(int control) const;
  QWidget* topWidget() const;
  int controlKind(int control) const;
  QSize pixels(Rect r) const;  // a size in dialog units, in pixels
  QSize clientPixels() const { return contentPixels(); }
  std::string chosenValue(int control) const;  // an option group's chosen value
  QModelIndex rowIndex(int control, int position) const;
  QAction* menuAction(int number) const;
  std::string zoneText(int visibleZone) const;
  double unitX() const { return unitX_; }
  double unitY() const { return unitY_; }

 private:
  friend class Window;

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
    int row = 0;        // MarkToggled: the list row whose mark was toggled
    bool quit = false;  // CloseWindow: the application is quitting
  };

  // window_build.cpp
  void build();
  void buildMenus(QMenu* into, const std::vector<detail::MenuDef>& items);
  void buildControl(const detail::ControlDef& def);
  QWidget* buildList(Control& c);
  void buildStatusBar();
  void placeControl(Control& c);
  QSize contentPixels() const;
  void resizeContent(int widthDu, int heightDu);
  int toPixelsX(int du) const;
  int toPixelsY(int du) const;
  // window_life.cpp
  void openInFrame(WindowImpl& frame);
  void openTopLevel();
  // window_events.cpp
  void enqueue(int event, int control, int key = -1, bool posted = false);
  void enqueueMark(int control, int row);
  bool entryAccepted(int number);
  void chooseRadio(int number, bool byUser);
  // window_binding.cpp
  void update(int control);
  void redisplayControl(int number, Control& c);
  void updateControl(Control& c);
  void refreshList(Control& c);
  // window_properties.cpp
  void selectRow(int control, int row);
  int selectedRow(int control) const;
  void setImage(int control, std::string_view icon);
  void applyMenuState(int number);
  void setDeferredMoves(int count);
  // standard_actions.cpp
  void runStandard(const std::string& action);
  void fillWindowList(QMenu* menu);

  Control* find(int control);
  const Control* find(int control) const;
  bool isFrame() const { return def_->kind == "frame"; }

  std::shared_ptr<const detail::WindowDef> def_;
  std::shared_ptr<detail::WindowShared> shared_;
  QPointer<detail::Shell> shell_;
  QPointer<QMdiSubWindow> sub_;
  detail::Content* content_ = nullptr;
  QMdiArea* mdi_ = nullptr;
  std::vector<QLabel*> zoneLabels_;
  detail::ZoneBar* zoneBar_ = nullptr;  // holds zoneLabels_; set when they are
  QElapsedTimer statusShown_;           // since the status bar last showed other threads' texts
  bool statusFrameArmed_ = false;
  std::map<int, Control> controls_;
  std::map<int, QAction*> menuActions_;
  std::map<int, std::string> menuStandard_;
  std::set<int> menuDisabled_;  // menu entries the program disabled
  bool busy_ = false;
  std::deque<Pending> fifo_;
  QEventLoop* loop_ = nullptr;
  int event_ = 0, control_ = 0;
  bool opened_ = false, closed_ = false, closeWindowDelivered_ = false, closeDownDelivered_ = false;
  bool closeIsQuit_ = false;
  bool updatingAll_ = false;
  int quiet_ = 0;  // > 0 while the program changes controls: no events for that
  int deferred_ = 0;
  std::vector<int> pendingMoves_;
  std::string title_;
  Rect rect_;         // position and size of the window, dialog units
  QSize lastPixels_;  // client size last reported as Resized
  double unitX_ = 1, unitY_ = 1;
};

namespace detail {
// A number as a control shows it: blanks around it allowed, nothing else.
long long toNumber(std::string_view s, bool& ok);
}  // namespace detail

}  // namespace ui
