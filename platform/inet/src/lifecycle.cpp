#include "lifecycle.h"

namespace inet {

void HandleLife::close() {
  if (stage_ == Stage::Open) stage_ = Stage::Closed;
}

bool HandleLife::end() {
  if (stage_ == Stage::Ended) return false;
  stage_ = Stage::Ended;
  return true;
}

DWORD ConnectionLife::reserve(bool connect, std::shared_ptr<Handle> target) {
  switch (state_) {
    case State::New:
      if (!connect) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
      state_ = State::Connecting;
      break;
    case State::Idle:
      if (connect) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
      state_ = State::Busy;
      break;
    case State::Connecting:
    case State::Failed:
      return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    case State::Busy:
      return ERROR_FTP_TRANSFER_IN_PROGRESS;
    case State::Cancelling:
    case State::Finalizing:
      return ERROR_INVALID_HANDLE;
  }
  current_ = std::move(target);
  return ERROR_SUCCESS;
}

bool ConnectionLife::unreserve() { return settle(State::New); }

bool ConnectionLife::finish(bool connected) { return settle(connected ? State::Idle : State::Failed); }

bool ConnectionLife::settle(State afterConnect) {
  current_.reset();
  switch (state_) {
    case State::Connecting:
      state_ = afterConnect;
      return false;
    case State::Busy:
      state_ = State::Idle;
      return false;
    case State::Cancelling:
      state_ = State::Finalizing;
      return true;
    default:
      return false;
  }
}

ConnectionLife::Closing ConnectionLife::close() {
  Closing c;
  switch (state_) {
    case State::Connecting:
    case State::Busy:
      state_ = State::Cancelling;
      c.cancel = true;
      break;
    case State::New:
    case State::Idle:
    case State::Failed:
      state_ = State::Finalizing;
      c.finalize = true;
      break;
    case State::Cancelling:
      c.cancel = true;  // still running: InternetCloseHandle says so again
      break;
    case State::Finalizing:
      break;
  }
  return c;
}

}  // namespace inet
