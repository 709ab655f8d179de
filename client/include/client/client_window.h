// The interactive client window: one run of CLIENT_AS, and the handlers its event loop calls.
//
// Everything here runs on the window's thread. The engine's callback threads reach the window only
// through the runtime's any-thread operations and through events posted to it (the user events below).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "client/certificate_question.h"
#include "client/controls.h"
#include "client/local.h"
#include "client/resizer.h"
#include "nimbo.h"
#include "ui/runtime.h"
#include "ui/text.h"

namespace client {

// Events the window receives from the engine, posted from whatever thread ended the work.
namespace event {
constexpr int ConnectDone = ui::event::User;  // a Connect has listed the server's top directory
constexpr int CommandDone = ui::event::User + 1;
constexpr int CommandFailed = ui::event::User + 2;
constexpr int TrustQuestion = ui::event::User + 3;  // a server's certificate waits for the user's word
}  // namespace event

// The remote tree's icons, numbered as DLS.ICONFIELD gives them.
inline constexpr std::string_view kRemoteTreeIcons[] = {"~openfold.ico", "~clsdfold.ico", "~files10.ico",
                                                        "~entirnet.ico"};

// Tagged files being put one after the other, all into the directory that was current when Put was
// pressed.
struct TaggedPut {
  bool active = false;
  std::string directory;
};

// One run of the client window.
struct ClientWindow {
  explicit ClientWindow(ui::Window& w)
      : window(w), local(w), trust(w.ref(), ui::currentThread(), event::TrustQuestion) {}
  ClientWindow(const ClientWindow&) = delete;
  ClientWindow& operator=(const ClientWindow&) = delete;

  ui::Window& window;
  LocalSide local;
  Resizer resizer;
  DirectoryListRecord DLS;  // record buffer: the remote row read last
  AllFilesRecord ALLF;      // record buffer: the local file read last
  TaggedPut tagged;
  TrustQuestions trust;
  std::int32_t response = 2;
  bool initialised = false;
  bool refreshPending = false;
  bool opened = false;
};

// ---- The window procedure (client_window.cpp) ----------------------------------------------------
// The protocol every window procedure of the library follows on entry and on exit.
void enterProcedure();
void leaveProcedure(std::int32_t response);
// Enables and disables the session controls by the session's state.
void refreshControlAvailability(ClientWindow& cw);
// Gain-focus, and the redisplay after a resize: the controls shown again unless the window is busy
// copying all of them into their fields.
void gainFocus(ui::Window& window, bool& initialised, bool& refreshPending);

// ---- Get and Put (transfers.cpp) -----------------------------------------------------------------
void get(ClientWindow& cw);
void put(ClientWindow& cw);
// A command has ended: a run of tagged files goes on with the next one, or stops when it failed.
void commandEnded(ClientWindow& cw, bool ok);

// ---- The remote tree (remote_tree.cpp) -----------------------------------------------------------
// Reads the highlighted row into the record buffer; false, and the buffer unchanged, when none is.
bool readHighlightedRow(ClientWindow& cw);
void followTreeSelection(ClientWindow& cw);
void remoteTreeAlert(ClientWindow& cw);
void clearRemoteTags();
// The context menu's items for a row, cut to the menu's 160 characters.
std::string contextMenuText(const DirectoryListRecord& row);

// ---- The dialogs (name_dialogs.cpp) --------------------------------------------------------------
void createDirectoryDialog(ClientWindow& cw);
void renameFileDialog(ClientWindow& cw);

}  // namespace client
