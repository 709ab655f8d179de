// What the user does on the remote tree: the highlight sets the current remote directory, a
// double-click opens or closes a folder, the right button brings the context menu (rename, delete or
// remove, create a directory). Neither acts while a command is in flight.
#include "client/client_window.h"
#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "engine/remote_commands.h"
#include "engine/thread_check.h"

namespace client {

namespace {

bool isDirectory(const DirectoryListRecord& row) { return row.ATTRIBUTE == engine::kDirectoryAttribute; }

void confirmDelete(ClientWindow& cw) {
  const std::string target = engine::placeIn(engine::RemoteDirectory.get().view(), cw.DLS.NAME.view());
  engine::RemoteTarget = target;
  const int answer = ui::message(ui::cat("Do you want to delete: |", target, " file."), "FTP Client",
                                 ui::IDI_EXCLAMATION, ui::BUTTON_YES | ui::BUTTON_NO, ui::BUTTON_NO);
  if (answer == ui::BUTTON_YES) engine::startDeleteFile(cw.DLS.NAME.view());
}

void confirmRemove(ClientWindow& cw) {
  const std::string target = engine::relativePathOf(cw.DLS.FULLPATHNAME.view());
  engine::RemoteTarget = target;
  const int answer = ui::message(ui::cat("Do you want to remove: |", target, " directory."), "FTP Client",
                                 ui::IDI_EXCLAMATION, ui::BUTTON_YES | ui::BUTTON_NO, ui::BUTTON_NO);
  if (answer == ui::BUTTON_YES) engine::startRemoveDirectory(cw.DLS);
}

void contextMenu(ClientWindow& cw) {
  const int row = cw.window.selectedRow(control::RemoteTree);
  if (row <= 0 || !DirectoryList.get(static_cast<std::size_t>(row), cw.DLS)) return;
  engine::TreeIndex = row;
  cw.window.selectRow(control::RemoteTree, row);
  engine::RemoteTarget = "";
  followTreeSelection(cw);
  const int item = ui::popup(contextMenuText(cw.DLS));
  switch (item) {
    case 1:
      renameFileDialog(cw);
      break;
    case 2:
      if (isDirectory(cw.DLS))
        confirmRemove(cw);
      else
        confirmDelete(cw);
      break;
    case 3:
      createDirectoryDialog(cw);
      break;
    default:
      break;
  }
}

void nodeAction(ClientWindow& cw) {
  const int row = cw.window.selectedRow(control::RemoteTree);
  if (row <= 0 || !DirectoryList.get(static_cast<std::size_t>(row), cw.DLS)) return;
  engine::TreeIndex = row;
  engine::nodeAction(cw.DLS);
  cw.window.redisplay(control::RemoteTree);
  cw.window.redisplay(control::RemotePath);
}

}  // namespace

std::string contextMenuText(const DirectoryListRecord& row) {
  const std::string_view name = row.NAME.clip();
  const ui::PText<160> text = isDirectory(row) ? ui::cat("~Rename|Delete ", name, "|Create Dir")
                                               : ui::cat("Rename ", name, "|Delete ", name, "|Create Dir");
  return text.str();
}

bool readHighlightedRow(ClientWindow& cw) {
  const int row = cw.window.selectedRow(control::RemoteTree);
  return row > 0 && DirectoryList.get(static_cast<std::size_t>(row), cw.DLS);
}

void followTreeSelection(ClientWindow& cw) {
  const int row = cw.window.selectedRow(control::RemoteTree);
  if (row <= 0 || !DirectoryList.get(static_cast<std::size_t>(row), cw.DLS)) return;
  engine::TreeIndex = row;
  engine::RemoteDirectory = engine::directoryOfRow(cw.DLS);
  cw.window.redisplay(control::RemotePath);
}

void remoteTreeAlert(ClientWindow& cw) {
  ENGINE_RUNS_ON(Window);
  if (engine::OperationState.load() != engine::state::Idle) return;
  switch (ui::keyCode()) {
    case ui::key::MouseRight:
      contextMenu(cw);
      break;
    case ui::key::MouseLeftDouble:
      nodeAction(cw);
      break;
    default:  // Enter opens nothing here
      break;
  }
}

void clearRemoteTags() {
  // The remote tree keeps no tags (its records have no field for one): there is nothing to clear.
}

}  // namespace client
