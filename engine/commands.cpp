#include "engine/commands.h"

#include "engine/callback.h"
#include "engine/session.h"
#include "engine/tree.h"
#include "ui/runtime.h"

namespace engine {

namespace {

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

// Issues one FTP call. The layer may refuse at once, in which case no completion will follow, or
// finish at once, in which case it reports no completion either.
void issued(BOOL ok) {
  if (ok) {
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

void startGet(const DirectoryListRecord& picked, std::string_view localDirectory) {
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
  if (ui::clip(name).empty()) return;
  const std::string target = placeIn(RemoteDirectory.get().view(), name);
  if (!fitsOrRefuse<ui::ZText<260>>(target)) return;
  RemoteTarget = target;
  start(state::CreateConnecting);
}

void startRemoveDirectory(const DirectoryListRecord& picked) {
  RemoteTarget = relativePathOf(picked.FULLPATHNAME.view());
  start(state::RemoveConnecting);
}

void startDeleteFile(std::string_view name) {
  const std::string target = placeIn(RemoteDirectory.get().view(), name);
  if (!fitsOrRefuse<ui::ZText<260>>(target)) return;
  RemoteTarget = target;
  start(state::DeleteConnecting);
}

void startRenameFile(std::string_view oldName, std::string_view newName) {
  if (ui::clip(newName).empty()) return;
  const auto directory = RemoteDirectory.get();
  const std::string source = placeIn(directory.view(), oldName);
  const std::string target = placeIn(directory.view(), newName);
  if (!fitsOrRefuse<ui::ZText<260>>(source) || !fitsOrRefuse<ui::ZText<260>>(target)) return;
  RenameSource = source;
  RemoteTarget = target;
  start(state::RenameConnecting);
}

void issueCommand(std::int16_t connectingState) {
  const HINTERNET connection = INET_HANDLE(hFtp.load());
  // Each call's state is set before it is made: its notifications may only count once it is the one in
  // flight.
  switch (connectingState) {
    case state::GetConnecting:
      ResumedFrom = 0;
      enter(state::GetRunning);
      issued(FtpGetFileA(connection, RemoteTarget.get().c_str(), LocalTarget.get().c_str(), FALSE,
                         FILE_ATTRIBUTE_NORMAL, static_cast<DWORD>(TransferType.load()), 1));
      break;
    case state::PutConnecting:
      enter(state::PutRunning);
      issued(FtpPutFileA(connection, LocalSource.get().c_str(), RemoteFileName.get().c_str(),
                         static_cast<DWORD>(TransferType.load()), 1));
      break;
    case state::CreateConnecting:
      enter(state::CreateRunning);
      issued(FtpCreateDirectoryA(connection, RemoteTarget.get().c_str()));
      break;
    case state::RemoveConnecting:
      enter(state::RemoveRunning);
      issued(FtpRemoveDirectoryA(connection, RemoteTarget.get().c_str()));
      break;
    case state::DeleteConnecting:
      enter(state::DeleteRunning);
      issued(FtpDeleteFileA(connection, RemoteTarget.get().c_str()));
      break;
    case state::RenameConnecting:
      enter(state::RenameRunning);
      issued(FtpRenameFileA(connection, RenameSource.get().c_str(), RemoteTarget.get().c_str()));
      break;
    default:
      break;
  }
}

void completeCommand(std::int16_t runningState, DWORD_PTR result) {
  if (result != 0) {
    switch (runningState) {
      case state::CreateRunning:
        ui::message("New directory was created!", "Orin FTP Client");
        break;
      case state::RemoveRunning:
        ui::message("Directory was removed!", "FTP Client");
        break;
      case state::DeleteRunning:
        ui::message("File was deleted!", "FTP Client");
        break;
      case state::RenameRunning:
        ui::message("File was renamed!", "FTP Client");
        break;
      default:
        break;
    }
  }
  // Still busy until the listing below is done: the window must not start a command on the session
  // that the listing replaces.
  enter(state::Relisting);
  if (runningState == state::RemoveRunning) RemoteDirectory = parentOf(RemoteTarget.get().view());
  // Emptied before the listing, so that it cannot clear the target of a command started after it.
  RemoteTarget = "";
  refreshRemoteNode();
  commandEnded(true);
}

}  // namespace engine
