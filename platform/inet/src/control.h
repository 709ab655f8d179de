// The control connection: one command at a time, one reader for the replies, and the bookkeeping of
// replies still owed to commands whose operation ended early (a closed find handle, a failed local
// write), so that the next command never takes an old reply for its own.
#pragma once

#include <memory>
#include <string>

#include "inet/options.h"
#include "notifier.h"
#include "reply_reader.h"
#include "trace.h"
#include "transport.h"

namespace inet {

class ControlChannel {
 public:
  ControlChannel(std::unique_ptr<Transport> transport, Trace trace, const Timeouts& timeouts);

  // The request being served: where notifications go and what cancels waits.
  void bind(const Notifier* notifier, const Canceller* cancel);
  int fd() const { return transport_->fd(); }
  const Transport& transport() const { return *transport_; }
  const Trace& trace() const { return trace_; }
  void setTrace(Trace trace) { trace_ = std::move(trace); }
  const Reply& lastReply() const { return last_; }

  // Sends one command after settling owed replies. An argument holding CR, LF or NUL is refused with
  // ERROR_INVALID_PARAMETER and nothing is sent: it would smuggle in a command of its own.
  // `pipelined`: sent behind a command whose reply is still to come (both are owed).
  Outcome send(const Command& command, bool pipelined = false);
  // The next reply. Errors: ERROR_INTERNET_CONNECTION_ABORTED (the server closed), _RESET, _TIMEOUT,
  // _OPERATION_CANCELLED, ERROR_FTP_DROPPED (a reply that is not FTP).
  Outcome receive(Reply& out);
  // The same, waiting no later than `deadline` (however long the reply timeout).
  Outcome receive(Reply& out, Clock::time_point deadline);
  // Commands sent whose final reply has not come yet.
  int owed() const { return outstanding_; }

  // While data flows: takes what the server has sent so far without waiting. False once the control
  // connection is closed or broken (what came before stays readable).
  bool absorb();
  // A whole reply that absorb() has buffered, not yet received.
  const Reply* buffered() { return reader_.peek(); }

  // Idle and sound: no reply owed, nothing unread, no fault seen. A connection in this state may be
  // kept for the next request.
  bool settled() const { return healthy_ && outstanding_ == 0 && !reader_.holdsBytes(); }
  // For a kept connection about to be used again: still settled, and the server has said nothing
  // meanwhile (a 421, its end of the connection, a reset). False with why when it has.
  bool quiet(std::string& why);
  // The notifications and trace of an exchange whose answer is known already (a TYPE in force), so
  // that callers who count a request's first notifications count the same whether it is sent or not.
  void announce(const Command& command, const Reply& known);

  // The server said 421: it is closing; nothing more goes over this connection.
  void abandon() { healthy_ = false; }
  // Puts a transport over the connection's (TLS after the server's 234 to AUTH TLS). Only between
  // replies: what the server sent before is read already, what it sends after goes through the new one.
  Outcome secure(const TransportWrap& wrap);

  // QUIT, waiting briefly for the goodbye; then the socket closes.
  void quit();
  // Ends the stream in order when the connection is sound, then closes it.
  void close();

 private:
  Outcome fill(Clock::time_point deadline);
  Outcome next(Reply& out, Clock::time_point deadline);
  Outcome broken(DWORD error);
  Io::Status takeAvailable();
  Outcome unasked();

  std::unique_ptr<Transport> transport_;
  Trace trace_;
  Timeouts timeouts_;
  ReplyReader reader_;
  const Notifier* notifier_ = nullptr;
  const Canceller* cancel_ = nullptr;
  Reply last_;
  int outstanding_ = 1;  // the greeting
  bool healthy_ = true;
};

}  // namespace inet
