#include "ftp.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

#include <cerrno>

#include "logon.h"
#include "resolver.h"

namespace inet {
namespace {

const Notifier kSilent;

Outcome fromWait(Wait w) {
  switch (w) {
    case Wait::Ready:
      return Outcome::success();
    case Wait::TimedOut:
      return Outcome::failure(ERROR_INTERNET_TIMEOUT);
    case Wait::Cancelled:
      return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    case Wait::Failed:
      break;
  }
  return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
}

}  // namespace

Ftp::Ftp(ConnectParams params) : params_(std::move(params)), notifier_(&kSilent) {
  dataPath_.passive = params_.passive;
}

Ftp::~Ftp() = default;

void Ftp::bind(const Notifier* notifier, const Canceller* cancel) {
  notifier_ = notifier ? notifier : &kSilent;
  cancel_ = cancel;
  if (control_) control_->bind(notifier_, cancel_);
}

Reply Ftp::lastReply() const { return control_ ? control_->lastReply() : Reply{}; }

Outcome Ftp::open(uint32_t connectionId) {
  trace_ = Trace::forConnection(connectionId);
  const bool viaGateway = params_.gateway.has_value();
  const std::string& host = viaGateway ? params_.gateway->host : params_.host;
  const uint16_t port = viaGateway ? params_.gateway->port : params_.port;
  const Clock::time_point deadline = Clock::now() + params_.timeouts.connect;

  notifier_->text(INTERNET_STATUS_RESOLVING_NAME, host);
  std::vector<Endpoint> endpoints;
  if (Outcome o = resolve(host, port, deadline, cancel_, endpoints); !o.ok()) {
    trace_.note("cannot resolve " + host);
    return o;
  }
  notifier_->text(INTERNET_STATUS_NAME_RESOLVED, endpoints.front().host());

  UniqueFd socket;
  Outcome connected = Outcome::failure(ERROR_INTERNET_CANNOT_CONNECT);
  for (const Endpoint& e : endpoints) {
    notifier_->address(INTERNET_STATUS_CONNECTING_TO_SERVER, e);
    connected = connectTo(e, deadline, cancel_, socket);
    if (connected.ok()) {
      notifier_->address(INTERNET_STATUS_CONNECTED_TO_SERVER, e);
      dataPath_.ipv6 = e.family() == AF_INET6;
      trace_.note("connected to " + e.host() + " port " + std::to_string(port) +
                  (viaGateway ? " (gateway)" : ""));
      break;
    }
    if (connected.error == ERROR_INTERNET_TIMEOUT || connected.error == ERROR_INTERNET_OPERATION_CANCELLED)
      break;
  }
  if (!connected.ok()) {
    trace_.note("cannot connect to " + host);
    if (viaGateway && connected.error != ERROR_INTERNET_TIMEOUT &&
        connected.error != ERROR_INTERNET_OPERATION_CANCELLED)
      connected.error = ERROR_INTERNET_PROXY_SERVER_UNREACHABLE;
    return connected;
  }
  control_ = std::make_unique<ControlChannel>(std::move(socket), trace_, params_.timeouts);
  control_->bind(notifier_, cancel_);

  // A TIS gateway takes the real server in the user name and relays the rest.
  std::string user = params_.user;
  if (viaGateway) {
    std::string target =
        params_.host.find(':') != std::string::npos ? "[" + params_.host + "]" : params_.host;
    user += "@" + target;
    if (params_.port != 21) user += ":" + std::to_string(params_.port);
  }
  Logon logon(user, params_.password, features_);
  return run(logon);
}

void Ftp::close() {
  if (!control_) return;
  notifier_->status(INTERNET_STATUS_CLOSING_CONNECTION);
  data_.reset();
  listener_.reset();
  control_->quit();
  control_->close();
  control_.reset();
  notifier_->status(INTERNET_STATUS_CONNECTION_CLOSED);
}

void Ftp::drop() {
  data_.reset();
  listener_.reset();
  control_.reset();
}

Outcome Ftp::run(Operation& op) {
  if (!control_) return Outcome::failure(ERROR_FTP_DROPPED);
  running_ = &op;
  Step step = op.start();
  for (;;) {
    switch (step.kind) {
      case Step::Kind::Send: {
        Outcome sent = control_->send(step.command);
        if (!sent.ok()) {
          if (sent.error == ERROR_INTERNET_CONNECTION_ABORTED) sent.error = op.closedError();
          step = Step::done(std::move(sent));
          break;
        }
        step = receiveFor(op);
        break;
      }
      case Step::Kind::AwaitReply:
        step = receiveFor(op);
        break;
      case Step::Kind::OpenPassive:
        step = op.onDataReady(openPassive(step.port), Endpoint{});
        break;
      case Step::Kind::Listen: {
        Endpoint listening;
        Outcome o = listen(listening);
        step = op.onDataReady(std::move(o), listening);
        break;
      }
      case Step::Kind::Transfer:
        step = op.onDataDone(pump(op));
        break;
      case Step::Kind::Done:
        data_.reset();
        listener_.reset();
        running_ = nullptr;
        return std::move(step.outcome);
    }
  }
}

Step Ftp::receiveFor(Operation& op) {
  Reply reply;
  Outcome o = control_->receive(reply);
  if (!o.ok()) {
    if (o.error == ERROR_INTERNET_CONNECTION_ABORTED) o.error = op.closedError();
    return Step::done(std::move(o));
  }
  // 421 may come at any point: the server is going away and takes the session with it.
  if (reply.code == 421) {
    control_->abandon();
    return Step::done(Outcome::failure(op.droppedError(), reply));
  }
  return op.onReply(reply);
}

Outcome Ftp::openPassive(uint16_t port) {
  // The address in the reply is not trusted: servers behind NAT send unroutable ones, hostile ones
  // send someone else's. The data goes where the control connection goes.
  Endpoint to = peerEndpoint(control_->fd());
  if (to.length == 0) return Outcome::failure(ERROR_INTERNET_CANNOT_CONNECT);
  to.setPort(port);
  Outcome o = connectTo(to, Clock::now() + params_.timeouts.connect, cancel_, data_);
  if (!o.ok()) trace_.note("cannot open the data connection to port " + std::to_string(port));
  return o;
}

Outcome Ftp::listen(Endpoint& listening) {
  Endpoint local = localEndpoint(control_->fd());
  if (local.length == 0) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  local.setPort(0);
  UniqueFd fd(::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd.valid() || ::bind(fd.get(), local.address(), local.length) != 0 || ::listen(fd.get(), 1) != 0)
    return Outcome::failure(socketError(errno));
  listening = localEndpoint(fd.get());
  listener_ = std::move(fd);
  return Outcome::success();
}

Outcome Ftp::accept() {
  const Endpoint server = peerEndpoint(control_->fd());
  const Clock::time_point deadline = Clock::now() + params_.timeouts.data;
  bool watch = true;
  for (;;) {
    bool controlReady = false;
    Wait w = waitFor(listener_.get(), POLLIN, deadline, cancel_, watch ? control_->fd() : -1, &controlReady);
    if (w != Wait::Ready) {
      if (w == Wait::TimedOut) trace_.note("the server did not connect back in time");
      return fromWait(w);
    }
    if (controlReady)
      if (auto stop = controlDuringData(*running_, watch)) return std::move(*stop);
    Endpoint peer;
    peer.length = sizeof peer.storage;
    UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer.storage), &peer.length,
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
    data_ = std::move(fd);
    listener_.reset();
    return Outcome::success();
  }
}

