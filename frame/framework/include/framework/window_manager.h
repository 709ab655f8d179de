// The window manager: the object that drives one window procedure from its opening to its close. A
// procedure creates one per call, over the window it opened, replaces init, kill and take-accepted with
// its own, and calls run(): init, the event loop (ask), kill, and the response.
//
// The event loop hands each event to take-event, whose level steers it: 3 ends the loop, 5 ends the
// handling of the current event, anything else lets the event finish normally. Forms (a primary file
// with its record), lists and history fields have their places in the table; the windows of this
// program use none of them, so those operations have nothing to do.
//
// Runs on the thread of its window.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/queue.h"
#include "ui/runtime.h"
#include "ui/text.h"

namespace framework {

class ErrorManager;
class ToolbarDispatcher;

// Levels of take-event and its helpers, as the loop understands them.
namespace handled {
constexpr int Normally = 0;
constexpr int EndLoop = 3;
constexpr int EndEvent = 5;
}  // namespace handled

// RESPONSE of a window procedure.
namespace response {
constexpr std::uint8_t None = 0;
constexpr std::uint8_t Completed = 1;
constexpr std::uint8_t Cancelled = 2;
}  // namespace response

// A list or drop-list component registered with the manager.
class Component {
 public:
  virtual ~Component() = default;
  virtual void reset() {}   // reads its source again
  virtual void update() {}  // copies its control into its variables
};

struct ComponentRecord {
  Component* COMPONENT = nullptr;
};

// A window resizer attached to the manager, ended with it.
class Resizer {
 public:
  virtual ~Resizer() = default;
  virtual void kill() = 0;
};

// An accepted control that sets the response by itself.
struct ButtonRecord {
  std::int32_t CONTROL = 0;
  std::uint8_t ACTION = 0;
};

class WindowManager {
 public:
  explicit WindowManager(ui::Window& window) : window_(window) {}
  virtual ~WindowManager() = default;
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // ---- Operation table, in its order.
  virtual void ask();  // the event loop
  virtual int init();  // common part: the defaults and the queues; 0 to go on
  virtual int kill();  // 5 when already dead, else 0
  virtual void addBrowse(Component& list);
  virtual void addButton(std::int32_t control, std::uint8_t action);
  virtual void addFileDrop(Component& dropList);
  virtual void reset();  // every component reads its source again; the window is redisplayed
  virtual void restoreField(std::int32_t control);
  virtual int run();         // init, ask, kill; RESPONSE, or Cancelled when none was set
  virtual int formAction();  // what a form does when its record has changed: here, ask
  virtual void setAlerts();
  virtual void setResponse(std::uint8_t value);  // and closes the window
  virtual int takeAccepted();
  virtual int takeCompleted();  // a form's completion
  virtual int takeCloseEvent();
  virtual int takeEvent();
  virtual int takeFieldEvent();
  virtual int takeListEvent();
  virtual int takeFormEvent();
  virtual int takeRejected();
  virtual int takeWindowEvent();
  virtual void update();  // every component copies its control into its variables

  // ---- Fields, in declaration order.
  std::uint8_t AUTOREFRESH = 0;
  std::uint8_t AUTOTOOLBAR = 0;
  std::unique_ptr<ui::Queue<ComponentRecord>> BROWSES;
  std::unique_ptr<ui::Queue<ButtonRecord>> BUTTONS;
  std::unique_ptr<ui::Queue<ComponentRecord>> FILEDROPS;
  std::uint8_t CANCELACTION = 0;
  std::uint8_t CHANGEACTION = 0;
  std::uint8_t DEAD = 0;
  std::uint8_t DELETEACTION = 0;
  ErrorManager* ERRORS = nullptr;
  const void* FILES = nullptr;  // a form's other files: none in this program
  std::int32_t FIRSTFIELD = 0;
  std::uint8_t FORCEDRESET = 0;
  std::uint8_t RESETONGAINFOCUS = 0;
  const void* HISTORY = nullptr;  // saved field values for recall: none in this program
  std::int32_t HISTORYKEY = 0;
  std::uint8_t INITED = 0;
  std::uint8_t INSERTACTION = 0;
  ui::PText<512> LASTINSERTEDPOSITION;
  std::int32_t OKCONTROL = 0;
  std::uint8_t OPENED = 0;
  std::uint8_t ORIGINALREQUEST = 0;
  const void* PRIMARY = nullptr;  // a form's primary file: never set in this program
  std::uint8_t REQUEST = 0;
  Resizer* RESIZE = nullptr;
  std::uint8_t RESPONSE = 0;
  std::uint16_t SAVED = 0;
  ToolbarDispatcher* TOOLBAR = nullptr;
  const void* TRANSLATOR = nullptr;  // translates the window's texts: none in this program
  std::int32_t* VCRREQUEST = nullptr;

 protected:
  ui::Window& window() { return window_; }

 private:
  ui::Window& window_;
};

}  // namespace framework
