// The batch status callback fed notifications by hand, with the batch window open. No server: the
// requests it issues go to handles that do not exist and fail at once.
#include "batch/batchcallback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch/context.h"
#include "batch/run.h"
#include "batch/status.h"
#include "batch/threadcheck.h"
#include "engine/progress.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

using namespace std::chrono_literals;

// Delivered on a thread of its own, as the FTP layer delivers, never on the window's.
void notify(DWORD code, const void* info = nullptr, DWORD length = 0, uint32_t handle = 0) {
  std::thread([&] {
    batchStatusCallback(INET_HANDLE(handle), 1, code, const_cast<void*>(info), length);
  }).join();
}
void notifyCount(DWORD code, DWORD n, uint32_t handle = 0) { notify(code, &n, sizeof n, handle); }
// One command and its reply, as a connection announces them.
void exchange(uint32_t handle, DWORD sent, DWORD received) {
  notify(INTERNET_STATUS_SENDING_REQUEST, nullptr, 0, handle);
  notifyCount(INTERNET_STATUS_REQUEST_SENT, sent, handle);
  notify(INTERNET_STATUS_RECEIVING_RESPONSE, nullptr, 0, handle);
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, received, handle);
}
void complete(DWORD error = 0) {
  const INTERNET_ASYNC_RESULT r{error ? 0u : 1u, error};
  notify(INTERNET_STATUS_REQUEST_COMPLETE, &r, sizeof r);
}

class CallbackTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    std::stringstream definition;
    definition << std::ifstream(NIMBO007_DEFINITION).rdbuf();
    ui::addWindowDefinitions(definition.str());
  }
  void SetUp() override {
    window_ = std::make_unique<ui::Window>("NIMBO007", "NIMBO007");
    window_->open();
    MainWindow = window_->ref();
    MainThread = ui::currentThread();
    hOpen = hConnection = hBatchFtp = 0;
    TheRun.begin();
    TheRun.setFloor(1);
    setBatchState(StateFinished);
    ::setenv("NIMBO_BATCH_TRACE", trace_.c_str(), 1);
    std::remove(trace_.c_str());
    openTrace();
  }
  void TearDown() override {
    TheRun.stop();
    EXPECT_TRUE(TheRun.waitIdle(2s));
    closeTrace();
    ::unsetenv("NIMBO_BATCH_TRACE");
    std::remove(trace_.c_str());
    window_.reset();
  }
  std::string zone(int z) const { return ui::status(MainWindow.load(), z); }
  std::vector<std::string> failures() const {
    std::vector<std::string> lines;
    std::ifstream in(trace_);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("!\t", 0) == 0) lines.push_back(line.substr(2));
    return lines;
  }

  std::unique_ptr<ui::Window> window_;
  std::string trace_ = testing::TempDir() + "batch-trace-" + std::to_string(::getpid());
};

TEST_F(CallbackTest, EachNotificationShowsItsTextAndAnUnknownOneTheLatestAgain) {
  const std::vector<std::pair<DWORD, std::string>> table = {
      {10, "Resolving name"},     {11, "Name resolved"},     {20, "Connecting ..."},
      {21, "Connected"},          {30, "Sending request"},   {31, "Request sent"},
      {40, "Receiving response"}, {41, "Response received"}, {50, "Closing connection"},
      {51, "Connection closed"},  {60, "Handle created"},    {70, "Handle closed"},
      {100, "Request completed"}};
  for (const auto& [code, text] : table) {
    code == INTERNET_STATUS_REQUEST_COMPLETE ? complete() : notify(code);
    EXPECT_EQ(zone(1), text) << code;
  }
  EXPECT_EQ(BatchState.load(), StateFinished) << "a completion with nothing in flight moves nothing";
  showStatus(1, "Checking for x");
  for (DWORD unknown : {0u, 42u, 80u, 0xFFFFFFFFu}) {
    notify(unknown);
    EXPECT_EQ(zone(1), "Request completed") << unknown;
  }
}

