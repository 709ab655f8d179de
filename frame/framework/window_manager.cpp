#include "framework/window_manager.h"

#include "framework/toolbar_dispatcher.h"

namespace framework {
namespace {

// The restore-field request a toolbar's "ditto" button sends.
constexpr int kRestoreFieldControl = 2011;

}  // namespace

void WindowManager::ask() {
  if (DEAD) return;
  LASTINSERTEDPOSITION.clear();
  while (window_.accept()) {
    // The runtime has nothing more to do with an event once the program has seen it, so
    // EndEvent and Normally mean the same here.
    if (takeEvent() == handled::EndLoop) break;
  }
}

int WindowManager::init() {
  ORIGINALREQUEST = REQUEST;
  BROWSES = std::make_unique<ui::Queue<ComponentRecord>>();
  BUTTONS = std::make_unique<ui::Queue<ButtonRecord>>();
  FILEDROPS = std::make_unique<ui::Queue<ComponentRecord>>();
  // A right click that opened the window must not reach it as its first alert.
  if (const int key = ui::keyCode(); key == ui::key::MouseRight || key == ui::key::MouseRightUp)
    ui::setKeyCode(ui::key::None);
  INSERTACTION = 2;
  DELETEACTION = 2;
  CHANGEACTION = 1;
  CANCELACTION = 3;
  AUTOTOOLBAR = 1;
  AUTOREFRESH = 1;
  return 0;
}

int WindowManager::kill() {
  if (DEAD || !BROWSES) return handled::EndEvent;
  BROWSES.reset();
  BUTTONS.reset();
  FILEDROPS.reset();
  if (TOOLBAR) TOOLBAR->kill();
  if (RESIZE) RESIZE->kill();
  DEAD = 1;
  return 0;
}

void WindowManager::addBrowse(Component& list) {
  if (BROWSES) BROWSES->add({&list});
}

void WindowManager::addButton(std::int32_t control, std::uint8_t action) {
  if (BUTTONS) BUTTONS->add({control, action});
}

void WindowManager::addFileDrop(Component& dropList) {
  if (FILEDROPS) FILEDROPS->add({&dropList});
}

void WindowManager::reset() {
  for (auto* queue : {BROWSES.get(), FILEDROPS.get()})
    if (queue) queue->forEach([](std::size_t, const ComponentRecord& r) { r.COMPONENT->reset(); });
  window_.redisplay();
}

// History fields keep the values a user may recall; no window of this program has one.
void WindowManager::restoreField(std::int32_t) {}

int WindowManager::run() {
  if (init() == 0) ask();
  kill();
  return RESPONSE != response::None ? RESPONSE : response::Cancelled;
}

int WindowManager::formAction() { return 2; }

// Lists and history fields register their alert keys here; these windows have none.
void WindowManager::setAlerts() {}

void WindowManager::setResponse(std::uint8_t value) {
  RESPONSE = value;
  window_.post(ui::event::CloseWindow);
  if (value == response::Cancelled && TOOLBAR && VCRREQUEST) *VCRREQUEST = 0;
}

int WindowManager::takeAccepted() {
  const int control = window_.control();
  if (TOOLBAR) {
    std::int32_t unbound = 0;
    TOOLBAR->takeEvent(VCRREQUEST ? *VCRREQUEST : unbound);
    if (control == kRestoreFieldControl) restoreField(control);
  }
  ButtonRecord button;
  if (BUTTONS && BUTTONS->find([control](const ButtonRecord& r) { return r.CONTROL == control; }, button)) {
    setResponse(button.ACTION);
    return handled::EndEvent;
  }
  if (OKCONTROL != 0 && control == OKCONTROL) return takeCompleted();
  return handled::Normally;
}

// Without a form, completing the window is accepting it.
int WindowManager::takeCompleted() {
  setResponse(response::Completed);
  return handled::Normally;
}

// Without a form there is nothing to save or confirm: the window closes at once.
int WindowManager::takeCloseEvent() { return handled::Normally; }

int WindowManager::takeEvent() {
  if (const int level = takeWindowEvent(); level != handled::Normally) return level;
  if (window_.control() == 0) return handled::Normally;
  switch (window_.event()) {
    case ui::event::Accepted:
      return takeAccepted();
    case ui::event::Rejected:
      return takeRejected();
    default:
      break;
  }
  if (HISTORYKEY != 0 && ui::keyCode() == HISTORYKEY) {
    restoreField(window_.control());
    return handled::EndEvent;
  }
  if (const int level = takeFieldEvent(); level != handled::Normally) return level;
  if (const int level = takeListEvent(); level != handled::Normally) return level;
  return takeFormEvent();
}

int WindowManager::takeFieldEvent() { return handled::Normally; }

int WindowManager::takeListEvent() { return handled::Normally; }

int WindowManager::takeFormEvent() { return handled::Normally; }

int WindowManager::takeRejected() { return handled::Normally; }

int WindowManager::takeWindowEvent() {
  switch (window_.event()) {
    case ui::event::CloseWindow:
    case ui::event::CloseDown:
      return takeCloseEvent();
    case ui::event::OpenWindow:
      if (FIRSTFIELD != 0) window_.select(FIRSTFIELD);
      return handled::Normally;
    case ui::event::GainFocus:
      if (RESETONGAINFOCUS) reset();
      return handled::Normally;
    default:
      return handled::Normally;
  }
}

void WindowManager::update() {
  for (auto* queue : {BROWSES.get(), FILEDROPS.get()})
    if (queue) queue->forEach([](std::size_t, const ComponentRecord& r) { r.COMPONENT->update(); });
}

}  // namespace framework
