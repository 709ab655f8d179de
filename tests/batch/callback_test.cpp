// The batch status callback fed notifications by hand, with the batch window open: what each one
// shows and counts, and how completions move the batch. No server: the requests the callback issues
// go to handles that do not exist and fail at once.
#include "batch/callback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/context.h"
#include "batch/run.h"
#include "batch/status.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

using namespace std::chrono_literals;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The failures in the batch trace.
std::vector<std::string> failuresIn(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("!\t", 0) == 0) lines.push_back(line.substr(2));
  return lines;
}

void notify(DWORD code, const void* info = nullptr, DWORD length = 0, HINTERNET handle = nullptr) {
  batchStatusCallback(handle, 1, code, const_cast<void*>(info), length);
}
void notifyCount(DWORD code, DWORD n) { notify(code, &n, sizeof n); }
void complete(DWORD_PTR result, DWORD error) {
  const INTERNET_ASYNC_RESULT r{result, error};
  notify(INTERNET_STATUS_REQUEST_COMPLETE, &r, sizeof r);
}

// The batch trace, written to a temporary file while the object lives.
class TemporaryTrace {
 public:
  TemporaryTrace() : path_(testing::TempDir() + "batch-trace-" + std::to_string(::getpid()) + ".txt") {
    std::remove(path_.c_str());
    ::setenv("NIMBO_BATCH_TRACE", path_.c_str(), 1);
    openTrace();
  }
  ~TemporaryTrace() {
    closeTrace();
    ::unsetenv("NIMBO_BATCH_TRACE");
    std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class CallbackTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    ui::addWindowDefinitions(fileText(NIMBO007_DEFINITION));
  }

  void SetUp() override {
    window_ = std::make_unique<ui::Window>("NIMBO007", "NIMBO007");
    window_->open();
    MainWindow = window_->ref();
    MainThread = ui::currentThread();
    hOpen = 0;
    hConnection = 0;
    hBatchFtp = 0;
    TheRun.begin();
    TheRun.setFloor(1);
    BatchStatusText = "";
    BatchState = StateFinished;
  }

  void TearDown() override {
    TheRun.stop();
    EXPECT_TRUE(TheRun.waitIdle(2s));
    closeTrace();
    TransferList.free();
    window_.reset();
  }

  std::string zone(int z) const { return ui::status(MainWindow.load(), z); }

  // Events the window receives until a marker posted now arrives (true) or its loop ends (false).
  bool eventsUntilNow(std::vector<int>& events) {
    constexpr int kMarker = ui::event::User + 77;
    window_->post(kMarker);
    while (window_->accept()) {
      if (window_->event() == kMarker) return true;
      events.push_back(window_->event());
    }
    return false;
  }

  std::unique_ptr<ui::Window> window_;
};

TEST_F(CallbackTest, EachNotificationShowsItsTextAndAnUnknownOneShowsThePreviousTextAgain) {
  const std::vector<std::pair<DWORD, std::string>> table = {
      {10, "Resolving name"},     {11, "Name resolved"},     {20, "Connecting ..."},
      {21, "Connected"},          {30, "Sending request"},   {31, "Request sent"},
      {40, "Receiving response"}, {41, "Response received"}, {50, "Closing connection"},
      {51, "Connection closed"},  {60, "Handle created"},    {70, "Handle closed"},
      {100, "Request completed"}};
  for (const auto& [code, text] : table) {
    if (code == INTERNET_STATUS_REQUEST_COMPLETE)
      complete(1, 0);
    else
      notify(code);
    EXPECT_EQ(zone(1), text) << code;
    EXPECT_EQ(BatchStatusText.get().view(), text);
  }
  notify(INTERNET_STATUS_RESPONSE_RECEIVED);
  showStatus(1, "Checking for x");
  for (DWORD unknown : {0u, 42u, 80u, 110u, 200u, 0xFFFFFFFFu}) {
    notify(unknown);
    EXPECT_EQ(zone(1), "Response received") << unknown;
  }
}

TEST_F(CallbackTest, ADownloadCountsTheBytesReceivedIntoPercentAndZone2) {
  BatchState = StateGetting;
  BatchProgressLabel = "Received: ";
  BatchFileSize = 200;
  BatchBytes = 0;
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 50);
  EXPECT_EQ(BatchBytes.load(), 50);
  EXPECT_EQ(BatchPercent.load(), 25);
  EXPECT_EQ(zone(2), "Received: 50 bytes.");
  EXPECT_EQ(zone(1), "Response received");
  notifyCount(INTERNET_STATUS_REQUEST_SENT, 1000);  // commands sent during a download are not its data
  EXPECT_EQ(BatchBytes.load(), 50);
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 250);
  EXPECT_EQ(BatchPercent.load(), 150) << "not limited to 100";
  EXPECT_EQ(zone(2), "Received: 300 bytes.");
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, nullptr, 0);  // a count that is not there counts nothing
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, "ab", 2);
  EXPECT_EQ(BatchBytes.load(), 300);
}

