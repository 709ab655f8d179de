#include "transport.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

#include <cerrno>

namespace inet {

Io TcpTransport::read(char* buffer, size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(socket_.get(), buffer, capacity, 0);
    if (n > 0) return Io::moved(static_cast<size_t>(n));
    if (n == 0) return Io::end();
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::again(POLLIN);
    return Io::failed(socketError(errno), errno);
  }
}

Io TcpTransport::write(const char* data, size_t size) {
  for (;;) {
    ssize_t n = ::send(socket_.get(), data, size, MSG_NOSIGNAL);
    if (n >= 0) return Io::moved(static_cast<size_t>(n));
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::again(POLLOUT);
    return Io::failed(socketError(errno), errno);
  }
}

Io TcpTransport::sendFile(int file, size_t count) {
  for (;;) {
    ssize_t n = ::sendfile(socket_.get(), file, nullptr, count);
    if (n > 0) return Io::moved(static_cast<size_t>(n));
    if (n == 0) return Io::end();  // the end of the file
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::again(POLLOUT);
    if (errno == EINVAL || errno == ENOSYS) return Io::unsupported();
    if (errno == EIO) return Io::failed(ERROR_READ_FAULT, errno);
    return Io::failed(socketError(errno), errno);
  }
}

Outcome TcpTransport::shutdown(Clock::time_point, const Canceller*) {
  // A FIN needs no answer; a socket the server has already reset has nothing left to end.
  if (::shutdown(socket_.get(), SHUT_WR) != 0 && errno != ENOTCONN)
    return Outcome::failure(socketError(errno));
  return Outcome::success();
}

Wait waitFor(const Transport& transport, short events, Clock::time_point deadline, const Canceller* cancel,
             const Transport* watch, bool* watchReady) {
  if (watchReady) *watchReady = false;
  if (cancel && cancel->cancelled()) return Wait::Cancelled;
  if ((events & POLLIN) && transport.pending()) return Wait::Ready;
  if (watch && watch->pending()) {
    if (watchReady) *watchReady = true;
    return Wait::Ready;
  }
  return waitFor(transport.fd(), events, deadline, cancel, watch ? watch->fd() : -1, watchReady);
}

Outcome writeAll(Transport& transport, std::string_view data, Millis idle, const Canceller* cancel) {
  while (!data.empty()) {
    if (cancel && cancel->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    Io io = transport.write(data.data(), data.size());
    switch (io.status) {
      case Io::Status::Moved:
        data.remove_prefix(io.bytes);
        break;
      case Io::Status::Again:
        if (Wait w = waitFor(transport, io.events, Clock::now() + idle, cancel); w != Wait::Ready)
          return waitOutcome(w);
        break;
      case Io::Status::Failed:
        return Outcome::failure(io.error);
      case Io::Status::End:
      case Io::Status::Unsupported:
        return Outcome::failure(ERROR_INTERNET_CONNECTION_RESET);
    }
  }
  return Outcome::success();
}

}  // namespace inet
