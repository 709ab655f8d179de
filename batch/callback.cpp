#include "batch/callback.h"

#include <atomic>
#include <chrono>

#include "batch/context.h"
#include "batch/report.h"
#include "batch/status.h"
#include "batch/transferlist.h"
#include "engine/callback.h"
#include "engine/notification.h"
#include "engine/texts.h"
#include "inet/options.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

// The connection being retired while the batch waits to connect again, or 0.
std::atomic<uint32_t> RetiringConnection{0};

// Whether a command or a reply of the file's connection is on its way. The file's own bytes are what
// the byte count and the percentage count: a command's REQUEST_SENT follows its SENDING_REQUEST and a
// reply's RESPONSE_RECEIVED its RECEIVING_RESPONSE, while a block of the file comes on its own.
std::atomic<bool> CommandGoing{false};
std::atomic<bool> ReplyComing{false};

// How long the next connect waits for the retired connection to close. Closing takes a QUIT and its
// reply; a server that does not answer it must not hold the batch up for its whole timeout.
constexpr std::chrono::seconds kRetireLimit{2};

void connectOnceRetired(uint32_t connection) {
  uint32_t expected = connection;
  if (RetiringConnection.compare_exchange_strong(expected, 0)) issueConnect();
}

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

// Closes the connection just used and connects again once it has gone. The two do not overlap:
// a server that tears a session down while it accepts the next one can lose the new one (pyftpdlib
// in active mode unregisters a data socket's old descriptor, which the new session may already hold).
void retireThenConnect() {
  const uint32_t connection = takeConnection();
  RetiringConnection = connection;
  if (connection != 0 && closeConnection(connection)) {
    TheRun.after(kRetireLimit, [connection] {
      Run::Step step(TheRun);
      if (step) connectOnceRetired(connection);
    });
    return;
  }
  RetiringConnection = 0;  // nothing to wait for: no HANDLE_CLOSING will come
  issueConnect();
}

// After a transfer: the next entry's connect, or the end of the batch.
void moveOn(int16_t connectState) {
  if (BatchPosition.load() < BatchCount.load()) {
    BatchPercent = 0;
    setBatchState(connectState);
    retireThenConnect();
  } else {
    finishBatch();
    ui::postToThread(MainThread.load(), ui::event::CloseWindow);
  }
}

// The connect has failed as often in a row as the batch may try: the files not yet moved are given
// up, and the window closes as after the last file.
void giveUp() {
  showStatus(0, ui::cat("Gave up connecting to ", ServerName.get().view()));
  finishBatch();
  ui::postToThread(MainThread.load(), ui::event::CloseWindow);
}

