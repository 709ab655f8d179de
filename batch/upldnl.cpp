// UPLDNL_AS: the unattended transfer (the window's thread: the caller's). Uploads every listed file from the
// local directory into the remote one, or downloads them the other way, one after the other, each over a
// connection of its own, in a small window that closes by itself after the last file. It runs on the caller's
// thread and returns when its window has closed; the status callback moves the batch meanwhile.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "batch/batchcallback.h"
#include "batch/context.h"
#include "batch/report.h"
#include "batch/run.h"
#include "batch/status.h"
#include "batch/steps.h"
#include "batch/threadcheck.h"
#include "batch/transferlist.h"
#include "engine/texts.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

constexpr int kList = 1;
constexpr int kPath = 3;
constexpr int kProgress = 4;
constexpr int32_t kResponse = 2;

// The batch context is one set for the process: a second batch while one runs would take it over.
std::atomic<bool> inBatch{false};

// How long End batch waits for the request in flight to end once its handle is closed. Closing
// cancels at once; this only bounds a layer that fails to.
constexpr std::chrono::seconds kEndPatience{5};

std::string_view textOf(const char* s) { return s ? std::string_view(s) : std::string_view(); }

std::vector<ui::Cell> cellsOf(const TransferRecord& r) {
  return {std::string(r.FILENAME.view()), static_cast<int64_t>(r.FILEEXISTS), r.SIZE};
}

void startBatch(ui::Window& window, std::string_view fileList, bool download) {
  window.open();
  MainWindow = window.ref();
  MainThread = ui::currentThread();
  openTrace();
  onThread("start", Thread::Window);
  buildTransferList(fileList);
  report::begin(download);

  TheRun.begin();
  SetLastError(ERROR_SUCCESS);
  const HINTERNET session = InternetOpenA(BatchAgentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                          NullString.c_str(), NullString.c_str(), INTERNET_FLAG_ASYNC);
  hOpen = INET_HANDLE_ID(session);
  if (session) {
    TheRun.setFloor(INET_HANDLE_ID(session));
  } else {
    // The batch cannot connect; its window stays open with the list until the user closes it.
    BatchErrorText = engine::internetErrorText(GetLastError());
    traceFailure(ui::cat("Internet session: ", BatchErrorText.clip()));
    ui::message(BatchErrorText.clip());
  }
  hConnection = 0;
  InternetSetStatusCallback(session, batchStatusCallback);

  if (download) {
    window.setTitle("DOWNLOAD");
    setBatchState(StateFirstConnect);
    RUNINTERNETCONNECT();
  } else {
    window.setTitle("UPLOAD");
    checkLocalFiles(window);
  }
}

void endBatch(ui::Window& window) {
  onThread("end", Thread::Window);
  TheRun.stop();
  // Closing ends the request in flight; its completion is still counted before the wait below ends.
  if (const uint32_t connection = hConnection.exchange(0)) closeConnection(connection);
  closeHandleIn(hOpen);
  if (!TheRun.waitIdle(kEndPatience))
    traceFailure("the request in flight did not end when its handle was closed");
  // A step that was under way when the run stopped closes what it opens; these are what it had
  // stored before.
  closeHandleIn(hConnection);
  closeHandleIn(hOpen);
  hBatchFtp = 0;
  report::end();
  TransferList.free();
  closeTrace();
  window.close();
  // The last connection says goodbye to the server before the batch returns, so that a batch
  // started right after does not connect while the server is still tearing it down.
  TheRun.waitClosed(Run::kRetireLimit);
}

}  // namespace
}  // namespace batch

extern "C" NIMBO_API void UPLDNL_AS(const char* server, const char* userName, const char* password,
                                    const char* remoteDirectory, const char* localDirectory,
                                    const char* fileList, uint8_t passive, uint8_t direction) {
  using namespace batch;
  if (inBatch.exchange(true)) {
    std::fprintf(stderr, "UPLDNL_AS: a batch is already running\n");
    return;
  }
  struct Leave {
    ~Leave() { inBatch = false; }
  } leave;
  if (!ui::start()) {
    std::fprintf(stderr, "UPLDNL_AS: no window can be opened: %s\n", ui::startError().c_str());
    return;
  }
  ui::Window window("NIMBO007", "NIMBO007");
  window.bindList<TransferRecord>(kList, TransferList, cellsOf);
  window.bind(kPath, ui::Binding{[] { return BatchRemotePath.get().str(); }, [](std::string_view) {}});
  window.bind(kProgress,
              ui::Binding{[] { return std::to_string(BatchPercent.load()); }, [](std::string_view) {}});

  GlobalRequest = 0;
  GlobalResponse = 0;
  BatchAgentName = "orin upldnl";
  NullString = "";
  BatchConnectFlags = passive != 0 ? INTERNET_FLAG_PASSIVE : 0;
  BatchRemoteDirectory = completeDirectory(textOf(remoteDirectory), '/');
  BatchLocalDirectory = completeDirectory(textOf(localDirectory), '\\');
  BatchPosition = 0;
  ServerName = ui::clip(textOf(server));
  BatchUserName = ui::clip(textOf(userName));
  BatchPassword = ui::clip(textOf(password));

  startBatch(window, textOf(fileList), direction == 1);
  while (window.accept()) {
    switch (window.event()) {
      case ui::event::OpenWindow:
        window.redisplay();
        window.select(kList);
        break;
      case ui::event::GainFocus:  // also the callback's request to show the latest values
        window.redisplay();
        break;
      default:
        break;
    }
  }
  endBatch(window);
  GlobalResponse = kResponse;
}
