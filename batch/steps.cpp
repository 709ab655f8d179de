// The batch's steps and the table that moves it from one to the next. A file of a download runs:
//
//   Start batch (window's thread): state First connect, connect
//   completion (delivery): check the server; state Finished while the sessions change; state
//     Connecting for Get, connect
//   completion (delivery): transfer, state Get in flight
//   progress notifications (delivery): counted by the status callback (batchcallback.cpp)
//   completion (delivery): "Download complete"; state Connecting for Get and connect once the file's
//     connection has closed (HANDLE_CLOSING on a delivery thread, or the time limit on the retry
//     thread), or after the last file finish and close the window
//
// An upload checks its local files on the window's thread instead and uses Put's states. A failed
// request takes the retry step, which connects again (at once after a transfer, after a growing pause
// on the retry thread after a connect).
#include "batch/steps.h"

#include <atomic>
#include <chrono>
#include <string>

#include "batch/batchcallback.h"
#include "batch/context.h"
#include "batch/report.h"
#include "batch/status.h"
#include "batch/threadcheck.h"
#include "batch/transferlist.h"
#include "engine/texts.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

void closeWindowWhenDone() { ui::postToThread(MainThread.load(), ui::event::CloseWindow); }

// ---- Retry --------------------------------------------------------------------------------------

std::string describeFailure(Run::Request kind, DWORD error) {
  std::string what;
  switch (kind) {
    case Run::Request::Connect:
      what = ui::cat("connect to ", ServerName.get().view());
      break;
    case Run::Request::Transfer:
      what = ui::cat(
          BatchState.load() == StatePutting ? "upload of " : "download of ",
          BatchState.load() == StatePutting ? BatchLocalPath.get().view() : BatchRemotePath.get().view());
      break;
    case Run::Request::None:
      what = "request";
      break;
  }
  return ui::cat(what, " failed (state ", std::to_string(BatchState.load()), "): ", std::to_string(error),
                 " ", engine::internetErrorText(error));
}

// Takes the connection just used out of the batch's fields; 0 when there is none.
uint32_t takeConnection() {
  const uint32_t connection = hBatchFtp.exchange(0);
  uint32_t latest = connection;
  if (connection != 0) hConnection.compare_exchange_strong(latest, 0);
  return connection;
}

// Closes the connection of the request that just completed: each file has a connection of its own,
// and a long list must not hold one open per file until the batch ends.
void retireConnection() {
  if (const uint32_t connection = takeConnection()) closeConnection(connection);
}

// Closes the connection just used and connects again once it has gone. The two do not overlap:
// a server that tears a session down while it accepts the next one can lose the new one (pyftpdlib
// in active mode unregisters a data socket's old descriptor, which the new session may already hold).
void retireThenConnect() {
  const uint32_t connection = takeConnection();
  TheRun.awaitRetired(connection);
  if (connection != 0 && closeConnection(connection)) {
    TheRun.after(Run::kRetireLimit, [connection] {
      Run::Step step(TheRun);
      if (step && TheRun.takeRetired(connection)) issueConnect();
    });
    return;
  }
  TheRun.awaitRetired(0);  // nothing to wait for: no HANDLE_CLOSING will come
  issueConnect();
}

// A request that returned at once: its completion is made up and delivered from the retry thread, so
// that the batch moves on exactly as if the FTP layer had delivered it. Never from here: a connect
// that keeps failing at once must not recurse, and the step that issued the request must finish
// first, as it would for the FTP layer.
void completeAtOnce(Run::Request kind, DWORD result, DWORD error) {
  TheRun.settledAtOnce();
  TheRun.after(std::chrono::milliseconds{0}, [kind, result, error] {
    Run::Step step(TheRun);
    if (!step) return;
    const INTERNET_ASYNC_RESULT completion{result, error};
    handleNotification(0, INTERNET_STATUS_REQUEST_COMPLETE, &completion, sizeof completion, kind);
  });
}

