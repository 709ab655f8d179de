// One run of the batch: whether it is going, which step of it is being taken, and everything the
// run is waiting for: the request in flight (its completion is owed), the connections being closed
// (their HANDLE_CLOSING is owed, and the next connect may wait for one of them), and the retries
// queued on its own thread (a paced reconnect, a retired connection's time limit, or a completion
// the batch makes up for a request that ended at once). End batch waits for all of them.
//
// The batch moves on the FTP layer's delivery threads (one per Internet session, and the server check
// replaces the session mid-batch) and on the run's own retry thread. Every step holds a Step for its
// whole body, so steps never overlap, and a step that arrives after the run has ended (a late
// notification of a closed handle, a retry that lost the race with the user's close) does nothing.
// Steps do not nest: the entry points (the status callback, RUNINTERNETCONNECT, CHECKFILESONSERVER,
// a retry's action) take one, and what runs inside a step calls the batch's inner functions.
// End batch on the window's thread stops the run, closes the handles, and waits until the step in
// progress has returned and the request in flight has delivered its completion, so that nothing of
// this batch can reach the next one.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "inet/wininet.h"

namespace batch {

class Run {
 public:
  enum class Request { None, Connect, Transfer };

  Run() = default;
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Starts a run and its retry thread (window's thread).
  void begin();
  // Notifications of handles below `handle` belong to an earlier run and are ignored. Handle ids grow
  // and are not reused, so the first handle of a run bounds all of its own.
  void setFloor(uint32_t handle);
  // Ends the run: no step starts from now on and no retry is made. Steps in progress go on.
  void stop();
  // After stop(): waits until no step is in progress and no request is in flight, at most `patience`;
  // then joins the retry thread. False when the wait ran out.
  bool waitIdle(std::chrono::milliseconds patience);
  bool running() const;
  // Whether the calling thread is this run's retry thread.
  bool onRetryThread() const { return std::this_thread::get_id() == retryThreadId_.load(); }

  // Held for the whole body of a step.
  class Step {
   public:
    // `handle`: the handle a notification concerns, or 0 for a step of the batch's own.
    explicit Step(Run& run, uint32_t handle = 0);
    ~Step();
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    Run& run_;
    bool entered_;
  };

  // A request has been issued; its REQUEST_COMPLETE is owed.
  void issued(Request kind);
  // The request just issued ended at once (failed, or done without waiting): no REQUEST_COMPLETE
  // will come for it.
  void settledAtOnce();
  // A REQUEST_COMPLETE has arrived for `handle` (0 for one made up by the batch); returns the kind
  // of request that was in flight.
  Request completed(uint32_t handle);

  // Runs `action` on the retry thread once `delay` has passed, unless the run stops first. Actions run
  // in the order they fall due (in the order they were asked for when due together). The action takes
  // its own Step.
  void after(std::chrono::milliseconds delay, std::function<void()> action);

  // Connections being closed, until their HANDLE_CLOSING has come (any thread, run going or not).
  void closing(uint32_t connection);
  void closed(uint32_t connection);
  // The connection the next connect waits for (0: none). The wait ends when its HANDLE_CLOSING comes
  // or its time runs out, whichever is first: takeRetired() says true to exactly one of the two.
  void awaitRetired(uint32_t connection);
  bool takeRetired(uint32_t connection);
  // Waits until every connection being closed has gone, at most `patience`. False when it ran out.
  bool waitClosed(std::chrono::milliseconds patience);

  // Stores a new handle in `slot` while the run is going. Once it has stopped, closes the handle
  // instead, so that End batch leaves nothing open behind it. False when it was closed.
  bool adopt(std::atomic<uint32_t>& slot, HINTERNET handle);

  // The pause before reconnecting after a failed connect: short at first, doubling up to a limit,
  // back to short once a connect succeeds. A wrong password must neither flood the server nor spin.
  std::chrono::milliseconds nextPause();
  void connected();

  static constexpr std::chrono::milliseconds kFirstPause{200};
  static constexpr std::chrono::milliseconds kLongestPause{5000};
  // How long the next connect, and End batch, wait for a retired connection to close. Closing takes
  // a QUIT and its reply; a server that does not answer it must not hold the batch up for its whole
  // timeout.
  static constexpr std::chrono::milliseconds kRetireLimit{2000};

 private:
  bool enter(uint32_t handle);
  void leave();
  void retryLoop();

  mutable std::mutex mutex_;
  // Two conditions, so that the steps' comings and goings (dozens for each file) do not wake the retry
  // thread, and a queued retry does not wake End batch.
  std::condition_variable settled_;         // busy_, pending_ or closing_ went down (End batch waits)
  std::condition_variable retriesChanged_;  // a retry was queued, or the run stopped
  bool running_ = false;
  uint32_t floor_ = 0;
  int busy_ = 0;
  int pending_ = 0;
  Request inFlight_ = Request::None;
  std::vector<uint32_t> closing_;
  uint32_t retiring_ = 0;
  std::chrono::milliseconds pause_{0};

  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> retries_;  // by due time
  std::thread retryThread_;
  // Set by the retry thread itself before it runs anything, so that a step can ask where it runs.
  std::atomic<std::thread::id> retryThreadId_{};

  // Serialises the steps themselves.
  std::mutex stepMutex_;
};

// The batch's run: one per process, like the rest of the batch context.
extern Run TheRun;

}  // namespace batch
