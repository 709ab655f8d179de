// The window runtime: windows built from definitions, their pull event loops, bound variables,
// control properties, message boxes and popup menus, cross-thread posting, INI files, directory
// listings and the small process services the programs use. Built on Qt 6 Widgets; no Qt type
// appears here, so the library's code reads the same on any toolkit.
//
// Threads. A window belongs to the thread that created it (the runtime's GUI thread: the one that
// first used the runtime). Every function marked "any thread" may be called from a worker thread: it
// is queued to the window's thread, and a worker thread never touches a widget. Status texts and
// redisplay requests coalesce: the latest text wins, and a window has at most one pending redisplay.
// A WindowRef whose window has closed is harmless: every operation on it does nothing.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/text.h"

#define UIRT_API __attribute__((visibility("default")))

namespace ui {

using WindowRef = std::uint32_t;  // 0: no window; never reused while the process runs
using ThreadNo = std::uint32_t;   // 0: none; the runtime numbers threads from 1 as it meets them

// ---- Events -------------------------------------------------------------------------------------
namespace event {
// Control events (control() names the control; menu entries have negative numbers).
constexpr int Accepted = 1;      // button pressed, entry completed, menu entry chosen, option changed
constexpr int NewSelection = 2;  // a list's or drop-down list's highlighted row changed
constexpr int Alert = 3;         // on a list: right mouse button, double-click or Enter (see keyCode())
constexpr int Rejected = 4;      // what the user typed does not fit the control's picture
constexpr int MarkToggled = 5;   // a list row's tick box clicked, or Space on it (see Window::showMarks)
// Window events (control() is 0).
constexpr int OpenWindow = 0x201;
constexpr int GainFocus = 0x202;  // also a redisplay request when posted
constexpr int Resized = 0x203;
constexpr int CloseWindow = 0x204;  // the user's close, or posted; the loop ends after CloseDown
constexpr int CloseDown = 0x205;    // last event of a window
constexpr int User = 1024;          // user events: User and above
}  // namespace event

// ---- Key codes (keyCode()) ----------------------------------------------------------------------
namespace key {
constexpr int None = 0;
constexpr int MouseLeft = 1;
constexpr int MouseRight = 2;
constexpr int MouseLeftDouble = 5;
constexpr int MouseRightUp = 130;
constexpr int Tab = 9;
constexpr int Enter = 13;
constexpr int Space = 32;
constexpr int Escape = 27;
constexpr int Home = 36;
constexpr int End = 35;
constexpr int Up = 38;
constexpr int Down = 40;
}  // namespace key

// ---- Control kinds (controlKind()) --------------------------------------------------------------
namespace kind {
constexpr int None = 0;
constexpr int DisplayText = 1;
constexpr int Prompt = 2;
constexpr int Frame = 3;  // a group box drawn around other controls
constexpr int OptionGroup = 4;
constexpr int Image = 5;
constexpr int ProgressBar = 6;
constexpr int Entry = 8;
constexpr int Button = 9;
constexpr int CheckBox = 12;
constexpr int List = 17;  // plain list or tree list, as its format says
constexpr int DropList = 18;
constexpr int Menu = 19;
constexpr int MenuItem = 20;
constexpr int Radio = 21;
}  // namespace kind

// ---- Message boxes and system resources ---------------------------------------------------------
constexpr int ICON_NONE = 0;
constexpr int IDI_QUESTION = 32514;
constexpr int IDI_EXCLAMATION = 32515;
constexpr int IDI_ASTERISK = 32516;
constexpr int BUTTON_OK = 1;
constexpr int BUTTON_YES = 2;
constexpr int BUTTON_NO = 4;
constexpr int BUTTON_CANCEL = 64;
constexpr int IDC_ARROW = 32512;
constexpr int IDC_WAIT = 32514;
constexpr int IDC_CROSS = 32515;

// ---- Runtime -------------------------------------------------------------------------------------
// Starts the runtime on the calling thread if it is not running yet (every other function does this
// itself). False when no display can be opened: no DISPLAY or WAYLAND_DISPLAY and no QT_QPA_PLATFORM.
UIRT_API bool start();
// The reason start() failed, for a plain message to the user.
UIRT_API std::string startError();

// Registers the window modules of a definition text (the JSON format of ui/DEFINITIONS.md). The
// deliverables' own definitions are found without this, in their built-in resources; tests use it for
// windows of their own. A malformed text halts with a message naming the module.
UIRT_API void addWindowDefinitions(std::string_view jsonText);

// ---- Windows -------------------------------------------------------------------------------------
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  friend bool operator==(const Rect&, const Rect&) = default;
};

