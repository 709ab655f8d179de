// One FTP operation as a small state machine: each state stands for the one command in flight. An
// operation never touches a socket; it tells the driver (Ftp::run) what to do next and hears back.
#pragma once

#include <optional>
#include <vector>

#include "outcome.h"
#include "socket.h"

namespace inet {

// Where downloaded data goes (a file, a listing parser) and where uploaded data comes from.
class DataSink {
 public:
  virtual ~DataSink() = default;
  virtual Outcome write(const char* data, size_t size) = 0;
  virtual Outcome finish() { return Outcome::success(); }
};

class DataSource {
 public:
  virtual ~DataSource() = default;
  // got == 0 at the end.
  virtual Outcome read(char* buffer, size_t capacity, size_t& got) = 0;
  // A file whose bytes go out unchanged, for the kernel to send without copying; -1 when there is none.
  virtual int descriptor() const { return -1; }
};

struct Step {
  enum class Kind {
    Send,         // send `command` (and `then` right behind it), then hand the first reply to onReply
    Known,        // announce `command` without sending it and hand `answer`, known already, to onReply
    AwaitReply,   // hand the next reply to onReply (after a preliminary one)
    OpenPassive,  // connect a data connection to the server at `port`, then onDataReady
    Listen,       // listen for the server's data connection, then onDataReady with the address
    Transfer,     // move the data (accepting first when listening), then onDataDone
    Done,         // the operation ended with `outcome`
  };
  Kind kind = Kind::Done;
  Command command;
  uint16_t port = 0;
  Outcome outcome;
  std::vector<Command> then;  // sent without waiting for the first reply; their replies come next, in order
  Reply answer;

  static Step send(Command c) { return make(Kind::Send, std::move(c)); }
  static Step sendBoth(Command first, Command second) {
    Step s = make(Kind::Send, std::move(first));
    s.then.push_back(std::move(second));
    return s;
  }
  static Step sendAll(Command first, std::vector<Command> more) {
    Step s = make(Kind::Send, std::move(first));
    s.then = std::move(more);
    return s;
  }
  static Step known(Command c, Reply answer) {
    Step s = make(Kind::Known, std::move(c));
    s.answer = std::move(answer);
    return s;
  }
  static Step awaitReply() { return make(Kind::AwaitReply); }
  static Step openPassive(uint16_t port) {
    Step s = make(Kind::OpenPassive);
    s.port = port;
    return s;
  }
  static Step listen() { return make(Kind::Listen); }
  static Step transfer() { return make(Kind::Transfer); }
  static Step done(Outcome o) {
    Step s = make(Kind::Done);
    s.outcome = std::move(o);
    return s;
  }

 private:
  static Step make(Kind kind, Command c = {}) {
    Step s;
    s.kind = kind;
    s.command = std::move(c);
    return s;
  }
};

class Operation {
 public:
  virtual ~Operation() = default;
  virtual Step start() = 0;
  virtual Step onReply(const Reply& reply) = 0;
  virtual Step onDataReady(Outcome outcome, const Endpoint& listening) {
    (void)listening;
    return Step::done(std::move(outcome));
  }
  virtual Step onDataDone(Outcome outcome) { return Step::done(std::move(outcome)); }
  // The command that needs the data connection went out already, behind EPSV: a data connection
  // that cannot be made then leaves a reply owed that may be long in coming.
  virtual bool sentAhead() const { return false; }
  virtual DataSink* sink() { return nullptr; }
  virtual DataSource* source() { return nullptr; }
  // The error when the server answers 421 (it is shutting the session down) during this operation.
  virtual DWORD droppedError() const { return ERROR_FTP_DROPPED; }
  // The error when the server closes the control connection during this operation.
  virtual DWORD closedError() const { return ERROR_FTP_DROPPED; }
};

}  // namespace inet
