// One data connection of one operation: connected to the server's passive port or accepted from it,
// carried by a transport (wrapped once open, when the session secures its data), and watched beside
// the control connection while data moves, so that a server that gives up mid-transfer is heard at
// once rather than at the data timeout. Its orderly close is a step of its own, taken before the final
// reply is read.
#pragma once

#include <memory>
#include <optional>

#include "control.h"
#include "operation.h"
#include "transport.h"

namespace inet {

class DataChannel {
 public:
  // `wrap`, when given, goes over the connection once it is open. `operation` says what a 421 or a
  // closed control connection mean meanwhile.
  DataChannel(ControlChannel& control, const Operation& operation, const Timeouts& timeouts,
              const Canceller* cancel, const TransportWrap* wrap);

  // Passive: a connection to the control connection's peer at `port`. The address a server names is
  // not trusted: servers behind NAT send unroutable ones, hostile ones send someone else's.
  Outcome connect(uint16_t port);
  // Active: a listening socket on the control connection's local address.
  Outcome listen(Endpoint& listening);
  // Once the server was told to send or receive: accepts its connection when listening, then wraps.
  Outcome open();

  bool cancelled() const { return cancel_ && cancel_->cancelled(); }
  // One attempt each, as the transport's; the bytes moved are counted for the trace.
  Io read(char* buffer, size_t capacity) { return counted(transport_->read(buffer, capacity)); }
  Io write(const char* data, size_t size) { return counted(transport_->write(data, size)); }
  Io sendFile(int file, size_t count) { return counted(transport_->sendFile(file, count)); }
  // After an Again: waits until the connection is ready for `events`, listening to the control
  // connection meanwhile. Fails when the wait times out or is cancelled, or the server gave up.
  Outcome await(short events);
  // All of `data`, waiting as await() does.
  Outcome writeAll(const char* data, size_t size);
  // What a failed read or write means: the control connection usually says why the server broke the
  // connection (quota, disk full, shutting down), or has gone too.
  Outcome failed(const Io& io);
  // Ends the stream in order (a TLS close_notify) and closes the connection.
  Outcome close();
  uint64_t moved() const { return moved_; }

 private:
  Io counted(Io io) {
    if (io.status == Io::Status::Moved) moved_ += io.bytes;
    return io;
  }
  Outcome waitOn(int fd, short events, Clock::time_point deadline);
  // A reply that arrived on the control connection while data was moving: nothing, or why to stop.
  std::optional<Outcome> controlSpoke();
  Outcome serverGaveUp(Reply reply);
  Outcome accept();

  ControlChannel& control_;
  const Operation& operation_;
  Timeouts timeouts_;
  const Canceller* cancel_;
  const TransportWrap* wrap_;
  const Trace& trace_;
  kernel::UniqueFd listener_;
  std::unique_ptr<Transport> transport_;
  bool watchControl_ = true;
  uint64_t moved_ = 0;
};

}  // namespace inet