// A bound variable, seen as text by the controls (numbers in decimal, check boxes "0"/"1", option
// groups their radio buttons' values). get() runs at redisplay, set() when a control is accepted or
// all controls are updated; both on the window's thread.
struct Binding {
  std::function<std::string()> get;
  std::function<void(std::string_view)> set;
};

// One cell of a list row, in the order the list's format consumes them: per column its text, then its
// icon number when the column shows an icon (I), then its tree level when it is a tree (T).
using Cell = std::variant<std::int64_t, std::string>;

// What a list shows: a queue, read through its own lock whenever it has changed.
class ListSource {
 public:
  virtual ~ListSource() = default;
  virtual std::uint64_t version() const = 0;
  virtual std::vector<std::vector<Cell>> rows() const = 0;  // a consistent copy of every row
};

template <typename Record>
class QueueListSource final : public ListSource {
 public:
  QueueListSource(const Queue<Record>& q, std::function<std::vector<Cell>(const Record&)> cells)
      : q_(q), cells_(std::move(cells)) {}
  std::uint64_t version() const override { return q_.version(); }
  std::vector<std::vector<Cell>> rows() const override {
    std::vector<std::vector<Cell>> out;
    q_.forEach([&](std::size_t, const Record& r) { out.push_back(cells_(r)); });
    return out;
  }

 private:
  const Queue<Record>& q_;
  std::function<std::vector<Cell>(const Record&)> cells_;
};

class WindowImpl;

class UIRT_API Window {
 public:
  // Builds the window `name` of the window module `module` (e.g. "NIMBO001", "NIMBO007"), as held in
  // the definitions the deliverables carry. A missing or malformed definition (unknown kind,
  // overlapping controls, bad format string) halts the program with a message naming it.
  // Not shown until open().
  Window(std::string_view module, std::string_view name);
  ~Window();  // closes the window if it is open and frees it
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // -- Bindings (before open(); a control keeps its binding for the window's life).
  void bind(int control, Binding binding);
  template <typename T>
  void bind(int control, T& variable) {
    bind(control, bindingOf(variable));
  }
  // The record type comes from the queue alone, so that a lambda can give the cells.
  template <typename Record>
  void bindList(int control, const Queue<Record>& queue,
                std::type_identity_t<std::function<std::vector<Cell>(const Record&)>> cells) {
    bindList(control, std::make_shared<QueueListSource<Record>>(queue, std::move(cells)));
  }
  void bindList(int control, std::shared_ptr<ListSource> source);

  // -- Life.
  void open();   // shows the window; OpenWindow is its first event
  void close();  // hides and disposes of the widgets; the reference goes stale
  bool isOpen() const;
  WindowRef ref() const;

  // -- Pull event loop: while (w.accept()) { switch (w.event()) ... }. accept() waits (running the
  // toolkit's loop, nested if need be) until this window has an event, and returns false once the
  // window has delivered CloseDown or has been closed.
  bool accept();
  int event() const;
  int control() const;  // control of the current event, 0 for window events
  void post(int event, int control = 0);
  // While the program handles CloseWindow: whether it may still keep the window open (not when the
  // application is quitting), and keeping it open (the loop goes on as before the close).
  bool closeCanWait() const;
  void keepOpen();
  // The key (key::Escape, key::Enter) pressed anywhere in the window, whatever control has the
  // keyboard, raises Alert for control 0, with keyCode() telling the key. Before open().
  void setAlertKey(int key);

  // -- Bound variables.
  void redisplay(int control = 0);  // variables into controls (0: all)
  void update(int control = 0);     // controls into variables (0: all)
  bool updatingAll() const;         // true while update(0) is copying every control

  // -- Control properties (control numbers as in the definition).
  void select(int control);              // give the focus
  void selectRow(int control, int row);  // a list's highlighted row, 1-based
  int selectedRow(int control) const;    // 0 when none
  void enable(int control, bool enabled);
  bool isEnabled(int control) const;
  void setIconList(int control, const std::vector<std::string>& icons);  // icon n = icons[n - 1]
  // Shows a tick box before every row of a list, ticked when the row's mark (the cell after those its
  // format takes) is not 0. A click on the box, or Space on the highlighted row, raises MarkToggled;
  // when the program takes it, that row is the highlighted one. The tick changes when the program has
  // changed the mark and redisplays.
  void showMarks(int control);
  void setImage(int control, std::string_view icon);
  std::string image(int control) const;
  void setText(int control, std::string_view text);  // a prompt's, button's or group's caption
  int controlKind(int control) const;                // kind::None for a number the window lacks
  int firstControl() const;
  int lastControl() const;
  Rect controlPosition(int control) const;
  // Moves and sizes a control; keepWidth leaves its width as it is. Honours the deferred-move count.
  void setControlPosition(int control, Rect r, bool keepWidth = false);
  // Deferred moves: while the count is positive, moves are collected and all applied together when
  // that many have been made; a negative count collects until the count is set to 0 or more.
  int deferredMoves() const;
  void setDeferredMoves(int count);