TEST_F(CallbackTest, AnUploadCountsTheBytesSent) {
  BatchState = StatePutting;
  BatchProgressLabel = "Sent: ";
  BatchFileSize = 1000;
  BatchBytes = 0;
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 77);
  notifyCount(INTERNET_STATUS_REQUEST_SENT, 10);
  EXPECT_EQ(zone(2), "Sent: 10 bytes.");
  EXPECT_EQ(BatchPercent.load(), 1);
  BatchState = StateConnectingPut;  // progress of a connect is no transfer's
  notifyCount(INTERNET_STATUS_REQUEST_SENT, 10);
  EXPECT_EQ(BatchBytes.load(), 10);
}

TEST_F(CallbackTest, PercentHasNoBaseForAnEmptyOrMissingFileAndDoesNotOverflowForLargeOnes) {
  EXPECT_EQ(percentOf(5000, 0), 0);
  EXPECT_EQ(percentOf(30'000'000, 40'000'000), 75) << "30 MB × 100 does not fit 32 bits";
  EXPECT_EQ(percentOf(1'610'612'736, static_cast<int32_t>(0xC0000000u)), 50) << "a 3 GiB file";
  EXPECT_EQ(percentOf(int64_t{1} << 40, 1), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(progressText("Received:           ", 0), "Received: 0 bytes.");
  EXPECT_EQ(progressText("Sent: ", 5'000'000'000), "Sent: 5000000000 bytes.");

  BatchState = StateGetting;
  BatchProgressLabel = "Received: ";
  BatchFileSize = 0;
  BatchBytes = 0;
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 4096);
  EXPECT_EQ(BatchPercent.load(), 0);
  EXPECT_EQ(zone(2), "Received: 4096 bytes.");
}

TEST_F(CallbackTest, HandleCreatedKeepsTheNewConnection) {
  const INTERNET_ASYNC_RESULT created{0x1234, 0};
  notify(INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
  EXPECT_EQ(hBatchFtp.load(), 0x1234u);
  notify(INTERNET_STATUS_HANDLE_CREATED, "x", 1);  // too short to hold a handle
  EXPECT_EQ(hBatchFtp.load(), 0x1234u);
}

TEST_F(CallbackTest, ACompletionWithNothingInFlightOnlyShowsItsText) {
  BatchState = StateFinished;
  showStatus(0, "before");
  complete(1, 0);
  EXPECT_EQ(zone(1), "Request completed");
  EXPECT_EQ(zone(0), "before");
  EXPECT_EQ(BatchState.load(), StateFinished);

  BatchState = StateGetting;  // a download in flight, but this completion is nobody's
  BatchPosition = 1;
  BatchCount = 1;
  complete(1, 0);
  EXPECT_EQ(BatchState.load(), StateGetting);
  EXPECT_EQ(zone(0), "before");
}

TEST_F(CallbackTest, TheLastDownloadFinishesTheBatchAndClosesItsWindow) {
  BatchState = StateGetting;
  BatchPosition = 1;
  BatchCount = 1;
  BatchPercent = 60;
  TheRun.issued(Run::Request::Transfer);
  complete(1, 0);
  EXPECT_EQ(zone(0), "Download complete");
  EXPECT_EQ(zone(2), "Finished");
  EXPECT_EQ(zone(1), "Request completed");
  EXPECT_EQ(BatchState.load(), StateFinished);
  EXPECT_EQ(BatchPercent.load(), 0);
  std::vector<int> events;
  EXPECT_FALSE(eventsUntilNow(events)) << "the window's loop must end";
  EXPECT_NE(std::find(events.begin(), events.end(), ui::event::CloseWindow), events.end());
}

TEST_F(CallbackTest, AFinishedUploadWithEntriesLeftConnectsForTheNext) {
  BatchState = StatePutting;
  BatchPosition = 1;
  BatchCount = 2;
  BatchPercent = 100;
  TheRun.issued(Run::Request::Transfer);
  complete(1, 0);
  EXPECT_EQ(zone(0), "Upload complete");
  EXPECT_EQ(BatchState.load(), StateConnectingPut);
  EXPECT_EQ(BatchPercent.load(), 0);
  EXPECT_NE(zone(2), "Finished");
}

TEST_F(CallbackTest, AFailedRequestIsNotShownAndLeavesTheStateAsItWas) {
  BatchState = StateConnectingGet;
  notify(INTERNET_STATUS_RESPONSE_RECEIVED);
  TheRun.issued(Run::Request::Connect);
  complete(0, ERROR_INTERNET_INCORRECT_PASSWORD);
  EXPECT_EQ(zone(1), "Response received") << "the error path returns before zone 1 is written";
  EXPECT_EQ(BatchState.load(), StateConnectingGet);
}

TEST_F(CallbackTest, AFailedConnectIsRetriedAfterAGrowingPauseUntilTheBatchEnds) {
  // hOpen is 0: every connect fails at once, which the batch takes as a completion with that error.
  TemporaryTrace trace;
  BatchState = StateConnectingPut;
  const auto start = std::chrono::steady_clock::now();
  RUNINTERNETCONNECT();
  std::vector<std::chrono::steady_clock::duration> attempts;
  while (std::chrono::steady_clock::now() - start < 1700ms) {
    const auto lines = failuresIn(trace.path());
    while (attempts.size() < lines.size()) attempts.push_back(std::chrono::steady_clock::now() - start);
    std::this_thread::sleep_for(5ms);
  }
  // At about 0, 0.2, 0.6 and 1.4 s: a few attempts, never a flood.
  ASSERT_GE(attempts.size(), 3u);
  EXPECT_LE(attempts.size(), 5u);
  EXPECT_GT(attempts[2] - attempts[1], attempts[1] - attempts[0]);
  EXPECT_EQ(BatchState.load(), StateConnectingPut);
  for (const std::string& line : failuresIn(trace.path()))
    EXPECT_EQ(line.rfind("connect to ", 0), 0u) << line;

  TheRun.stop();
  ASSERT_TRUE(TheRun.waitIdle(2s));
  const std::size_t after = failuresIn(trace.path()).size();
  std::this_thread::sleep_for(Run::kLongestPause / 4);
  EXPECT_EQ(failuresIn(trace.path()).size(), after) << "no retry once the batch has ended";
}

TEST_F(CallbackTest, AnImmediateTransferFailureCountsAsThatTransfersCompletion) {
  // The connect for the entry has completed; the download is issued on a connection that does not
  // exist, so it fails at once and no completion would ever come from the FTP layer.
  TemporaryTrace trace;
  TransferList.free();
  TransferRecord FTPR;
  FTPR.FILENAME = "a.txt";
  TransferList.add(FTPR);
  BatchCount = 1;
  BatchPosition = 0;
  BatchRemoteDirectory = "/incoming/";
  BatchLocalDirectory = "C:\\nowhere\\";
  BatchState = StateConnectingGet;
  TheRun.issued(Run::Request::Connect);
  complete(1, 0);
  EXPECT_EQ(BatchPosition.load(), 1u);
  EXPECT_EQ(BatchRemotePath.get().view(), "/incoming/a.txt");
  EXPECT_EQ(BatchLocalPath.get().view(), "C:\\nowhere\\a.txt");
  EXPECT_EQ(BatchState.load(), StateGetting);
  for (int i = 0; i < 200 && failuresIn(trace.path()).empty(); ++i) std::this_thread::sleep_for(5ms);
  const auto lines = failuresIn(trace.path());
  ASSERT_FALSE(lines.empty()) << "the failure was never taken as a completion";
  EXPECT_EQ(lines[0].rfind("download of /incoming/a.txt failed", 0), 0u) << lines[0];
}

TEST_F(CallbackTest, NotificationsOfAnEarlierRunOrAfterTheEndDoNothing) {
  TheRun.setFloor(100);
  notify(INTERNET_STATUS_CONNECTED_TO_SERVER, nullptr, 0, INET_HANDLE(150));
  EXPECT_EQ(BatchStatusText.get().view(), "Connected");
  notify(INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0, INET_HANDLE(99));
  EXPECT_EQ(BatchStatusText.get().view(), "Connected");
  TheRun.stop();
  notify(INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0, INET_HANDLE(150));
  BatchState = StateGetting;
  complete(1, 0);
  EXPECT_EQ(BatchStatusText.get().view(), "Connected");
  EXPECT_EQ(BatchState.load(), StateGetting);
}

}  // namespace
}  // namespace batch
