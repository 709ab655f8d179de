// The server check of a download batch: every entry of TransferList is looked up on the server over
// a short-lived synchronous session, so that the window shows which files exist and how large they
// are, and each download's percentage has a base. It runs inside the status callback, on the FTP
// layer's delivery thread, when the batch's first connect has completed; it ends by opening a fresh
// asynchronous session and connecting for the first download.
#include <string>

#include "batch/callback.h"
#include "batch/context.h"
#include "batch/run.h"
#include "batch/status.h"
#include "batch/transferlist.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

void closeHandleIn(std::atomic<uint32_t>& slot) {
  if (const uint32_t handle = slot.exchange(0)) InternetCloseHandle(INET_HANDLE(handle));
}

void lookUpEntries(HINTERNET connection) {
  const uint32_t count = BatchCount.load();
  for (uint32_t position = 1; position <= count; ++position) {
    if (!TheRun.running()) return;  // the user closed the window: End batch has closed the session
    TransferRecord FTPR;
    if (!TransferList.get(position, FTPR)) return;
    BatchFindData.cFileName[0] = '\0';
    BatchFindData.nFileSizeLow = BatchFindData.nFileSizeHigh = 0;
    const PathText path = lookupPath(BatchRemoteDirectory.view(), FTPR.FILENAME.view());
    BatchRemotePath = path;
    showStatus(1, ui::cat("Checking for ", FTPR.FILENAME.view()));
    // Only the first match counts: a name is a file, not a pattern to be listed.
    const HINTERNET found = FtpFindFirstFileA(connection, path.c_str(), &BatchFindData, 0, 0);
    if (found) {
      FTPR.FILEEXISTS = 1;
      FTPR.SIZE = foundSize(BatchFindData);
    } else {
      FTPR.FILEEXISTS = 0;
    }
    TransferList.put(position, FTPR);
    traceCheck(path.view(), FTPR.FILEEXISTS, FTPR.SIZE);
    if (found) InternetCloseHandle(found);
    ui::postToThread(MainThread.load(), ui::event::GainFocus);
  }
}

void checkAndReconnect() {
  const ui::ZText<40> server = ServerName.get();
  // The session that carried the first connect; its connection goes with it.
  closeHandleIn(hOpen);
  hConnection = 0;
  hBatchFtp = 0;
  showStatus(0, ui::cat("Connecting to ", server.view()));

  const HINTERNET lookups = InternetOpenA(BatchAgentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                          NullString.c_str(), NullString.c_str(), 0);
  if (!TheRun.adopt(hOpen, lookups)) return;
  ui::requestRedisplay(MainWindow.load());
  // Blocks until the server has answered the login. When it fails, every lookup below fails too and
  // every entry is marked as missing; the downloads are still attempted.
  const HINTERNET connection =
      InternetConnectA(lookups, server.c_str(), INTERNET_INVALID_PORT_NUMBER, BatchUserName.c_str(),
                       BatchPassword.c_str(), INTERNET_SERVICE_FTP, BatchConnectFlags.load(), 0);
  if (connection && !TheRun.adopt(hConnection, connection)) return;
  lookUpEntries(connection);
  if (!TheRun.running()) return;

  // Between the two sessions nothing of the batch is in flight, and the state says so until the
  // connect for the first download is issued.
  setBatchState(StateFinished);
  // Nothing uses the lookups' session any more: close it rather than leave it open until the
  // process ends.
  closeHandleIn(hConnection);
  closeHandleIn(hOpen);
  const HINTERNET session = InternetOpenA(BatchAgentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                          NullString.c_str(), NullString.c_str(), INTERNET_FLAG_ASYNC);
  if (!TheRun.adopt(hOpen, session)) return;
  InternetSetStatusCallback(session, batchStatusCallback);
  showStatus(1, "");
  setBatchState(StateConnectingGet);
  issueConnect();
}

}  // namespace

void checkFilesOnServer() {
  ui::setCursor(ui::IDC_CROSS);
  checkAndReconnect();
  ui::restoreCursor();
}

}  // namespace batch

extern "C" NIMBO_API void CHECKFILESONSERVER(void) {
  batch::Run::Step step(batch::TheRun);
  if (!step) return;  // only a download batch has files to check
  batch::checkFilesOnServer();
}
