#include "engine/status_callback.h"

#include <string>

#include "engine/client_session.h"
#include "engine/notification.h"
#include "engine/progress.h"
#include "engine/remote_commands.h"
#include "engine/thread_check.h"
#include "inet/options.h"
#include "ui/runtime.h"

namespace engine {

namespace {

// A download that continues a partial file says so once, as soon as the layer has told the server
// where (its REST goes before the RETR, so at the latest with the RETR's reply).
void noteResumption() {
  if (ResumedFrom.load() != 0) return;
  const std::uint64_t from = inet::resumedFrom(INET_HANDLE(hFtp.load()));
  if (from == 0) return;
  ResumedFrom = from;
  ui::setStatus(MainWindow.load(), 0,
                ui::cat("Resuming file: ", RemoteFileName.get().view(), " at byte ", std::to_string(from)));
}

}  // namespace

std::string_view statusTextOf(DWORD status) {
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      return "Resolving name";
    case INTERNET_STATUS_NAME_RESOLVED:
      return "Name resolved";
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      return "Connecting ...";
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      return "Connected";
    case INTERNET_STATUS_SENDING_REQUEST:
      return "Sending request";
    case INTERNET_STATUS_REQUEST_SENT:
      return "Request sent";
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      return "Receiving response";
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      return "Response received";
    case INTERNET_STATUS_CLOSING_CONNECTION:
      return "Closing connection";
    case INTERNET_STATUS_CONNECTION_CLOSED:
      return "Connection closed";
    case INTERNET_STATUS_HANDLE_CREATED:
      return "Handle created";
    case INTERNET_STATUS_HANDLE_CLOSING:
      return "Handle closed";
    case INTERNET_STATUS_REQUEST_COMPLETE:
      return "Request completed";
    default:
      return {};
  }
}

void statusCallback(HINTERNET, DWORD_PTR, DWORD status, LPVOID info, DWORD infoLength) {
  ENGINE_RUNS_ON(Delivery);
  switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
      if (const auto handle = createdHandleOf(info, infoLength)) hFtp = *handle;
      break;
    case INTERNET_STATUS_REQUEST_SENT:
      if (OperationState.load() == state::PutRunning)
        if (const auto bytes = byteCountOf(info, infoLength)) progressStep(*bytes);
      break;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      if (OperationState.load() == state::GetRunning) {
        noteResumption();
        if (const auto bytes = byteCountOf(info, infoLength)) progressStep(*bytes);
      }
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const INTERNET_ASYNC_RESULT result = completionOf(info, infoLength);
      if (result.dwError != 0) {
        failRequest(result.dwError);
        return;
      }
      requestCompleted(result);
      break;
    }
    default:
      break;
  }
  ui::setStatus(MainWindow.load(), 1, statusTextOf(status));
}

void progressStep(DWORD bytes) {
  if (bProgressStarted.load() == 0) {
    bProgressStarted = 1;
    ProgressTotal = 0;
    ProgressSkip = 0;
    return;
  }
  if (ProgressSkip.load() < 2) {
    ++ProgressSkip;
    return;
  }
  // Counted in 64 bits, so a transfer past 2 or 4 GiB neither overflows nor goes negative.
  const std::int64_t total = ProgressTotal.load() + bytes;
  ProgressTotal = total;
  const std::int64_t size = TransferSize.load();
  // The closing reply is counted too, so the total may pass the size a little. A resumed download's
  // bar starts where the partial file ended.
  const std::int64_t done =
      total +
      (OperationState.load() == state::GetRunning ? static_cast<std::int64_t>(ResumedFrom.load()) : 0);
  ProgressPercent = percentOf(done, size);
  const ui::WindowRef window = MainWindow.load();
  ui::setStatus(window, 2, progressText(ProgressLabel.get().view(), total));
  ui::requestRedisplay(window);
}

}  // namespace engine
