// The Create Directory and Rename File dialogs: a name typed, the command started, the dialog closed.
// The engine builds the command's paths and refuses one too long for its field, which cut short would
// name another file.
#include <functional>

#include "client/client_window.h"
#include "engine/client_session.h"
#include "engine/remote_commands.h"

namespace client {

namespace {

constexpr int kShown = 2;  // what the command works on: the directory, or the old name
constexpr int kName = 4;   // the name typed
constexpr int kGo = 5;     // "Create" or "Rename"
constexpr int kCancel = 6;

// Runs a dialog of NIMBO001 until one of its buttons closes it; `go` is the step of button 5.
void runDialog(ClientWindow& cw, std::string_view name, ui::Binding shown, const std::function<void()>& go) {
  ui::Window dialog("NIMBO001", name);
  dialog.bind(kShown, std::move(shown));
  dialog.bind(kName, engine::RemoteTarget);
  enterProcedure();
  const std::int32_t response = 2;
  dialog.open();
  bool initialised = false, refreshPending = false;
  while (dialog.accept()) {
    const int ev = dialog.event();
    switch (ev) {
      case ui::event::OpenWindow:
        if (!initialised) {
          dialog.redisplay();
          initialised = true;
        }
        dialog.select(kName);
        break;
      case ui::event::GainFocus:
        gainFocus(dialog, initialised, refreshPending);
        break;
      case ui::event::Rejected:
        ui::beep();
        dialog.redisplay(dialog.control());
        dialog.select(dialog.control());
        break;
      case ui::event::Accepted:
        if (dialog.control() == kGo) {
          dialog.update(kName);
          go();
        }
        if (dialog.control() == kGo || dialog.control() == kCancel) dialog.post(ui::event::CloseWindow);
        break;
      default:
        // The engine posts to the thread's newest window, which is this one while it is open.
        if (ev >= ui::event::User) ui::post(cw.window.ref(), ev, dialog.control());
        break;
    }
  }
  dialog.close();
  leaveProcedure(response);
}

std::string typedName() { return std::string(engine::RemoteTarget.get().view()); }

}  // namespace

void createDirectoryDialog(ClientWindow& cw) {
  runDialog(cw, "CreateDirectory", ui::Binding{[] { return engine::RemoteDirectory.get().str(); }, {}}, [] {
    const std::string name = typedName();
    if (!ui::clip(name).empty()) engine::startCreateDirectory(name);
  });
}

void renameFileDialog(ClientWindow& cw) {
  const std::string oldName(cw.DLS.NAME.view());
  runDialog(cw, "RenameFile", ui::Binding{[oldName] { return oldName; }, {}}, [&oldName] {
    const std::string name = typedName();
    if (!ui::clip(name).empty()) engine::startRenameFile(oldName, name);
  });
}

}  // namespace client
