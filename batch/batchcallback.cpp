#include "batch/batchcallback.h"

#include <atomic>

#include "batch/context.h"
#include "batch/report.h"
#include "batch/status.h"
#include "batch/threadcheck.h"
#include "engine/notification.h"
#include "engine/progress.h"
#include "engine/status_callback.h"
#include "engine/texts.h"
#include "inet/options.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

// Whether a command or a reply of the file's connection is on its way. The file's own bytes are what
// the byte count and the percentage count: a command's REQUEST_SENT follows its SENDING_REQUEST and a
// reply's RESPONSE_RECEIVED its RECEIVING_RESPONSE, while a block of the file comes on its own.
std::atomic<bool> CommandGoing{false};
std::atomic<bool> ReplyComing{false};

// A download that continues a partial file says so once, as soon as the layer has told the server
// where (its REST goes before the RETR, so at the latest with the RETR's reply).
void noteResumption() {
  if (BatchResumedFrom.load() != 0) return;
  const uint64_t from = inet::resumedFrom(INET_HANDLE(hBatchFtp.load()));
  if (from == 0) return;
  BatchResumedFrom = from;
  showStatus(0, ui::cat("Resuming ", BatchRemotePath.get().view(), " at byte ", std::to_string(from)));
}

}  // namespace

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
      if (handle != 0) connectionClosed(handle);
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (!requestCompleted(kind, engine::completionOf(info, length))) return;
      break;
    default:
      break;
  }
  showStatus(1, BatchStatusText.get().view());
}

std::optional<std::string_view> notificationText(DWORD code) {
  // The batch describes the notifications in the client's words.
  const std::string_view text = engine::statusTextOf(code);
  if (text.empty()) return std::nullopt;
  return text;
}

void batchStatusCallback(HINTERNET hInternet, DWORD_PTR, DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                         DWORD dwStatusInformationLength) {
  // The layer delivers on its own threads; the window's thread only ever reads what this writes.
  checkThread("the status callback", Thread::Delivery);
  const uint32_t handle = INET_HANDLE_ID(hInternet);
  Run::Request kind = Run::Request::None;
  // Counted before the step is taken, so that End batch learns of them even once the run has stopped.
  if (dwInternetStatus == INTERNET_STATUS_REQUEST_COMPLETE) kind = TheRun.completed(handle);
  if (dwInternetStatus == INTERNET_STATUS_HANDLE_CLOSING) TheRun.closed(handle);
  Run::Step step(TheRun, handle);
  if (!step) return;
  handleNotification(handle, dwInternetStatus, lpvStatusInformation, dwStatusInformationLength, kind);
}

void startCounting() {
  CommandGoing = false;
  ReplyComing = false;
}

void reportBatchProgress(DWORD bytes) {
  const int64_t total = BatchBytes.fetch_add(bytes) + bytes;
  // A resumed download's bar starts where the partial file ended.
  const uint64_t from = BatchState.load() == StateGetting ? BatchResumedFrom.load() : 0;
  BatchPercent = engine::percentOf(total + static_cast<int64_t>(from), BatchFileSize.load());
  showStatus(2, engine::progressText(BatchProgressLabel.get().view(), total, from));
  // A redisplay request rather than a posted event: requests coalesce, so a fast transfer cannot
  // flood the window with thousands of events a second.
  ui::requestRedisplay(MainWindow.load());
}

}  // namespace batch
