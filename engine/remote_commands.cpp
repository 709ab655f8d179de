#include "engine/remote_commands.h"

#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "engine/texts.h"
#include "engine/thread_check.h"
#include "ui/runtime.h"

namespace engine {

namespace {

// A command's connection is of no use once the command has ended. Left open, it would stay logged in
// until the next listing closes the session, and a server that allows few connections from one address
// would refuse the next download.
void closeCommandConnection() {
  const std::uint32_t connection = hFtp.exchange(0);
  if (connection == 0) return;
  std::uint32_t latest = connection;
  hConnection.compare_exchange_strong(latest, 0);
  InternetCloseHandle(INET_HANDLE(connection));
}

// A path cut to its field would name another file, which the command might then overwrite or delete.
template <typename Field>
bool fitsOrRefuse(const std::string& path) {
  if (path.size() <= Field::capacity) return true;
  ui::message(ui::cat("The path is too long:|", path), "OrinFTP Client Error", ui::IDI_ASTERISK,
              ui::BUTTON_OK);
  return false;
}

bool start(const State& connecting) {
  enter(connecting);
  return issueConnect();
}

// The directory a finished command changed, listed again; Idle only once the listing's new session is
// in place, so that a command started meanwhile cannot go to the session the listing replaces.
void relist() {
  refreshRemoteNode();
  enter(state::Idle);
}

// --- The FTP calls, each on the command's own connection -------------------------------------------

BOOL callGet(HINTERNET connection) {
  ResumedFrom = 0;
  return FtpGetFileA(connection, RemoteTarget.get().c_str(), LocalTarget.get().c_str(), FALSE,
                     FILE_ATTRIBUTE_NORMAL, static_cast<DWORD>(TransferType.load()), 1);
}
BOOL callPut(HINTERNET connection) {
  return FtpPutFileA(connection, LocalSource.get().c_str(), RemoteFileName.get().c_str(),
                     static_cast<DWORD>(TransferType.load()), 1);
}
BOOL callCreate(HINTERNET connection) { return FtpCreateDirectoryA(connection, RemoteTarget.get().c_str()); }
BOOL callRemove(HINTERNET connection) { return FtpRemoveDirectoryA(connection, RemoteTarget.get().c_str()); }
BOOL callDelete(HINTERNET connection) { return FtpDeleteFileA(connection, RemoteTarget.get().c_str()); }
BOOL callRename(HINTERNET connection) {
  return FtpRenameFileA(connection, RenameSource.get().c_str(), RemoteTarget.get().c_str());
}

// --- What each command does when its last request has completed ------------------------------------

struct Command;

// The connect of Connect proved the server answers; the listing makes a connection of its own.
void connectEnded(const Command&, DWORD_PTR) {
  listRemoteDirectory();
  enter(state::Idle);
  bActiveSession = 1;
  bSessionOpen = 1;
  ui::postToThread(MainThread.load(), ui::event::User);
  ui::setStatus(MainWindow.load(), 3, "");
}

void getEnded(const Command&, DWORD_PTR) {
  const ui::WindowRef window = MainWindow.load();
  ui::setStatus(window, 0, "Download complete");
  closeCommandConnection();
  finishTransfer(state::Idle);
  readLocalFilesHook();
  ui::setStatus(window, 0, "Done");
  ui::requestRedisplay(window);
  commandEndedHook(true);
}

void putEnded(const Command&, DWORD_PTR) {
  const ui::WindowRef window = MainWindow.load();
  ui::setStatus(window, 0, "Upload complete");
  finishTransfer(state::Relisting);
  relist();
  ui::requestRedisplay(window);
  commandEndedHook(true);
}

void remoteCommandEnded(const Command& command, DWORD_PTR result);

// One command: its states, the FTP call its connect leads to (none for Connect), what its end does,
// and the message a create, remove, delete or rename shows when the server said it was done.
struct Command {
  const State& connecting;
  const State* running;
  BOOL (*call)(HINTERNET connection);
  void (*ended)(const Command& command, DWORD_PTR result);
  const char* doneMessage = nullptr;
  const char* doneCaption = nullptr;
};

const Command kCommands[] = {
    {state::ConnectConnecting, nullptr, nullptr, connectEnded},
    {state::GetConnecting, &state::GetRunning, callGet, getEnded},
    {state::PutConnecting, &state::PutRunning, callPut, putEnded},
    {state::CreateConnecting, &state::CreateRunning, callCreate, remoteCommandEnded,
     "New directory was created!", "Orin FTP Client"},
    {state::RemoveConnecting, &state::RemoveRunning, callRemove, remoteCommandEnded, "Directory was removed!",
     "FTP Client"},
    {state::DeleteConnecting, &state::DeleteRunning, callDelete, remoteCommandEnded, "File was deleted!",
     "FTP Client"},
    {state::RenameConnecting, &state::RenameRunning, callRename, remoteCommandEnded, "File was renamed!",
     "FTP Client"},
};

void remoteCommandEnded(const Command& command, DWORD_PTR result) {
  if (result != 0) ui::message(command.doneMessage, command.doneCaption);
  // Still busy until the listing below is done: the window must not start a command on the session
  // that the listing replaces.
  enter(state::Relisting);
  if (&command.connecting == &state::RemoveConnecting) RemoteDirectory = parentOf(RemoteTarget.get().view());
  // Emptied before the listing, so that it cannot clear the target of a command started after it.
  RemoteTarget = "";
  relist();
  commandEndedHook(true);
}

// The FTP call of a command whose connect has completed. Its running state is entered before the call:
// the call's notifications may only count once it is the one in flight. The layer may refuse at once,
// in which case no completion will follow, or finish at once, in which case it reports no completion
// either.
void callOnConnection(const Command& command) {
  const HINTERNET connection = INET_HANDLE(hFtp.load());
  enter(*command.running);
  if (command.call(connection)) {
    requestCompleted(INTERNET_ASYNC_RESULT{TRUE, 0});
    return;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) failRequest(error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

}  // namespace

std::string placeIn(std::string_view directory, std::string_view name) {
  directory = ui::clip(directory);
  name = ui::clip(name);
  return directory == "/" ? ui::cat("/", name) : ui::cat(directory, "/", name);
}

std::string uploadTarget(std::string_view directory, std::string_view name) {
  directory = ui::clip(directory);
  name = ui::clip(name);
  return directory == "/" ? std::string(name) : ui::cat(directory, "/", name);
}

std::string parentOf(std::string_view path) {
  // Walk back over the last name and its "/", keeping a leading "/" so the root stays "/".
  std::string parent(path);
  for (std::size_t i = parent.size(); i-- > 0;) {
    if (parent[i] != '/') {
      parent[i] = ' ';
      continue;
    }
    if (i != 0) parent[i] = ' ';
    break;
  }
  return std::string(ui::clip(parent));
}

// --- Starting a command (window's thread) ----------------------------------------------------------

void connect() {
  ENGINE_RUNS_ON(Window);
  if (bActiveSession.load() == 1 || hOpen.load() == 0) return;
  const std::string server = serverName();
  if (server.empty()) {
    ui::message("Please enter a server name!", {}, ui::ICON_NONE, ui::BUTTON_OK);
    return;
  }
  // Stored without trailing blanks: the tree's full paths begin with it, and relative paths are cut
  // from them by its length.
  ServerName = server;
  ConnectFlags = bPassive.load() != 0 ? INTERNET_FLAG_PASSIVE : 0;
  const ui::WindowRef window = MainWindow.load();
  ui::setStatus(window, 0, "Connecting to " + server);
  // No session is active, so a tree left here is the root of a connect that failed; the new root
  // must not land beside it.
  DirectoryList.free();
  insertListing(server);
  RemoteDirectory = "/";
  ListDirectory = server;
  start(state::ConnectConnecting);
  ui::setStatus(window, 0, "Done");
}

void listOpenedFolder(std::string_view fullPath, std::string_view relativePath) {
  ENGINE_RUNS_ON(Window);
  ListParentPath = fullPath;
  ListDirectory = relativePath;
  RemoteDirectory = relativePath;
  enter(state::FolderListing);
  listRemoteDirectory();
  enter(state::Idle);
}

void startGet(const DirectoryListRecord& picked, std::string_view localDirectory) {
  ENGINE_RUNS_ON(Window);
  const std::string name(picked.NAME.view());
  std::string_view directory = localDirectory;
  if (!directory.empty()) directory.remove_suffix(1);
  const std::string localTarget = ui::cat(directory, "/", ui::clip(name));
  if (!fitsOrRefuse<ui::ZText<256>>(localTarget) || !fitsOrRefuse<ui::ZText<256>>(name)) return;
  RemoteFileName = name;
  LocalTarget = localTarget;
  RemoteTarget = relativePathOf(picked.FULLPATHNAME.view());
  TransferSize = static_cast<std::int64_t>(wholeSize(picked));
  ui::setStatus(MainWindow.load(), 0, "Getting file: " + name);
  ProgressLabel = "Received:";
  start(state::GetConnecting);
  ui::requestRedisplay(MainWindow.load());
}

bool startPut(std::string_view localName, std::int32_t size, std::string_view localDirectory) {
  ENGINE_RUNS_ON(Window);
  const std::string_view name = ui::clip(localName);
  const std::string localSource = ui::cat(localDirectory, name);
  const std::string remote = uploadTarget(RemoteDirectory.get().view(), name);
  if (!fitsOrRefuse<ui::ZText<256>>(localSource) || !fitsOrRefuse<ui::ZText<256>>(remote)) return false;
  LocalSource = localSource;
  TransferSize = size;
  RemoteFileName = remote;
  ProgressLabel = "Sent:";
  const bool started = start(state::PutConnecting);
  ui::setStatus(MainWindow.load(), 0, "Putting file: " + remote);
  ui::requestRedisplay(MainWindow.load());
  return started;
}

void startCreateDirectory(std::string_view name) {
  ENGINE_RUNS_ON(Window);
  if (ui::clip(name).empty()) return;
  const std::string target = placeIn(RemoteDirectory.get().view(), name);
  if (!fitsOrRefuse<ui::ZText<260>>(target)) return;
  RemoteTarget = target;
  start(state::CreateConnecting);
}

void startRemoveDirectory(const DirectoryListRecord& picked) {
  ENGINE_RUNS_ON(Window);
  RemoteTarget = relativePathOf(picked.FULLPATHNAME.view());
  start(state::RemoveConnecting);
}

void startDeleteFile(std::string_view name) {
  ENGINE_RUNS_ON(Window);
  const std::string target = placeIn(RemoteDirectory.get().view(), name);
  if (!fitsOrRefuse<ui::ZText<260>>(target)) return;
  RemoteTarget = target;
  start(state::DeleteConnecting);
}

void startRenameFile(std::string_view oldName, std::string_view newName) {
  ENGINE_RUNS_ON(Window);
  if (ui::clip(newName).empty()) return;
  const auto directory = RemoteDirectory.get();
  const std::string source = placeIn(directory.view(), oldName);
  const std::string target = placeIn(directory.view(), newName);
  if (!fitsOrRefuse<ui::ZText<260>>(source) || !fitsOrRefuse<ui::ZText<260>>(target)) return;
  RenameSource = source;
  RemoteTarget = target;
  start(state::RenameConnecting);
}

bool issueConnect() {
  ENGINE_RUNS_ON(Window);
  StopRequested = false;
  const std::string server = sessionServer();
  const auto user = UserName.get();
  const auto password = Password.get();
  HINTERNET connection =
      InternetConnectA(INET_HANDLE(hOpen.load()), server.c_str(), INTERNET_INVALID_PORT_NUMBER, user.c_str(),
                       password.c_str(), INTERNET_SERVICE_FTP, ConnectFlags.load(), 1);
  const DWORD error = GetLastError();
  hConnection = INET_HANDLE_ID(connection);
  if (connection == nullptr && error != ERROR_IO_PENDING) {
    failRequest(error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR);
    return false;
  }
  return true;
}

bool stopTransfer() {
  ENGINE_RUNS_ON(Window);
  const std::int16_t s = OperationState.load();
  if (s < state::GetConnecting || s > state::PutRunning) return false;
  StopRequested = true;
  // Closed, not cleared: the failure path that the cancellation takes clears the command's handles.
  if (const std::uint32_t connection = hConnection.load()) InternetCloseHandle(INET_HANDLE(connection));
  return true;
}

void endWithWindow() {
  ENGINE_RUNS_ON(Window);
  const std::int16_t s = OperationState.load();
  if (s != state::Idle && s != state::Loaded) StopRequested = true;
  closeSession();
}

// --- Moving the command in flight on (delivery thread) ---------------------------------------------

void requestCompleted(const INTERNET_ASYNC_RESULT& result) {
  ENGINE_RUNS_ON(Delivery);
  // By code: a completion in code 2 is Connect's, whichever of its names the state was entered by.
  const std::int16_t code = OperationState.load();
  for (const Command& command : kCommands) {
    if (code == command.connecting.code) {
      if (command.running != nullptr)
        callOnConnection(command);
      else
        command.ended(command, result.dwResult);
      return;
    }
    if (command.running != nullptr && code == command.running->code) {
      command.ended(command, result.dwResult);
      return;
    }
  }
}

void finishTransfer(const State& next) {
  enter(next);
  bProgressStarted = 0;
  ResumedFrom = 0;
  ProgressPercent = 0;
  ui::setStatus(MainWindow.load(), 2, "Finished");
}

void failRequest(DWORD error) {
  ErrorText = internetErrorText(error).clip();
  closeCommandConnection();
  const ui::WindowRef window = MainWindow.load();
  if (StopRequested.exchange(false)) {
    // The user stopped it: nothing failed that a box should tell.
    ui::setStatus(window, 0, "Transfer stopped");
  } else {
    if (&currentState() == &state::ConnectConnecting && bActiveSession.load() == 0) {
      // A Connect that failed leaves no tree: the box tells of no server, and the tree shows none.
      DirectoryList.free();
      ui::requestRedisplay(window);
    }
    ui::message(ErrorText.get().clip(), "OrinFTP Client Error", ui::IDI_ASTERISK, ui::BUTTON_OK);
  }
  // The next transfer starts its count afresh, not where the failed one stopped.
  bProgressStarted = 0;
  ProgressSkip = 0;
  ProgressTotal = 0;
  ProgressPercent = 0;
  ResumedFrom = 0;
  ui::requestRedisplay(window);
  enter(state::Idle);
  commandEndedHook(false);
}

}  // namespace engine