  // -- Window properties.
  void setTitle(std::string_view title);
  std::string title() const;
  Rect position() const;
  void setPosition(Rect r);
  void setStatus(int zone, std::string_view text);
  std::string status(int zone) const;

  WindowImpl& impl() { return *impl_; }

 private:
  template <typename T>
  static Binding bindingOf(T& v);
  // The window's state, for a member that only the window's thread may call (halts elsewhere).
  WindowImpl& gui(const char* member) const;
  std::unique_ptr<WindowImpl> impl_;
};

// ---- Any thread ----------------------------------------------------------------------------------
// Posts an event to a window; false (and nothing happens) when the window has closed.
UIRT_API bool post(WindowRef window, int event, int control = 0);
// Posts an event to the window the thread runs (its most recently opened window still open); a post
// to a thread with no open window is dropped, and false is returned.
UIRT_API bool postToThread(ThreadNo thread, int event, int control = 0);
// The window the thread runs, or 0.
UIRT_API WindowRef windowOf(ThreadNo thread);
UIRT_API bool isOpen(WindowRef window);
// A status zone's text (zones numbered from 0, as the window's definition maps them to its status bar).
UIRT_API void setStatus(WindowRef window, int zone, std::string_view text);
// The latest text written to a zone (what the zone shows once the window's thread has caught up).
UIRT_API std::string status(WindowRef window, int zone);
// Asks the window to copy its bound variables into its controls, soon, on its own thread.
UIRT_API void requestRedisplay(WindowRef window);
// The runtime's number of the calling thread.
UIRT_API ThreadNo currentThread();

// Message box: "|" in the text starts a new line, and the rest is shown as plain text; icon ICON_NONE,
// IDI_QUESTION, IDI_EXCLAMATION or IDI_ASTERISK; buttons a sum of BUTTON_*; defaultButton one of them
// (0: the first). Returns the button pressed. From a worker thread the box is shown by the GUI thread and the
// caller waits for the answer.
UIRT_API int message(std::string_view text, std::string_view caption = {}, int icon = ICON_NONE,
                     int buttons = BUTTON_OK, int defaultButton = 0);
// Popup menu at the mouse: "|" separates items, a leading "~" greys one. Returns the chosen item's
// number from 1, or 0 when dismissed.
UIRT_API int popup(std::string_view items);

UIRT_API void setCursor(int systemCursor);  // IDC_* ; any thread
UIRT_API void restoreCursor();              // back to the normal cursor; any thread
UIRT_API int keyCode();                     // key or mouse code of the calling thread's last event
UIRT_API void setKeyCode(int code);
UIRT_API void pressKey(int code);  // as if the user pressed the key in the focused control
UIRT_API void beep();
[[noreturn]] UIRT_API void halt(int exitCode, std::string_view message = {});

// The runtime's last error (per thread): a code, its text, and, when the code is 90 (a file-system
// error), the file system's own code and text.
constexpr int ERROR_FILE_SYSTEM = 90;
UIRT_API int errorCode();
UIRT_API std::string errorText();
UIRT_API std::string fileErrorCode();
UIRT_API std::string fileError();
UIRT_API void setError(int code, std::string_view text, std::string_view fileCode = {},
                       std::string_view fileText = {});

// ---- INI files -----------------------------------------------------------------------------------
// Windows profile semantics: a missing file, section or entry gives the default; a write creates the
// file or section and keeps every other line, comment and order; names match without regard to case.
// A bare file name lives in the user's configuration directory (see iniPath()).
UIRT_API std::string iniGet(std::string_view section, std::string_view entry, std::string_view defaultValue,
                            std::string_view file);
UIRT_API bool iniPut(std::string_view section, std::string_view entry, std::string_view value,
                     std::string_view file);
UIRT_API std::string iniPath(std::string_view file);  // the host path a file name resolves to

