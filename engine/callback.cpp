#include "engine/callback.h"

#include <algorithm>
#include <string>

#include "engine/commands.h"
#include "engine/notification.h"
#include "engine/session.h"
#include "engine/texts.h"
#include "engine/tree.h"
#include "inet/options.h"
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

void requestCompleted(const INTERNET_ASYNC_RESULT& result) {
  const std::int16_t current = OperationState.load();
  const ui::WindowRef window = MainWindow.load();
  switch (current) {
    case state::ConnectConnecting:  // code 2, whichever of its names was entered
      // The connect only proved the server answers; the listing makes a connection of its own.
      listRemoteDirectory();
      bActiveSession = 1;
      bSessionOpen = 1;
      ui::postToThread(MainThread.load(), ui::event::User);
      ui::setStatus(window, 3, "");
      break;
    case state::GetConnecting:
    case state::PutConnecting:
    case state::CreateConnecting:
    case state::RemoveConnecting:
    case state::DeleteConnecting:
    case state::RenameConnecting:
      issueCommand(current);
      break;
    case state::GetRunning:
      ui::setStatus(window, 0, "Download complete");
      closeCommandConnection();
      finishTransfer(state::Idle);
      readLocalFiles();
      ui::setStatus(window, 0, "Done");
      ui::requestRedisplay(window);
      commandEnded(true);
      break;
    case state::PutRunning:
      ui::setStatus(window, 0, "Upload complete");
      finishTransfer(state::Relisting);
      refreshRemoteNode();
      ui::requestRedisplay(window);
      commandEnded(true);
      break;
    case state::CreateRunning:
    case state::RemoveRunning:
    case state::DeleteRunning:
    case state::RenameRunning:
      completeCommand(current, result.dwResult);
      break;
    default:
      break;
  }
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
  ProgressPercent = size <= 0 ? 0 : static_cast<std::int32_t>(std::min<std::int64_t>(100, done * 100 / size));
  const ui::WindowRef window = MainWindow.load();
  ui::setStatus(window, 2, ui::cat(ProgressLabel.get().clip(), " ", std::to_string(total), " bytes."));
  ui::requestRedisplay(window);
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
  commandEnded(false);
}

}  // namespace engine
