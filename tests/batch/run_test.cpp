#include "batch/run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace batch {
namespace {

using namespace std::chrono_literals;
// Not Run: inside a test that name is the test's own Run().
using BatchRun = Run;

struct RunTest : testing::Test {
  BatchRun run;
  void TearDown() override {
    run.stop();
    run.waitIdle(2s);
  }
};

TEST_F(RunTest, StepsAreTakenOnlyWhileTheRunGoesAndOnlyForItsOwnHandles) {
  { EXPECT_FALSE(BatchRun::Step(run)) << "before the run"; }
  run.begin();
  { EXPECT_FALSE(BatchRun::Step(run, 7)) << "no session yet: every handle is an earlier run's"; }
  run.setFloor(100);
  {
    BatchRun::Step outer(run, 100);
    EXPECT_TRUE(outer);
    BatchRun::Step nested(run);  // an exported operation called from inside the callback
    EXPECT_TRUE(nested);
  }
  { EXPECT_FALSE(BatchRun::Step(run, 99)) << "a late notification of an earlier run"; }
  { EXPECT_TRUE(BatchRun::Step(run, 0)) << "a step of the batch's own"; }
  run.stop();
  { EXPECT_FALSE(BatchRun::Step(run)) << "after the run"; }
}

TEST_F(RunTest, StepsNeverOverlap) {
  run.begin();
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto body = [&] {
    for (int i = 0; i < 2000; ++i) {
      BatchRun::Step step(run);
      if (inside.fetch_add(1) != 0) overlapped = true;
      inside.fetch_sub(1);
    }
  };
  std::thread a(body), b(body);
  a.join();
  b.join();
  EXPECT_FALSE(overlapped);
}

TEST_F(RunTest, ThePauseAfterFailedConnectsGrowsToItsLimitAndStartsOverAfterASuccess) {
  run.begin();
  EXPECT_EQ(run.nextPause(), 200ms);
  EXPECT_EQ(run.nextPause(), 400ms);
  EXPECT_EQ(run.nextPause(), 800ms);
  for (int i = 0; i < 10; ++i) run.nextPause();
  EXPECT_EQ(run.nextPause(), BatchRun::kLongestPause);
  run.connected();
  EXPECT_EQ(run.nextPause(), BatchRun::kFirstPause);
  run.begin();  // a new batch starts short again
  EXPECT_EQ(run.nextPause(), BatchRun::kFirstPause);
}

TEST_F(RunTest, CompletionsReportWhatWasInFlight) {
  run.begin();
  run.setFloor(10);
  run.issued(BatchRun::Request::Connect);
  EXPECT_EQ(run.completed(5), BatchRun::Request::None) << "an earlier run's completion is not ours";
  EXPECT_EQ(run.completed(10), BatchRun::Request::Connect);
  EXPECT_EQ(run.completed(10), BatchRun::Request::None) << "nothing in flight any more";
  run.issued(BatchRun::Request::Transfer);
  run.settledAtOnce();
  EXPECT_EQ(run.completed(10), BatchRun::Request::None);
}

TEST_F(RunTest, WaitIdleWaitsForTheCompletionOwedAndForTheStepUnderWay) {
  run.begin();
  run.setFloor(1);
  run.issued(BatchRun::Request::Transfer);
  std::thread layer([&] {
    std::this_thread::sleep_for(150ms);
    run.completed(1);  // the cancelled request's completion, after End batch closed its handle
    BatchRun::Step late(run, 1);
    EXPECT_FALSE(late);
  });
  run.stop();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(run.waitIdle(5s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  layer.join();

  run.begin();
  std::atomic<bool> entered{false}, release{false};
  std::thread step([&] {
    BatchRun::Step s(run);
    entered = true;
    while (!release) std::this_thread::sleep_for(1ms);
  });
  while (!entered) std::this_thread::sleep_for(1ms);
  run.stop();
  EXPECT_FALSE(run.waitIdle(50ms)) << "a step is still under way";
  release = true;
  step.join();
  EXPECT_TRUE(run.waitIdle(1s));
}

TEST_F(RunTest, WaitIdleGivesUpOnACompletionThatNeverComes) {
  run.begin();
  run.issued(BatchRun::Request::Connect);
  run.stop();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(run.waitIdle(200ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  run.completed(0);
}

TEST_F(RunTest, RetriesRunAfterTheirDelayUnlessTheRunStops) {
  run.begin();
  std::atomic<int> ran{0};
  const auto start = std::chrono::steady_clock::now();
  std::atomic<std::chrono::steady_clock::duration> when{};
  run.after(100ms, [&] {
    when = std::chrono::steady_clock::now() - start;
    ++ran;
  });
  for (int i = 0; i < 200 && ran == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(ran, 1);
  EXPECT_GE(when.load(), 100ms);

  run.after(300ms, [&] { ++ran; });
  run.stop();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(ran, 1) << "a retry queued before the run stopped must not run";
  run.after(0ms, [&] { ++ran; });
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ran, 1) << "nor one queued after";
}

TEST_F(RunTest, AHandleOpenedAfterTheRunStoppedIsClosedNotKept) {
  run.begin();
  std::atomic<uint32_t> slot{0};
  HINTERNET session = InternetOpenA("run test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  EXPECT_TRUE(run.adopt(slot, session));
  EXPECT_EQ(slot.load(), INET_HANDLE_ID(session));
  run.stop();
  HINTERNET late = InternetOpenA("run test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(late, nullptr);
  EXPECT_FALSE(run.adopt(slot, late));
  EXPECT_EQ(slot.load(), INET_HANDLE_ID(session));
  EXPECT_FALSE(InternetCloseHandle(late)) << "it was closed already";
  EXPECT_TRUE(InternetCloseHandle(session));
}

}  // namespace
}  // namespace batch