// Only the file's own blocks count: not the commands and replies around them, nor what a retired
// connection still says.
TEST_F(CallbackTest, TransfersCountTheFilesBytesIntoPercentAndZone2) {
  constexpr uint32_t file = 7, retired = 5;
  hBatchFtp = file;
  setBatchState(StateGetting);
  BatchProgressLabel = "Received: ";
  BatchFileSize = 200;
  BatchBytes = 0;
  exchange(file, 8, 28);   // TYPE I
  exchange(file, 6, 49);   // EPSV
  exchange(file, 12, 71);  // RETR, and its 150
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 50, file);
  EXPECT_EQ(BatchPercent.load(), 25);
  EXPECT_EQ(zone(2), "Received: 50 bytes.");
  notifyCount(INTERNET_STATUS_REQUEST_SENT, 1000, file);  // a download sends no data
  exchange(retired, 6, 14);                               // QUIT of the connection before
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 30, retired);
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 250, file);
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, "ab", 2, file);  // too short to hold a count
  exchange(file, 0, 24);                                     // the closing 226
  EXPECT_EQ(BatchPercent.load(), 100) << "more than the size shows a full bar, no more";
  EXPECT_EQ(zone(2), "Received: 300 bytes.");

  setBatchState(StatePutting);
  BatchProgressLabel = "Sent: ";
  BatchFileSize = 0;  // not found by the check, or empty
  BatchBytes = 0;
  exchange(file, 14, 71);  // STOR
  notifyCount(INTERNET_STATUS_RESPONSE_RECEIVED, 77, file);
  notifyCount(INTERNET_STATUS_REQUEST_SENT, 4096, file);
  exchange(file, 0, 24);
  EXPECT_EQ(BatchPercent.load(), 0);
  EXPECT_EQ(zone(2), "Sent: 4096 bytes.");
  hBatchFtp = 0;

  constexpr int64_t GiB = int64_t{1} << 30;
  EXPECT_EQ(engine::percentOf(30'000'000, 40'000'000), 75) << "30 MB × 100 does not fit 32 bits";
  EXPECT_EQ(engine::percentOf(GiB + GiB / 2, 3 * GiB), 50) << "a 3 GiB file";
  EXPECT_EQ(engine::percentOf(GiB, 5 * GiB), 20) << "a 5 GiB file, not one of its low 32 bits";
  EXPECT_EQ(engine::percentOf(6 * GiB, 5 * GiB), 100);
  EXPECT_EQ(engine::percentOf(std::numeric_limits<int64_t>::max() - 1, std::numeric_limits<int64_t>::max()),
            99);
  EXPECT_EQ(engine::percentOf(-1, 5), 0);
}

TEST_F(CallbackTest, TheLastTransferFinishesTheBatchAndClosesItsWindow) {
  setBatchState(StateGetting);
  BatchPosition = BatchCount = 1;
  BatchPercent = 60;
  TheRun.issued(Run::Request::Transfer);
  // dwResult and dwError are all a completion must carry: the padding after them may be missing.
  constexpr DWORD length = offsetof(INTERNET_ASYNC_RESULT, dwError) + sizeof(DWORD);
  const INTERNET_ASYNC_RESULT done{TRUE, 0};
  const auto data = std::make_unique<unsigned char[]>(length);
  std::memcpy(data.get(), &done, length);
  notify(INTERNET_STATUS_REQUEST_COMPLETE, data.get(), length);
  EXPECT_EQ(zone(0), "Download complete");
  EXPECT_EQ(zone(2), "Finished");
  EXPECT_EQ(BatchState.load(), StateFinished);
  EXPECT_EQ(BatchPercent.load(), 0);
  window_->post(ui::event::User + 7);  // comes after the close, unless the close never came
  std::vector<int> events;
  while (window_->accept() && window_->event() != ui::event::User + 7) events.push_back(window_->event());
  EXPECT_NE(std::find(events.begin(), events.end(), ui::event::CloseWindow), events.end());
}