// ---- Directories (Windows paths, through the kernel layer) ---------------------------------------
struct DirEntry {
  std::string name;
  std::string shortName;  // the short form is the long form here
  std::int32_t date = 0;  // YYYYMMDD of the last change
  std::int32_t time = 0;  // HHMMSScc of the last change
  std::int64_t size = 0;
  std::uint8_t attrib = 0;  // FILE_ATTRIBUTE_* bits
};
// Attribute mask of directory(): ordinary files always; these kinds only when asked for.
constexpr std::uint32_t ff_NORMAL = 0x00;
constexpr std::uint32_t ff_READONLY = 0x01;
constexpr std::uint32_t ff_HIDDEN = 0x02;
constexpr std::uint32_t ff_SYSTEM = 0x04;
constexpr std::uint32_t ff_DIRECTORY = 0x10;
constexpr std::uint32_t ff_ARCHIVE = 0x20;
// The entries matching a Windows pattern (C:\TEMP\*.*), "." and ".." left out.
UIRT_API std::vector<DirEntry> directory(std::string_view pattern, std::uint32_t attributes);
UIRT_API std::string currentDirectory();  // short form, a Windows path
UIRT_API bool changeDirectory(std::string_view path);

// ---- Test hooks ----------------------------------------------------------------------------------
namespace test {
struct MessageShown {
  std::string text, caption;
  int icon = 0, buttons = 0, defaultButton = 0;
};
struct PopupShown {
  std::string text;
  std::vector<std::string> items;  // without their "~"
  std::vector<bool> greyed;
};
// While on, message boxes and popups are not shown: each is recorded and answered with the next
// queued answer, or, when none is queued, with its default button (a popup with 0).
UIRT_API void headlessDialogs(bool on);
UIRT_API void answerMessage(int button);
UIRT_API void answerPopup(int item);
UIRT_API std::vector<MessageShown> messagesShown();  // and forgets them
UIRT_API std::vector<PopupShown> popupsShown();
// The standard dialogs (print set-up, help) that menu entries asked for while dialogs were headless,
// by the name of the entry's standard action; and forgets them.
UIRT_API std::vector<std::string> standardDialogsShown();

// The user's own actions on a window, for tests of the windows built on the runtime. Each does what
// the user's mouse or keyboard would (the same events, in the same order) and returns false when the
// window, control or row does not exist or is disabled. Any thread: they run on the window's thread.
UIRT_API bool chooseMenu(WindowRef window, int number);                         // a menu entry
UIRT_API bool click(WindowRef window, int control);                             // button, check box, radio
UIRT_API bool enterText(WindowRef window, int control, std::string_view text);  // typed and completed
// Highlights a list's row (NewSelection) and, with key::MouseRight, key::MouseLeftDouble or
// key::Enter, raises its alert; on a drop-down list, chooses the row (Accepted).
UIRT_API bool clickRow(WindowRef window, int control, int row, int keyCode = key::MouseLeft);
// Clicks the tick box of a list's row (a list that shows marks): the row highlighted, MarkToggled.
UIRT_API bool clickMark(WindowRef window, int control, int row);
UIRT_API bool closeBox(WindowRef window);                         // the title bar's close box
UIRT_API bool resizeTo(WindowRef window, int width, int height);  // dragged to this client size
// What a control shows: an entry's, prompt's, display's, button's or group's text; "1"/"0" for a
// check box or radio; a progress bar's value; the value of an option group's chosen radio; a list's
// highlighted row as its columns' texts joined by tabs. Empty for what does not exist.
UIRT_API std::string shownText(WindowRef window, int control);
// A list's shown rows (collapsed nodes hide their descendants), columns joined by tabs.
UIRT_API std::vector<std::string> shownRows(WindowRef window, int control);
// Whether each shown row's tick box is ticked (empty for a list that shows no marks).
UIRT_API std::vector<bool> shownMarks(WindowRef window, int control);
// The text a status bar zone shows once the window's thread has caught up (visible zone number).
UIRT_API std::string shownStatus(WindowRef window, int visibleZone);
}  // namespace test

// ---- Bindings of plain variables ------------------------------------------------------------------
template <typename T>
Binding Window::bindingOf(T& v) {
  using U = std::remove_cv_t<T>;
  if constexpr (requires { v.load(); }) {  // std::atomic of a number
    return Binding{[&v] { return std::to_string(v.load()); },
                   [&v](std::string_view s) {
                     using V = decltype(v.load());
                     v.store(static_cast<V>(std::strtoll(std::string(s).c_str(), nullptr, 10)));
                   }};
  } else if constexpr (std::is_arithmetic_v<U>) {
    return Binding{
        [&v] { return std::to_string(v); },
        [&v](std::string_view s) { v = static_cast<U>(std::strtoll(std::string(s).c_str(), nullptr, 10)); }};
  } else if constexpr (requires {
                         v.get();
                         v.set(v.get());
                       }) {  // Guarded<text>
    return Binding{[&v] { return std::string(v.get().view()); }, [&v](std::string_view s) { v = s; }};
  } else {  // ZText / PText
    return Binding{[&v] { return std::string(v.view()); }, [&v](std::string_view s) { v = s; }};
  }
}

}  // namespace ui
