// The life of handles and of a connection's requests. Every state and every change of state is here,
// each change a named transition; all of them run under HandleTable::mutex(), and each says what its
// caller must do next (cancel, finalize, send HANDLE_CLOSING) so that those effects run outside it.
#pragma once

#include <memory>

#include "inet/wininet.h"

namespace inet {

class Handle;

// Open: in the table, usable. Closed: InternetCloseHandle (on it or an ancestor) took it out of the
// table; a request may still be ending. Ended: its HANDLE_CLOSING is on its way and nothing follows.
class HandleLife {
 public:
  enum class Stage { Open, Closed, Ended };

  bool open() const { return stage_ == Stage::Open; }
  bool ended() const { return stage_ == Stage::Ended; }
  // Open → Closed.
  void close();
  // Open or Closed → Ended; false when it had ended already (HANDLE_CLOSING goes once).
  bool end();

 private:
  Stage stage_ = Stage::Open;
};

// A connection and its one request at a time:
//
//   New ──reserve(connect)──▶ Connecting ──finish(ok)──▶ Idle ◀──finish── Busy ◀──reserve── Idle
//                                  └──finish(failed)──▶ Failed (only closing is left)
//   Connecting/Busy ──close──▶ Cancelling ──finish──▶ Finalizing
//   New/Idle/Failed ──close──▶ Finalizing (QUIT, CONNECTION_CLOSED, HANDLE_CLOSING)
class ConnectionLife {
 public:
  enum class State { New, Connecting, Idle, Busy, Failed, Cancelling, Finalizing };

  State state() const { return state_; }
  // The request in flight reports to `target`.
  bool serving(const std::shared_ptr<Handle>& target) const { return requestRunning() && current_ == target; }
  const std::shared_ptr<Handle>& target() const { return current_; }

  // New → Connecting (the connect) or Idle → Busy. ERROR_SUCCESS, or why the request may not start:
  // ERROR_INVALID_HANDLE (closed), ERROR_INTERNET_INCORRECT_HANDLE_STATE (not connected),
  // ERROR_FTP_TRANSFER_IN_PROGRESS (another request runs).
  DWORD reserve(bool connect, std::shared_ptr<Handle> target);
  // Busy → Idle, or Cancelling → Finalizing: a reserved request that never started. True when the
  // caller must finalize the connection now (it was closed meanwhile).
  bool unreserve();
  // The request ended: Connecting → Idle or Failed, Busy → Idle, Cancelling → Finalizing. True when the
  // caller must finalize the connection now.
  bool finish(bool connected);
  struct Closing {
    bool cancel = false;    // a request runs: cancel it; it finalizes when it ends
    bool finalize = false;  // nothing runs: finalize now
  };
  // InternetCloseHandle on the connection or its root.
  Closing close();

 private:
  // The request in flight is over: a connect goes to `afterConnect`, other requests to Idle, and a
  // closed connection to Finalizing (true: finalize now).
  bool settle(State afterConnect);
  bool requestRunning() const {
    return state_ == State::Connecting || state_ == State::Busy || state_ == State::Cancelling;
  }

  State state_ = State::New;
  std::shared_ptr<Handle> current_;
};

}  // namespace inet
