// The byte stream under the control and data channels. A channel never touches its socket itself: it
// reads and writes through a Transport, so that a secured transport can stand under either channel
// (wrapping the connected socket) while the code that drives the dialogue and pumps the data stays as
// it is.
//
// Every call is one non-blocking attempt. When it cannot go on now it answers Again with the readiness
// to wait for (a secured stream may need to write while it reads); the channel then waits on fd(), with
// its deadline and its canceller, and tries again.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "kernel/fd.h"
#include "socket.h"

namespace inet {

// What one attempt to move bytes did.
struct Io {
  enum class Status {
    Moved,        // `bytes` bytes went through
    End,          // the other side ended its stream in order
    Again,        // nothing now: wait until fd() is ready for `events`, then try again
    Failed,       // `error` (a WinINet or Win32 error) and the errno behind it, when there is one
    Unsupported,  // sendFile: this transport cannot send from a file
  };
  Status status = Status::Failed;
  size_t bytes = 0;
  short events = 0;
  DWORD error = ERROR_SUCCESS;
  int errnoValue = 0;

  static Io moved(size_t n) { return {Status::Moved, n, 0, ERROR_SUCCESS, 0}; }
  static Io end() { return {Status::End, 0, 0, ERROR_SUCCESS, 0}; }
  static Io again(short events) { return {Status::Again, 0, events, ERROR_SUCCESS, 0}; }
  static Io failed(DWORD error, int errnoValue = 0) { return {Status::Failed, 0, 0, error, errnoValue}; }
  static Io unsupported() { return {Status::Unsupported, 0, 0, ERROR_SUCCESS, 0}; }
};

class Transport {
 public:
  virtual ~Transport() = default;

  // The socket to wait on.
  virtual int fd() const = 0;
  virtual Io read(char* buffer, size_t capacity) = 0;
  virtual Io write(const char* data, size_t size) = 0;
  // Up to `count` bytes of `file` from its current offset, without passing through the process.
  // Unsupported where the bytes must be transformed on the way (and before any byte went), and for a
  // file the kernel cannot send from; the caller then reads and writes.
  virtual Io sendFile(int file, size_t count) {
    (void)file;
    (void)count;
    return Io::unsupported();
  }
  // Bytes already taken from the socket and not yet read: a wait on fd() alone would sleep over them.
  virtual bool pending() const { return false; }
  // The orderly end of what this side sends, waiting at most until `deadline`. After it only the
  // destructor: closing the socket is not part of it.
  virtual Outcome shutdown(Clock::time_point deadline, const Canceller* cancel) = 0;
};

// Plain TCP.
class TcpTransport final : public Transport {
 public:
  explicit TcpTransport(kernel::UniqueFd socket) : socket_(std::move(socket)) {}

  int fd() const override { return socket_.get(); }
  Io read(char* buffer, size_t capacity) override;
  Io write(const char* data, size_t size) override;
  Io sendFile(int file, size_t count) override;
  Outcome shutdown(Clock::time_point deadline, const Canceller* cancel) override;

 private:
  kernel::UniqueFd socket_;
};

// Puts another transport over a connected one (TLS over TCP): takes `transport`, and on success leaves
// the new one in its place. Runs its handshake within the deadline and watches the canceller.
using TransportWrap = std::function<Outcome(std::unique_ptr<Transport>& transport, Clock::time_point deadline,
                                            const Canceller* cancel)>;

// Waits until `transport` can go on after an Again for `events`; at once when it holds unread bytes
// and `events` asks for input. `watch` as for waitFor.
Wait waitFor(const Transport& transport, short events, Clock::time_point deadline, const Canceller* cancel,
             const Transport* watch = nullptr, bool* watchReady = nullptr);

// Writes all of `data`; `idle` bounds each wait for room.
Outcome writeAll(Transport& transport, std::string_view data, Millis idle, const Canceller* cancel);

}  // namespace inet