std::optional<Outcome> Ftp::controlDuringData(Operation& op, bool& watch) {
  const bool open = control_->absorb();
  const Reply* pending = control_->buffered();
  if (!pending) {
    if (!open) return Outcome::failure(op.closedError());
    return std::nullopt;
  }
  watch = false;  // a whole reply waits; the control connection has nothing more to say for now
  if (!pending->failure()) return std::nullopt;
  // The server gave up on the transfer (426, 451, 552...): stop now rather than at the data timeout.
  Reply reply;
  if (Outcome o = control_->receive(reply); !o.ok()) return o;
  if (reply.code == 421) {
    control_->abandon();
    return Outcome::failure(op.droppedError(), reply);
  }
  return Outcome::refused(reply);
}

Outcome Ftp::dataFailure(int err) {
  // The server broke the data connection: the control connection usually says why (quota, disk
  // full, shutting down), or has gone too.
  Reply reply;
  Outcome o = control_->receive(reply);
  if (!o.ok()) {
    if (o.error == ERROR_INTERNET_CONNECTION_ABORTED) return Outcome::failure(running_->closedError());
    if (o.error == ERROR_INTERNET_OPERATION_CANCELLED) return o;
    return Outcome::failure(socketError(err));
  }
  if (reply.code == 421) {
    control_->abandon();
    return Outcome::failure(running_->droppedError(), reply);
  }
  if (reply.failure()) return Outcome::refused(reply);
  return Outcome::failure(socketError(err));
}

Outcome Ftp::pump(Operation& op) {
  if (listener_.valid())
    if (Outcome o = accept(); !o.ok()) return o;
  if (!data_.valid()) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  if (!buffer_) buffer_.reset(new char[kChunk]);
  Outcome o = op.sink() ? download(*op.sink()) : op.source() ? upload(*op.source()) : Outcome::success();
  data_.reset();
  return o;
}