bool certificateRefused(DWORD error) {
  return error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
         error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

// The connect has failed as often in a row as the batch may try: the files not yet moved are given
// up, and the window closes as after the last file.
void giveUp() {
  showStatus(0, ui::cat("Gave up connecting to ", ServerName.get().view()));
  finishBatch();
  closeWindowWhenDone();
}

// A request failed: connect again. The state stays, so that the completion of that connect is taken
// as the end of a failed transfer, or as the connect that failed.
void retry(Run::Request kind, DWORD error) {
  onThread("retry", Thread::Delivery | Thread::Retry);
  if (tracing()) traceFailure(describeFailure(kind, error));
  if (kind == Run::Request::Connect) {
    // The batch asks nobody about a certificate it cannot trust, so its status bar says why it does
    // not get in (a user may trust the server in the client window meanwhile).
    if (certificateRefused(error)) showStatus(0, engine::internetErrorText(error).clip());
    retireConnection();
    if (!report::connectAttemptsLeft()) {
      giveUp();
      return;
    }
    TheRun.after(TheRun.nextPause(), [] { RUNINTERNETCONNECT(); });
  } else {
    retireThenConnect();
  }
}

// ---- Finish -------------------------------------------------------------------------------------

// After a transfer: the next entry's connect, or the end of the batch.
void moveOn(int16_t connectState) {
  if (BatchPosition.load() < BatchCount.load()) {
    BatchPercent = 0;
    setBatchState(connectState);
    retireThenConnect();
  } else {
    finishBatch();
    closeWindowWhenDone();
  }
}

void downloadEnded() {
  showStatus(0, "Download complete");
  moveOn(StateConnectingGet);
}

void uploadEnded() {
  showStatus(0, "Upload complete");
  moveOn(StateConnectingPut);
}

// ---- Transfer -----------------------------------------------------------------------------------

void transferNext(bool upload) {
  onThread("transfer", Thread::Delivery);
  const uint32_t position = BatchPosition.fetch_add(1) + 1;
  TransferRecord FTPR;
  if (!TransferList.get(position, FTPR)) {  // nothing there: the batch has nothing left to do
    finishBatch();
    closeWindowWhenDone();
    return;
  }
  const PathText remote = joinPath(BatchRemoteDirectory.view(), FTPR.FILENAME.view());
  const PathText local = joinPath(BatchLocalDirectory.view(), FTPR.FILENAME.view());
  BatchRemotePath = remote;
  BatchLocalPath = local;
  BatchBytes = 0;
  BatchPercent = 0;
  BatchResumedFrom = 0;
  BatchFileSize = FTPR.SIZE;
  startCounting();
  BatchProgressLabel = upload ? "Sent: " : "Received: ";
  showStatus(1, upload ? local.view() : remote.view());

  const HINTERNET connection = INET_HANDLE(hBatchFtp.load());
  TheRun.issued(Run::Request::Transfer);
  SetLastError(ERROR_SUCCESS);
  const BOOL done = upload
                        ? FtpPutFileA(connection, local.c_str(), remote.c_str(), FTP_TRANSFER_TYPE_BINARY, 1)
                        : FtpGetFileA(connection, remote.c_str(), local.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                                      FTP_TRANSFER_TYPE_BINARY, 1);
  const DWORD error = GetLastError();
  // The state follows the call, as the batch has always done it: the completion cannot overtake it,
  // since it is delivered in a step of its own, after this one.
  setBatchState(upload ? StatePutting : StateGetting);
  if (done)
    completeAtOnce(Run::Request::Transfer, TRUE, ERROR_SUCCESS);
  else if (error != ERROR_IO_PENDING)
    completeAtOnce(Run::Request::Transfer, FALSE,
                   error != ERROR_SUCCESS ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

// ---- Check (download) ---------------------------------------------------------------------------

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

// The lookups block the delivery thread for their whole length; nothing else of the batch is in
// flight meanwhile.
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
  report::serverChecked(connection != nullptr);

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

// ---- The table: what a completion starts --------------------------------------------------------

// What the completion of the request in flight starts, by the state it finds. A state not listed
// (Loaded, Finished, any other) starts nothing.
struct Next {
  int16_t state;
  void (*step)();
};
// clang-format off
constexpr Next kNext[] = {
    {StateFirstConnect,  checkFilesOnServer},  // the first connect of a download: check the server
    {StateConnectingGet, getNextFile},         // the file's connect: its download
    {StateConnectingPut, putNextFile},         // the file's connect: its upload
    {StateGetting,       downloadEnded},       // "Download complete": the next file's connect, or finish
    {StatePutting,       uploadEnded},         // "Upload complete": the next file's connect, or finish
};
// clang-format on

}  // namespace

void issueConnect() {
  onThread("connect", Thread::Window | Thread::Delivery | Thread::Retry);
  report::connecting();
  const ui::ZText<40> server = ServerName.get();
  TheRun.issued(Run::Request::Connect);
  SetLastError(ERROR_SUCCESS);
  const HINTERNET connection = InternetConnectA(
      INET_HANDLE(hOpen.load()), server.c_str(), INTERNET_INVALID_PORT_NUMBER, BatchUserName.c_str(),
      BatchPassword.c_str(), INTERNET_SERVICE_FTP, BatchConnectFlags.load(), 1);
  const DWORD error = GetLastError();
  if (connection) {
    TheRun.adopt(hConnection, connection);
    return;
  }
  hConnection = 0;
  if (error != ERROR_IO_PENDING)
    completeAtOnce(Run::Request::Connect, 0, error != ERROR_SUCCESS ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

void checkLocalFiles(ui::Window& window) {
  onThread("check", Thread::Window);
  const uint32_t count = BatchCount.load();
  for (uint32_t position = 1; position <= count; ++position) {
    TransferRecord FTPR;
    if (!TransferList.get(position, FTPR)) break;
    const PathText local = joinPath(BatchLocalDirectory.view(), FTPR.FILENAME.view());
    BatchLocalPath = local;
    showStatus(1, ui::cat("Checking for ", FTPR.FILENAME.view()));
    BatchFindData.cFileName[0] = '\0';
    BatchFindData.nFileSizeLow = BatchFindData.nFileSizeHigh = 0;
    const HANDLE found = FindFirstFileA(local.c_str(), &BatchFindData);
    if (found != INVALID_HANDLE_VALUE) {
      FTPR.FILEEXISTS = 1;
      FTPR.SIZE = foundSize(BatchFindData);
      FindClose(found);
    } else {
      FTPR.FILEEXISTS = 0;
    }
    TransferList.put(position, FTPR);
    traceCheck(local.view(), FTPR.FILEEXISTS, FTPR.SIZE);
    window.redisplay();
  }
  showStatus(1, "");
  setBatchState(StateConnectingPut);
  RUNINTERNETCONNECT();
}

void checkFilesOnServer() {
  onThread("check", Thread::Delivery);
  ui::setCursor(ui::IDC_CROSS);
  checkAndReconnect();
  ui::restoreCursor();
}

void putNextFile() { transferNext(true); }

void getNextFile() { transferNext(false); }

bool requestCompleted(Run::Request kind, const INTERNET_ASYNC_RESULT& result) {
  if (result.dwError != 0) {
    retry(kind, result.dwError);
    return false;
  }
  // A completion that no request of this batch is waiting for moves nothing: only the request in
  // flight may advance the batch.
  if (kind == Run::Request::None) return true;
  if (kind == Run::Request::Connect) TheRun.connected();
  const int16_t state = BatchState.load();
  for (const Next& next : kNext)
    if (next.state == state) next.step();
  return true;
}

void connectionClosed(uint32_t connection) {
  if (TheRun.takeRetired(connection)) issueConnect();
}

bool closeConnection(uint32_t connection) {
  TheRun.closing(connection);
  if (InternetCloseHandle(INET_HANDLE(connection))) return true;
  TheRun.closed(connection);
  return false;
}

void finishBatch() {
  onThread("finish", Thread::Delivery | Thread::Retry);
  setBatchState(StateFinished);
  BatchPercent = 0;
  showStatus(2, "Finished");
}

}  // namespace batch

extern "C" NIMBO_API void RUNINTERNETCONNECT(void) {
  batch::Run::Step step(batch::TheRun);
  if (!step) return;  // outside a batch there is nothing to connect for
  batch::issueConnect();
}

extern "C" NIMBO_API void CHECKFILESONSERVER(void) {
  batch::Run::Step step(batch::TheRun);
  if (!step) return;  // only a download batch has files to check
  batch::checkFilesOnServer();
}