bool certificateRefused(DWORD error) {
  return error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
         error == ERROR_INTERNET_SEC_CERT_DATE_INVALID || error == ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

// A download that continues a partial file says so once, as soon as the layer has told the server
// where (its REST goes before the RETR, so at the latest with the RETR's reply).
void noteResumption() {
  if (BatchResumedFrom.load() != 0) return;
  const uint64_t from = inet::resumedFrom(INET_HANDLE(hBatchFtp.load()));
  if (from == 0) return;
  BatchResumedFrom = from;
  showStatus(0, ui::cat("Resuming ", BatchRemotePath.get().view(), " at byte ", std::to_string(from)));
}

// Completion steps. False on the error path, which leaves status zone 1 as it was.
bool completeRequest(Run::Request kind, const INTERNET_ASYNC_RESULT& result) {
  if (result.dwError != 0) {
    if (tracing()) traceFailure(describeFailure(kind, result.dwError));
    if (kind == Run::Request::Connect) {
      // The batch asks nobody about a certificate it cannot trust, so its status bar says why it
      // does not get in (a user may trust the server in the client window meanwhile).
      if (certificateRefused(result.dwError)) showStatus(0, engine::internetErrorText(result.dwError).clip());
      retireConnection();
      if (!report::connectAttemptsLeft()) {
        giveUp();
        return false;
      }
      TheRun.after(TheRun.nextPause(), [] { RUNINTERNETCONNECT(); });
    } else {
      retireThenConnect();
    }
    return false;
  }
  // A completion that no request of this batch is waiting for moves nothing: only the request in
  // flight may advance the batch.
  if (kind == Run::Request::None) return true;
  if (kind == Run::Request::Connect) TheRun.connected();
  switch (BatchState.load()) {
    case StateFirstConnect:
      checkFilesOnServer();
      break;
    case StateConnectingGet:
      getNextFile();
      break;
    case StateConnectingPut:
      putNextFile();
      break;
    case StatePutting:
      showStatus(0, "Upload complete");
      moveOn(StateConnectingPut);
      break;
    case StateGetting:
      showStatus(0, "Download complete");
      moveOn(StateConnectingGet);
      break;
    default:
      break;
  }
  return true;
}

void handleNotification(uint32_t handle, DWORD status, const void* info, DWORD length, Run::Request kind) {
  report::notified(handle, status, info, length, kind);
  if (auto text = notificationText(status)) BatchStatusText = *text;
  // Only the connection of the file in flight moves its bytes; a retired one may still say goodbye.
  const bool ofTransfer = handle != 0 && handle == hBatchFtp.load();
  switch (status) {
    case INTERNET_STATUS_SENDING_REQUEST:
      if (ofTransfer) CommandGoing = true;
      break;
    case INTERNET_STATUS_REQUEST_SENT:
      if (ofTransfer && !CommandGoing.exchange(false) && BatchState.load() == StatePutting)
        if (const auto n = engine::byteCountOf(info, length)) reportBatchProgress(*n);
      break;
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      if (ofTransfer) ReplyComing = true;
      break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      if (ofTransfer) {
        const bool reply = ReplyComing.exchange(false);
        if (BatchState.load() == StateGetting) {
          noteResumption();
          if (!reply)
            if (const auto n = engine::byteCountOf(info, length)) reportBatchProgress(*n);
        }
      }
      break;
    case INTERNET_STATUS_HANDLE_CREATED:
      if (const auto created = engine::createdHandleOf(info, length)) hBatchFtp = *created;
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      if (handle != 0 && handle == RetiringConnection.load()) connectOnceRetired(handle);
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (!completeRequest(kind, engine::completionOf(info, length))) return;
      break;
    default:
      break;
  }
  showStatus(1, BatchStatusText.get().view());
}

void transferNext(bool upload) {
  const uint32_t position = BatchPosition.fetch_add(1) + 1;
  TransferRecord FTPR;
  if (!TransferList.get(position, FTPR)) {  // nothing there: the batch has nothing left to do
    finishBatch();
    ui::postToThread(MainThread.load(), ui::event::CloseWindow);
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
  CommandGoing = false;
  ReplyComing = false;
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
  setBatchState(upload ? StatePutting : StateGetting);
  if (done)
    completeAtOnce(Run::Request::Transfer, TRUE, ERROR_SUCCESS);
  else if (error != ERROR_IO_PENDING)
    completeAtOnce(Run::Request::Transfer, FALSE,
                   error != ERROR_SUCCESS ? error : ERROR_INTERNET_INTERNAL_ERROR);
}

}  // namespace

std::optional<std::string_view> notificationText(DWORD code) {
  // The batch describes the notifications in the client's words.
  const std::string_view text = engine::statusTextOf(code);
  if (text.empty()) return std::nullopt;
  return text;
}

int32_t percentOf(int64_t bytes, int64_t size) {
  if (size <= 0 || bytes <= 0) return 0;
  if (bytes >= size) return 100;
  // bytes < size here, so bytes × 100 ÷ size is below 100; taken in 128 bits, it cannot overflow.
  return static_cast<int32_t>(static_cast<unsigned __int128>(bytes) * 100 / static_cast<uint64_t>(size));
}

std::string progressText(std::string_view label, int64_t bytes, uint64_t resumedFrom) {
  if (resumedFrom == 0) return ui::cat(ui::clip(label), " ", std::to_string(bytes), " bytes.");
  return ui::cat(ui::clip(label), " ", std::to_string(bytes), " bytes (resumed at byte ",
                 std::to_string(resumedFrom), ").");
}

void batchStatusCallback(HINTERNET hInternet, DWORD_PTR, DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                         DWORD dwStatusInformationLength) {
  const uint32_t handle = INET_HANDLE_ID(hInternet);
  Run::Request kind = Run::Request::None;
  // Counted before the step is taken, so that End batch learns of them even once the run has stopped.
  if (dwInternetStatus == INTERNET_STATUS_REQUEST_COMPLETE) kind = TheRun.completed(handle);
  if (dwInternetStatus == INTERNET_STATUS_HANDLE_CLOSING) TheRun.closed(handle);
  Run::Step step(TheRun, handle);
  if (!step) return;
  handleNotification(handle, dwInternetStatus, lpvStatusInformation, dwStatusInformationLength, kind);
}

void putNextFile() { transferNext(true); }

void getNextFile() { transferNext(false); }

void reportBatchProgress(DWORD bytes) {
  const int64_t total = BatchBytes.fetch_add(bytes) + bytes;
  // A resumed download's bar starts where the partial file ended.
  const uint64_t from = BatchState.load() == StateGetting ? BatchResumedFrom.load() : 0;
  BatchPercent = percentOf(total + static_cast<int64_t>(from), BatchFileSize.load());
  showStatus(2, progressText(BatchProgressLabel.get().view(), total, from));
  // A redisplay request rather than a posted event: requests coalesce, so a fast transfer cannot
  // flood the window with thousands of events a second.
  ui::requestRedisplay(MainWindow.load());
}

void finishBatch() {
  setBatchState(StateFinished);
  BatchPercent = 0;
  showStatus(2, "Finished");
}

void issueConnect() {
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

void completeAtOnce(Run::Request kind, DWORD result, DWORD error) {
  TheRun.settledAtOnce();
  // Delivered from the retry thread, never from here: a connect that keeps failing at once must not
  // recurse, and the step that issued the request must finish first, as it would for the FTP layer.
  TheRun.after(std::chrono::milliseconds{0}, [kind, result, error] {
    Run::Step step(TheRun);
    if (!step) return;
    const INTERNET_ASYNC_RESULT completion{result, error};
    handleNotification(0, INTERNET_STATUS_REQUEST_COMPLETE, &completion, sizeof completion, kind);
  });
}

void retireConnection() {
  if (const uint32_t connection = takeConnection()) closeConnection(connection);
}

bool closeConnection(uint32_t connection) {
  TheRun.closing(connection);
  if (InternetCloseHandle(INET_HANDLE(connection))) return true;
  TheRun.closed(connection);
  return false;
}

}  // namespace batch

extern "C" NIMBO_API void RUNINTERNETCONNECT(void) {
  batch::Run::Step step(batch::TheRun);
  if (!step) return;  // outside a batch there is nothing to connect for
  batch::issueConnect();
}