namespace {

// Counts the bytes of a transfer and announces them a block at a time: the callers' progress counts
// notifications, so one per block of data rather than one per system call.
class BlockAnnouncer {
 public:
  BlockAnnouncer(const Notifier& notifier, DWORD status, const Canceller* cancel, size_t block)
      : notifier_(notifier), status_(status), cancel_(cancel), block_(block) {}
  void add(size_t n) {
    pending_ += n;
    if (pending_ >= block_) flush();
  }
  void flush() {
    if (pending_ == 0) return;
    notifier_.block(status_, static_cast<DWORD>(pending_), cancel_);
    announced_ += pending_;
    pending_ = 0;
  }
  size_t pending() const { return pending_; }
  uint64_t announced() const { return announced_; }
  uint64_t counted() const { return announced_ + pending_; }

 private:
  const Notifier& notifier_;
  DWORD status_;
  const Canceller* cancel_;
  size_t block_;
  size_t pending_ = 0;
  uint64_t announced_ = 0;
};

}  // namespace

Outcome Ftp::download(DataSink& sink) {
  char* buffer = buffer_.get();
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_RESPONSE_RECEIVED, cancel_, kBlock);
  bool watch = true;
  for (;;) {
    if (cancel_ && cancel_->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    // Small pieces, each written at once while still in the processor's cache; a block is announced
    // once kBlock bytes have come, or when the server pauses.
    ssize_t n = ::recv(data_.get(), buffer, kChunk, 0);
    if (n > 0) {
      if (Outcome o = sink.write(buffer, static_cast<size_t>(n)); !o.ok()) return o;
      blocks.add(static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      trace_.note("the data connection failed after " + std::to_string(blocks.counted()) + " bytes");
      return dataFailure(errno);
    }
    blocks.flush();
    bool controlReady = false;
    Wait w = waitFor(data_.get(), POLLIN, Clock::now() + params_.timeouts.data, cancel_,
                     watch ? control_->fd() : -1, &controlReady);
    if (w != Wait::Ready) {
      if (w == Wait::TimedOut)
        trace_.note("no data for too long after " + std::to_string(blocks.announced()) + " bytes");
      return fromWait(w);
    }
    if (controlReady)
      if (auto stop = controlDuringData(*running_, watch)) return std::move(*stop);
  }
  blocks.flush();
  if (Outcome o = sink.finish(); !o.ok()) return o;
  trace_.note("received " + std::to_string(blocks.announced()) + " bytes");
  return Outcome::success();
}

Outcome Ftp::sendFile(int file, bool& unsupported) {
  unsupported = false;
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_REQUEST_SENT, cancel_, kBlock);
  bool watch = true;
  for (;;) {
    if (cancel_ && cancel_->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    ssize_t n = ::sendfile(data_.get(), file, nullptr, kBlock - blocks.pending());
    if (n > 0) {
      blocks.add(static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if ((errno == EINVAL || errno == ENOSYS) && blocks.counted() == 0) {
      unsupported = true;  // a file the kernel cannot send from: copy it instead
      return Outcome::success();
    }
    if (errno == EIO) return Outcome::failure(ERROR_READ_FAULT);
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      trace_.note("the data connection failed after " + std::to_string(blocks.counted()) + " bytes");
      return dataFailure(errno);
    }
    blocks.flush();
    bool controlReady = false;
    Wait w = waitFor(data_.get(), POLLOUT, Clock::now() + params_.timeouts.data, cancel_,
                     watch ? control_->fd() : -1, &controlReady);
    if (w != Wait::Ready) return fromWait(w);
    if (controlReady)
      if (auto stop = controlDuringData(*running_, watch)) return std::move(*stop);
  }
  blocks.flush();
  trace_.note("sent " + std::to_string(blocks.announced()) + " bytes");
  return Outcome::success();
}

Outcome Ftp::upload(DataSource& source) {
  if (int file = source.descriptor(); file >= 0) {
    bool unsupported = false;
    Outcome o = sendFile(file, unsupported);
    if (!unsupported) return o;
  }
  char* buffer = buffer_.get();
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_REQUEST_SENT, cancel_, kBlock);
  bool watch = true;
  for (;;) {
    if (cancel_ && cancel_->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    size_t got = 0;
    if (Outcome o = source.read(buffer, kChunk, got); !o.ok()) return o;
    if (got == 0) break;
    size_t sent = 0;
    while (sent < got) {
      ssize_t n = ::send(data_.get(), buffer + sent, got - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        trace_.note("the data connection failed after " + std::to_string(blocks.counted() + sent) + " bytes");
        return dataFailure(errno);
      }
      bool controlReady = false;
      Wait w = waitFor(data_.get(), POLLOUT, Clock::now() + params_.timeouts.data, cancel_,
                       watch ? control_->fd() : -1, &controlReady);
      if (w != Wait::Ready) return fromWait(w);
      if (controlReady)
        if (auto stop = controlDuringData(*running_, watch)) return std::move(*stop);
    }
    blocks.add(got);
  }
  blocks.flush();
  trace_.note("sent " + std::to_string(blocks.announced()) + " bytes");
  return Outcome::success();
}

}  // namespace inet
