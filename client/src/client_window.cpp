// The interactive client window. A placeholder until the window is wired to the engine: it opens the
// window and runs its loop until the user closes it.
#include "nimbo.h"
#include "ui/runtime.h"

extern "C" NIMBO_API void CLIENT_AS(void) {
  ui::Window window("NIMBO001", "NIMBO001");
  window.open();
  constexpr int kClose = 26;
  while (window.accept()) {
    if (window.event() == ui::event::Accepted && window.control() == kClose)
      window.post(ui::event::CloseWindow);
  }
}
