// CLIENT_AS: the client window's procedure. It opens the window, routes each event to its handler,
// and when the window closes closes the session, so that nothing goes on unseen.
#include "client/client_window.h"

#include <vector>

#include "client/local_tags.h"
#include "engine/client_session.h"
#include "engine/remote_commands.h"
#include "nimbo.h"

namespace client {

namespace {

void bindControls(ClientWindow& cw) {
  ui::Window& w = cw.window;
  w.bind(control::ProxyFromRegistry, engine::bProxyFromRegistry);
  w.bind(control::ProxyServer, engine::ProxyServer);
  w.bind(control::ServerName, ::ServerName);
  w.bind(control::UserName, engine::UserName);
  w.bind(control::Password, engine::Password);
  w.bind(control::Passive, engine::bPassive);
  w.bind(control::RemotePath, engine::RemoteDirectory);
  w.bind(control::Transfer, engine::TransferType);
  w.bind(control::Progress, engine::ProgressPercent);
  w.bindList<DirectoryListRecord>(control::RemoteTree, DirectoryList, [](const DirectoryListRecord& r) {
    return std::vector<ui::Cell>{std::string(r.NAME.view()), std::int64_t{r.ICONFIELD},
                                 std::int64_t{r.TREELEVEL}, r.SIZESTR.str()};
  });
  bindLocalSide(cw.local);
  w.showMarks(control::FileList);
  w.setAlertKey(ui::key::Escape);
}

bool commandInFlight() {
  const std::int16_t s = engine::OperationState.load();
  return s != engine::state::Idle && s != engine::state::Loaded;
}

// The tree and the current remote directory shown again after the engine has changed them.
void showRemoteSide(ui::Window& w) {
  w.redisplay(control::RemoteTree);
  w.redisplay(control::RemotePath);
}

void installHooks(ClientWindow& cw) {
  const ui::WindowRef ref = cw.window.ref();
  engine::installWindowHooks({
      [&cw] { refreshControlAvailability(cw); },
      [] { readLocalFiles(); },
      // Posted, not run: the hook is called on a callback thread, the run of tagged files goes on on
      // the window's. A post to a closed window does nothing.
      [ref](bool ok) { ui::post(ref, ok ? event::CommandDone : event::CommandFailed); },
      cw.trust.question(),
  });
}

// A Connect has completed. The tree's highlight is put on the server's row if it is on none, so that
// Get and Put always read the row the user sees highlighted.
void connectDone(ClientWindow& cw) {
  refreshControlAvailability(cw);
  if (::bActiveSession.load() == 1 && cw.window.selectedRow(control::RemoteTree) == 0) {
    cw.window.redisplay(control::RemoteTree);
    cw.window.selectRow(control::RemoteTree, 1);
  }
}

// The user has ticked or cleared the box of the highlighted local file.
void toggleHighlightedTag(ui::Window& w) {
  const int row = w.selectedRow(control::FileList);
  AllFilesRecord file;
  if (row <= 0 || !AllFiles.get(static_cast<std::size_t>(row), file)) return;
  toggleLocalTag(static_cast<std::size_t>(row), file.NAME.clip());
  w.redisplay(control::FileList);
}

void openWindow(ClientWindow& cw) {
  if (!cw.initialised) {
    cw.window.redisplay();
    cw.initialised = true;
  }
  cw.window.select(control::ProxyFromRegistry);
  ::MainThread = ui::currentThread();
  showDriveIcon(cw.local);
  initialFileListing();
  cw.window.redisplay();
  // Always No session at first. An earlier run closed its session as its window closed; whatever is
  // still left of one (a command that ended late) is closed too, so the window acts as it shows.
  engine::closeSession();
  showRemoteSide(cw.window);
  refreshControlAvailability(cw);
}

void startSession(ClientWindow& cw) {
  engine::openSession();
  cw.window.select(control::ServerName);
  cw.window.redisplay(control::Transfer);
}

void connect(ClientWindow& cw) {
  cw.window.update();
  engine::connect();
}

// Events of the window as a whole; true when the event was one.
bool windowEvent(ClientWindow& cw, int ev) {
  ui::Window& w = cw.window;
  switch (ev) {
    case event::ConnectDone:
      connectDone(cw);
      return true;
    case event::CommandDone:
    case event::CommandFailed:
      // A command's end has listed its directory again, and a removal has changed the current one.
      showRemoteSide(w);
      commandEnded(cw, ev == event::CommandDone);
      return true;
    case event::TrustQuestion:
      cw.trust.askWaiting();
      return true;
    case ui::event::CloseWindow:
      // A command in flight would go on unseen: the user says first whether to stop it.
      if (commandInFlight() && w.closeCanWait() &&
          ui::message("A command is still running.|Close the window and stop it?", "FTP Client",
                      ui::IDI_EXCLAMATION, ui::BUTTON_YES | ui::BUTTON_NO, ui::BUTTON_NO) != ui::BUTTON_YES)
        w.keepOpen();
      return true;
    case ui::event::CloseDown:
      release(cw.resizer);
      return true;
    case ui::event::OpenWindow:
      openWindow(cw);
      return true;
    case ui::event::GainFocus:
      gainFocus(w, cw.initialised, cw.refreshPending);
      return true;
    case ui::event::Resized:
      reLayout(cw.resizer, w);
      gainFocus(w, cw.initialised, cw.refreshPending);
      return true;
    default:
      return false;
  }
}

void controlEvent(ClientWindow& cw, int ev, int number) {
  ui::Window& w = cw.window;
  if (ev == ui::event::Rejected) {
    ui::beep();
    w.redisplay(number);
    w.select(number);
    return;
  }
  if (ev == ui::event::NewSelection) {
    if (number == control::RemoteTree) followTreeSelection(cw);
    return;
  }
  if (ev == ui::event::MarkToggled) {
    if (number == control::FileList) toggleHighlightedTag(w);
    return;
  }
  if (ev == ui::event::Alert && number == 0) {
    // Escape, wherever the keyboard is: the transfer in flight stops.
    if (ui::keyCode() == ui::key::Escape) engine::stopTransfer();
    return;
  }
  if (ev == ui::event::Alert) {
    // Every list raises alerts; only these two lists act on them.
    if (number == control::RemoteTree) remoteTreeAlert(cw);
    if (number == control::FolderList) goToFolder(cw.local);
    return;
  }
  if (ev != ui::event::Accepted) return;
  switch (number) {
    case control::StartSession:
      startSession(cw);
      break;
    case control::CloseSession:
      engine::closeSession();
      showRemoteSide(w);
      break;
    case control::Connect:
      connect(cw);
      break;
    case control::Disconnect:
      engine::disconnect();
      showRemoteSide(w);
      break;
    case control::Get:
      get(cw);
      break;
    case control::Put:
      put(cw);
      break;
    case control::ClearRemoteTags:
      clearRemoteTags();
      break;
    case control::ClearLocalTags:
      clearLocalTags();
      w.redisplay(control::FileList);
      break;
    case control::Close:
      w.post(ui::event::CloseWindow);
      break;
    case control::PreviousLevel:
      folderUp(cw.local);
      break;
    case control::DriveList:
      changeDrive(cw.local);
      break;
    default:
      break;
  }
}

}  // namespace

void enterProcedure() {
  ::GlobalRequest = 0;
  ::GlobalResponse = 0;
  if (ui::keyCode() == ui::key::MouseRight) ui::setKeyCode(ui::key::None);
}

void leaveProcedure(std::int32_t response) { ::GlobalResponse = response != 0 ? response : 2; }

void refreshControlAvailability(ClientWindow& cw) {
  ui::Window& w = cw.window;
  const bool session = engine::bSessionOpen.load() == 1;
  const bool connected = ::bActiveSession.load() == 1;
  w.enable(control::StartSession, !session);
  w.enable(control::ProxyServer, !session);
  w.enable(control::CloseSession, session);
  for (int entry : {control::ServerName, control::UserName, control::Password}) w.enable(entry, session);
  w.enable(control::Passive, session);
  for (int transfer : {control::Transfer, control::Binary, control::Ascii}) w.enable(transfer, session);
  w.enable(control::Connect, session && !connected);
  w.enable(control::Disconnect, session && connected);
  w.enable(control::Get, session && connected);
  w.enable(control::Put, session && connected);
}

void gainFocus(ui::Window& window, bool& initialised, bool& refreshPending) {
  refreshPending = true;
  if (!initialised) {
    window.redisplay();
    initialised = true;
    return;
  }
  if (!window.updatingAll()) window.redisplay();
  refreshPending = false;
}

}  // namespace client

extern "C" NIMBO_API void CLIENT_AS(void) {
  using namespace client;
  ui::Window window("NIMBO001", "NIMBO001");
  ClientWindow cw(window);
  bindControls(cw);
  enterProcedure();
  cw.response = 2;
  ::NullString = "";
  engine::AgentName = engine::kAgentName;

  window.open();
  cw.opened = true;
  setUp(cw.resizer, window, 1);
  window.setIconList(control::RemoteTree,
                     std::vector<std::string>(std::begin(kRemoteTreeIcons), std::end(kRemoteTreeIcons)));
  readDrives(cw.local);
  ::MainWindow = window.ref();
  installHooks(cw);

  while (window.accept()) {
    const int ev = window.event();
    if (!windowEvent(cw, ev)) controlEvent(cw, ev, window.control());
  }

  // Nothing of the session may reach this window again; then the session closes, stopping a command
  // still in flight. A callback that read the window's reference before this finds it closed, which
  // the runtime makes harmless.
  engine::installWindowHooks({});
  cw.trust.close();
  ::MainWindow = 0;
  ::MainThread = 0;
  engine::endWithWindow();
  if (cw.opened) window.close();
  leaveProcedure(cw.response);
}
