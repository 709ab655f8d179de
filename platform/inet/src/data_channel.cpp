#include "data_channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace inet {

DataChannel::DataChannel(ControlChannel& control, const Operation& operation, const Timeouts& timeouts,
                         const Canceller* cancel, const TransportWrap* wrap)
    : control_(control),
      operation_(operation),
      timeouts_(timeouts),
      cancel_(cancel),
      wrap_(wrap),
      trace_(control.trace()) {}

Outcome DataChannel::connect(uint16_t port) {
  Endpoint to = peerEndpoint(control_.fd());
  if (to.length == 0) return Outcome::failure(ERROR_INTERNET_CANNOT_CONNECT);
  to.setPort(port);
  kernel::UniqueFd socket;
  if (Outcome o = connectTo(to, Clock::now() + timeouts_.connect, cancel_, socket); !o.ok()) {
    trace_.note("cannot open the data connection to port " + std::to_string(port));
    return o;
  }
  transport_ = std::make_unique<TcpTransport>(std::move(socket));
  return Outcome::success();
}

Outcome DataChannel::listen(Endpoint& listening) {
  Endpoint local = localEndpoint(control_.fd());
  if (local.length == 0) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  local.setPort(0);
  kernel::UniqueFd fd(::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd.valid() || ::bind(fd.get(), local.address(), local.length) != 0 || ::listen(fd.get(), 1) != 0)
    return Outcome::failure(socketError(errno));
  listening = localEndpoint(fd.get());
  listener_ = std::move(fd);
  return Outcome::success();
}

Outcome DataChannel::open() {
  if (listener_.valid())
    if (Outcome o = accept(); !o.ok()) return o;
  if (!transport_) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  if (wrap_ && *wrap_) return (*wrap_)(transport_, Clock::now() + timeouts_.data, cancel_);
  return Outcome::success();
}

Outcome DataChannel::accept() {
  const Endpoint server = peerEndpoint(control_.fd());
  const Clock::time_point deadline = Clock::now() + timeouts_.data;
  for (;;) {
    if (Outcome o = waitOn(listener_.get(), POLLIN, deadline); !o.ok()) {
      if (o.error == ERROR_INTERNET_TIMEOUT) trace_.note("the server did not connect back in time");
      return o;
    }
    Endpoint peer;
    peer.length = sizeof peer.storage;
    kernel::UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer.storage), &peer.length,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) continue;
      return Outcome::failure(socketError(errno));
    }
    // Only the server may connect: anyone else who finds the port is turned away.
    if (!peer.sameHost(server)) {
      trace_.note("refused a data connection from " + peer.host());
      continue;
    }
    listener_.reset();
    transport_ = std::make_unique<TcpTransport>(std::move(fd));
    return Outcome::success();
  }
}

Outcome DataChannel::await(short events) {
  if ((events & POLLIN) && transport_->pending()) return Outcome::success();
  Outcome o = waitOn(transport_->fd(), events, Clock::now() + timeouts_.data);
  if (o.error == ERROR_INTERNET_TIMEOUT)
    trace_.note("no data for too long after " + std::to_string(moved_) + " bytes");
  return o;
}

Outcome DataChannel::waitOn(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    // The control connection may hold a whole reply already read from its socket.
    if (watchControl_ && control_.transport().pending())
      if (auto stop = controlSpoke()) return std::move(*stop);
    bool controlReady = false;
    Wait w = waitFor(fd, events, deadline, cancel_, watchControl_ ? control_.fd() : -1, &controlReady);
    if (w != Wait::Ready) return waitOutcome(w);
    if (!controlReady) return Outcome::success();
    if (auto stop = controlSpoke()) return std::move(*stop);
    if (!watchControl_) return Outcome::success();  // the data may be ready too: let the caller look
  }
}

std::optional<Outcome> DataChannel::controlSpoke() {
  const bool open = control_.absorb();
  const Reply* pending = control_.buffered();
  if (!pending) {
    if (!open) return Outcome::failure(operation_.closedError());
    return std::nullopt;
  }
  watchControl_ = false;  // a whole reply waits; the control connection has nothing more to say for now
  if (!pending->failure()) return std::nullopt;
  // The server gave up on the transfer (426, 451, 552...): stop now rather than at the data timeout.
  Reply reply;
  if (Outcome o = control_.receive(reply); !o.ok()) return o;
  return serverGaveUp(std::move(reply));
}

Outcome DataChannel::serverGaveUp(Reply reply) {
  if (reply.code == 421) {
    control_.abandon();
    return Outcome::failure(operation_.droppedError(), reply);
  }
  return Outcome::refused(reply);
}

Outcome DataChannel::writeAll(const char* data, size_t size) {
  size_t sent = 0;
  while (sent < size) {
    Io io = write(data + sent, size - sent);
    switch (io.status) {
      case Io::Status::Moved:
        sent += io.bytes;
        break;
      case Io::Status::Again:
        if (Outcome o = await(io.events); !o.ok()) return o;
        break;
      default:
        return failed(io);
    }
  }
  return Outcome::success();
}

Outcome DataChannel::failed(const Io& io) {
  trace_.note("the data connection failed after " + std::to_string(moved_) + " bytes");
  Reply reply;
  Outcome o = control_.receive(reply);
  if (!o.ok()) {
    if (o.error == ERROR_INTERNET_CONNECTION_ABORTED) return Outcome::failure(operation_.closedError());
    if (o.error == ERROR_INTERNET_OPERATION_CANCELLED) return o;
    return Outcome::failure(io.error);
  }
  if (reply.failure()) return serverGaveUp(std::move(reply));
  return Outcome::failure(io.error);
}

Outcome DataChannel::close() {
  if (!transport_) return Outcome::success();
  Outcome o = transport_->shutdown(Clock::now() + timeouts_.data, cancel_);
  transport_.reset();
  return o;
}

}  // namespace inet