TEST_F(CallbackTest, AFailedConnectIsRetriedAfterAGrowingPauseUntilTheBatchEnds) {
  // hOpen is 0, so every connect fails at once: taken as a completion with that error.
  setBatchState(StateConnectingPut);
  notify(INTERNET_STATUS_RESPONSE_RECEIVED);
  const auto start = std::chrono::steady_clock::now();
  RUNINTERNETCONNECT();
  std::vector<std::chrono::steady_clock::duration> attempts;
  while (std::chrono::steady_clock::now() - start < 1700ms) {
    for (std::size_t n = failures().size(); attempts.size() < n;)
      attempts.push_back(std::chrono::steady_clock::now() - start);
    std::this_thread::sleep_for(5ms);
  }
  // About 0, 0.2, 0.6 and 1.4 s: a few attempts, never a flood.
  ASSERT_GE(attempts.size(), 3u);
  EXPECT_LE(attempts.size(), 5u);
  EXPECT_GT(attempts[2] - attempts[1], attempts[1] - attempts[0]);
  EXPECT_EQ(failures()[0].rfind("connect to ", 0), 0u) << failures()[0];
  EXPECT_EQ(BatchState.load(), StateConnectingPut);
  EXPECT_EQ(zone(1), "Response received") << "a failure is not shown";

  TheRun.stop();
  ASSERT_TRUE(TheRun.waitIdle(2s));
  const std::size_t after = failures().size();
  std::this_thread::sleep_for(Run::kLongestPause / 4);
  EXPECT_EQ(failures().size(), after) << "no retry once the batch has ended";
}

TEST_F(CallbackTest, ATransferThatFailsAtOnceIsTakenAsItsCompletion) {
  TransferList.free();
  TransferRecord FTPR;
  FTPR.FILENAME = "a.txt";
  TransferList.add(FTPR);
  BatchCount = 1;
  BatchPosition = 0;
  BatchRemoteDirectory = "/incoming/";
  BatchLocalDirectory = "C:\\nowhere\\";
  setBatchState(StateConnectingGet);
  TheRun.issued(Run::Request::Connect);
  complete();  // the connect for the entry; the download goes to a connection that does not exist
  EXPECT_EQ(BatchPosition.load(), 1u);
  EXPECT_EQ(BatchLocalPath.get().view(), "C:\\nowhere\\a.txt");
  EXPECT_EQ(BatchState.load(), StateGetting);
  for (int i = 0; i < 200 && failures().empty(); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_FALSE(failures().empty()) << "the batch would wait forever";
  EXPECT_EQ(failures()[0].rfind("download of /incoming/a.txt failed", 0), 0u) << failures()[0];
  TransferList.free();
}

TEST_F(CallbackTest, NotificationsOfAnEarlierRunOrAfterTheEndDoNothing) {
  TheRun.setFloor(100);
  notify(INTERNET_STATUS_CONNECTED_TO_SERVER, nullptr, 0, 150);
  notify(INTERNET_STATUS_HANDLE_CLOSING, nullptr, 0, 99);
  EXPECT_EQ(BatchStatusText.get().view(), "Connected");
  TheRun.stop();
  setBatchState(StateGetting);
  TheRun.issued(Run::Request::Transfer);
  complete();
  EXPECT_EQ(BatchStatusText.get().view(), "Connected");
  EXPECT_EQ(BatchState.load(), StateGetting);
}

#if NIMBO_THREAD_CHECKS
// The tree's builds check the threads: a step on a thread it must not run on stops the program.
TEST(ThreadCheck, AStepOnAWrongThreadStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  MainThread = ui::currentThread();
  EXPECT_EQ(currentThread(), Thread::Window);
  EXPECT_DEATH(onThread("transfer", Thread::Delivery), "batch: transfer runs on the window thread");
  std::thread([] {
    EXPECT_EQ(currentThread(), Thread::Delivery);
    onThread("check", Thread::Delivery);
  }).join();
}
#endif

TEST(RunRetries, EachRunsWhenDueNotBehindOneAskedForEarlierThatIsDueLater) {
  batch::Run run;
  run.begin();
  std::mutex mutex;
  std::condition_variable ran;
  std::vector<std::string> order;
  const auto record = [&](std::string what) {
    return [&, what] {
      std::lock_guard lock(mutex);
      order.push_back(what);
      ran.notify_all();
    };
  };
  run.after(400ms, record("later"));
  run.after(0ms, record("due"));
  run.after(0ms, record("due too"));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ran.wait_for(lock, 5s, [&] { return order.size() == 3; }));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"due", "due too", "later"}));
  run.stop();
  EXPECT_TRUE(run.waitIdle(2s));
}

}  // namespace
}  // namespace batch
