// Get and Put: the window's checks and refusals, then the engine's command. Put sends the tagged
// local files when there are any, one command at a time, each started when the one before has ended.
#include "client/client_window.h"
#include "client/local_tags.h"
#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "engine/remote_commands.h"
#include "engine/thread_check.h"

namespace client {

namespace {

bool busy() { return engine::OperationState.load() != engine::state::Idle; }

void cannotProcess() { ui::message("Cannot process request now", "FTP Client"); }

// Sends one local file into the current remote directory; its tag is cleared once it is on its way.
bool sendFile(std::size_t position, const AllFilesRecord& file) {
  if (!engine::startPut(file.NAME.view(), file.SIZE, LocalDirectory.get().view())) return false;
  clearLocalTag(position, file.NAME.clip());
  return true;
}

// The run of tagged files is over: the current remote directory is again the highlighted row's.
void endRun(ClientWindow& cw) {
  cw.tagged = {};
  followTreeSelection(cw);
}

// Starts the next tagged file of the run, or ends the run when none is left.
void sendNextTagged(ClientWindow& cw) {
  AllFilesRecord file;
  const std::size_t position = firstTaggedFile(file);
  if (position == 0) {
    endRun(cw);
    return;
  }
  if (engine::RemoteDirectory.get().clip() != cw.tagged.directory) {
    engine::RemoteDirectory = cw.tagged.directory;
    cw.window.redisplay(control::RemotePath);
  }
  cw.ALLF = file;
  // A refused file keeps its tag, and so do the files after it: the user sees what is left to send.
  if (!sendFile(position, file)) endRun(cw);
  cw.window.redisplay(control::FileList);
}

}  // namespace

void get(ClientWindow& cw) {
  ENGINE_RUNS_ON(Window);
  if (::bActiveSession.load() == 0) {
    ui::message("Not in session.");
    return;
  }
  if (busy()) {
    cannotProcess();
    return;
  }
  // Once connected the tree always has a highlighted row (the server's at first).
  if (!readHighlightedRow(cw)) return;
  if (cw.DLS.ATTRIBUTE == engine::kDirectoryAttribute) {
    ui::message("Cannot \"GET\" Directory.");
    return;
  }
  engine::startGet(cw.DLS, LocalDirectory.get().view());
}

void put(ClientWindow& cw) {
  ENGINE_RUNS_ON(Window);
  if (::bActiveSession.load() == 0) return;
  if (busy()) {
    cannotProcess();
    return;
  }
  if (readHighlightedRow(cw)) engine::TreeIndex = cw.window.selectedRow(control::RemoteTree);
  // With no file highlighted nothing is read: a file read before may lie in another folder by now.
  const int localRow = cw.window.selectedRow(control::FileList);
  if (localRow <= 0 || !AllFiles.get(static_cast<std::size_t>(localRow), cw.ALLF)) cw.ALLF = {};
  if (engine::RemoteDirectory.get().blank()) {
    ui::message("Please select a remote directory to PUT to!");
    return;
  }
  AllFilesRecord tagged;
  if (firstTaggedFile(tagged) != 0) {
    cw.tagged = {true, std::string(engine::RemoteDirectory.get().clip())};
    sendNextTagged(cw);
    return;
  }
  if (cw.ALLF.NAME.blank()) {
    ui::message("Please select a local file to put");
    return;
  }
  sendFile(static_cast<std::size_t>(localRow), cw.ALLF);
  cw.window.redisplay(control::FileList);
}

void commandEnded(ClientWindow& cw, bool ok) {
  ENGINE_RUNS_ON(Window);
  if (!cw.tagged.active) return;
  // A failure stops the run; the files still tagged are those not sent.
  if (!ok || ::bActiveSession.load() == 0) {
    endRun(cw);
    return;
  }
  // Another command may have slipped in between; its own end brings the run back here.
  if (busy()) return;
  sendNextTagged(cw);
}

}  // namespace client
