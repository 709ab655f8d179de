#include "ftp.h"

#include <openssl/crypto.h>
#include <sys/socket.h>

#include <algorithm>

#include "keeping.h"
#include "logon.h"
#include "resolver.h"
#include "secure_logon.h"
#include "tls_transport.h"
#include "trust_store.h"

namespace inet {
namespace {

const Notifier kSilent;

// How long the reply owed to a command sent ahead is waited for once its data connection has failed.
// Servers mostly answer 425 at once; one that waits for the connection itself (vsftpd, a minute) is
// not waited for.
constexpr Millis kOwedReplyWait{2000};

}  // namespace

Ftp::Ftp(ConnectParams params)
    : params_(std::move(params)), key_(linkKey(params_)), server_(serverKey(params_)), notifier_(&kSilent) {
  dataPath_.passive = params_.passive;
}

void Ftp::forgetPassword() {
  OPENSSL_cleanse(params_.password.data(), params_.password.size());
  params_.password.clear();
}

bool Ftp::stillSound(std::string& why) {
  if (!control_ || data_) {
    why = "it was not idle";
    return false;
  }
  return control_->quiet(why);
}

bool Ftp::trustedWithoutAsking() const {
  return !tls_ || tls_->verified() || TrustStore::current().trusts(tls_->host(), tls_->accepted());
}

Ftp::~Ftp() = default;

void Ftp::bind(const Notifier* notifier, const Canceller* cancel) {
  notifier_ = notifier ? notifier : &kSilent;
  cancel_ = cancel;
  if (control_) control_->bind(notifier_, cancel_);
}

Reply Ftp::lastReply() const { return control_ ? control_->lastReply() : Reply{}; }

void Ftp::refreshTrace() {
  if (trace_.on() || !control_) return;
  trace_ = Trace::forConnection(traceId_);
  control_->setTrace(trace_);
}

Outcome Ftp::open(uint32_t connectionId) {
  traceId_ = connectionId;
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

  kernel::UniqueFd socket;
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
  control_ = std::make_unique<ControlChannel>(std::make_unique<TcpTransport>(std::move(socket)), trace_,
                                              params_.timeouts);
  control_->bind(notifier_, cancel_);

  // A TIS gateway takes the real server in the user name and relays the rest.
  std::string user = params_.user;
  if (viaGateway) {
    std::string target =
        params_.host.find(':') != std::string::npos ? "[" + params_.host + "]" : params_.host;
    user += "@" + target;
    if (params_.port != 21) user += ":" + std::to_string(params_.port);
  }
  Outcome o = Outcome::success();
  if (params_.tls != TlsMode::None) {
    o = logOnSecurely(user);
  } else {
    Greeting greeting;
    Logon logon(user, params_.password, features_);
    o = run(greeting);
    if (o.ok()) o = run(logon);
  }
  if (o.ok()) logonReply_ = lastReply();
  return o;
}

Outcome Ftp::logOnSecurely(const std::string& user) {
  tls_ = TlsContext::make(params_.host, params_.port);
  if (!tls_) return Outcome::failure(ERROR_NOT_ENOUGH_MEMORY);
  // Explicit TLS: the greeting and AUTH TLS in clear, then the handshake. Implicit: the handshake
  // first, and the greeting comes through it.
  Greeting greeting;
  const bool explicitTls = params_.tls == TlsMode::Explicit;
  if (explicitTls) {
    AuthTls auth;
    if (Outcome o = run(greeting); !o.ok()) return o;
    if (Outcome o = run(auth); !o.ok()) return o;
  }
  if (Outcome o = control_->secure(controlTls(tls_, trace_, params_.trustQuestion)); !o.ok()) return o;
  if (!explicitTls)
    if (Outcome o = run(greeting); !o.ok()) return o;
  Logon logon(user, params_.password, features_);
  if (Outcome o = run(logon); !o.ok()) return o;
  ProtectData protect;
  if (Outcome o = run(protect); !o.ok()) return o;
  secureData(dataTls(tls_, trace_));
  return Outcome::success();
}

void Ftp::close() {
  if (!control_) return;
  notifier_->status(INTERNET_STATUS_CLOSING_CONNECTION);
  data_.reset();
  control_->quit();
  control_->close();
  control_.reset();
  notifier_->status(INTERNET_STATUS_CONNECTION_CLOSED);
}

void Ftp::drop() {
  data_.reset();
  control_.reset();
}

Outcome Ftp::run(Operation& op) {
  if (!control_) return Outcome::failure(ERROR_FTP_DROPPED);
  Step step = op.start();
  for (;;) {
    switch (step.kind) {
      case Step::Kind::Send: {
        Outcome sent = control_->send(step.command);
        for (const Command& next : step.then)
          if (sent.ok()) sent = control_->send(next, true);
        if (!sent.ok()) {
          if (sent.error == ERROR_INTERNET_CONNECTION_ABORTED) sent.error = op.closedError();
          step = Step::done(std::move(sent));
          break;
        }
        step = receiveFor(op);
        break;
      }
      case Step::Kind::Known:
        control_->announce(step.command, step.answer);
        step = op.onReply(step.answer);
        break;
      case Step::Kind::AwaitReply:
        step = receiveFor(op);
        break;
      case Step::Kind::OpenPassive: {
        data_.emplace(*control_, op, params_.timeouts, cancel_, &dataWrap_);
        Outcome connected = data_->connect(step.port);
        if (!connected.ok() && op.sentAhead()) connected = settleSentAhead(op, std::move(connected));
        step = op.onDataReady(std::move(connected), Endpoint{});
        break;
      }
      case Step::Kind::Listen: {
        data_.emplace(*control_, op, params_.timeouts, cancel_, &dataWrap_);
        Endpoint listening;
        Outcome o = data_->listen(listening);
        step = op.onDataReady(std::move(o), listening);
        break;
      }
      case Step::Kind::Transfer:
        step = op.onDataDone(pump(op));
        break;
      case Step::Kind::Done:
        data_.reset();
        // A session whose dialogue is lost sends nothing more: every reply would answer the wrong command.
        if (step.outcome.error == ERROR_FTP_DROPPED) control_->abandon();
        return std::move(step.outcome);
    }
  }
}

Outcome Ftp::settleSentAhead(Operation& op, Outcome failed) {
  if (failed.error == ERROR_INTERNET_OPERATION_CANCELLED) {
    control_->abandon();
    return failed;
  }
  const Clock::time_point deadline = Clock::now() + std::min(params_.timeouts.reply, kOwedReplyWait);
  Reply reply;
  while (control_->owed() > 0) {
    if (Outcome o = control_->receive(reply, deadline); !o.ok()) {
      control_->abandon();
      trace_.note(
          "the data connection failed after its command went out, and no answer came: the session ends");
      return failed;
    }
    if (reply.code == 421) {
      control_->abandon();
      return Outcome::failure(op.droppedError(), reply);
    }
  }
  // The server's refusal is the caller's answer, and the dialogue is in step again.
  if (reply.failure()) {
    trace_.note("the data connection failed after its command went out; the server answered " +
                std::to_string(reply.code));
    return Outcome::refused(reply);
  }
  control_->abandon();
  trace_.note("the data connection failed after its command went out: the session ends");
  return failed;
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

Outcome Ftp::pump(Operation& op) {
  if (!data_) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  if (Outcome o = data_->open(); !o.ok()) return o;
  if (!buffer_) buffer_.reset(new char[kChunk]);
  Outcome o = op.sink() ? download(*op.sink()) : op.source() ? upload(*op.source()) : Outcome::success();
  // The server reads the end of an upload (and, secured, of a download) from the orderly close.
  if (o.ok()) o = data_->close();
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
    pending_ = 0;
  }
  size_t pending() const { return pending_; }

 private:
  const Notifier& notifier_;
  DWORD status_;
  const Canceller* cancel_;
  size_t block_;
  size_t pending_ = 0;
};

}  // namespace

Outcome Ftp::download(DataSink& sink) {
  DataChannel& data = *data_;
  char* buffer = buffer_.get();
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_RESPONSE_RECEIVED, cancel_, kBlock);
  for (;;) {
    if (data.cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    // Small pieces, each written at once while still in the processor's cache; a block is announced
    // once kBlock bytes have come, or when the server pauses.
    Io io = data.read(buffer, kChunk);
    if (io.status == Io::Status::Moved) {
      if (Outcome o = sink.write(buffer, io.bytes); !o.ok()) return o;
      blocks.add(io.bytes);
      continue;
    }
    if (io.status == Io::Status::End) break;
    if (io.status != Io::Status::Again) return data.failed(io);
    blocks.flush();
    if (Outcome o = data.await(io.events); !o.ok()) return o;
  }
  blocks.flush();
  if (Outcome o = sink.finish(); !o.ok()) return o;
  trace_.note("received " + std::to_string(data.moved()) + " bytes");
  return Outcome::success();
}

Outcome Ftp::sendFile(int file, bool& unsupported) {
  DataChannel& data = *data_;
  unsupported = false;
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_REQUEST_SENT, cancel_, kBlock);
  for (;;) {
    if (data.cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    Io io = data.sendFile(file, kBlock - blocks.pending());
    if (io.status == Io::Status::Moved) {
      blocks.add(io.bytes);
      continue;
    }
    if (io.status == Io::Status::End) break;
    if (io.status == Io::Status::Unsupported && data.moved() == 0) {
      unsupported = true;  // a file the kernel cannot send from, or a transport that must see the bytes
      return Outcome::success();
    }
    if (io.status == Io::Status::Failed && io.error == ERROR_READ_FAULT) return Outcome::failure(io.error);
    if (io.status != Io::Status::Again) return data.failed(io);
    blocks.flush();
    if (Outcome o = data.await(io.events); !o.ok()) return o;
  }
  blocks.flush();
  trace_.note("sent " + std::to_string(data.moved()) + " bytes");
  return Outcome::success();
}

Outcome Ftp::upload(DataSource& source) {
  if (int file = source.descriptor(); file >= 0) {
    bool unsupported = false;
    Outcome o = sendFile(file, unsupported);
    if (!unsupported) return o;
  }
  DataChannel& data = *data_;
  char* buffer = buffer_.get();
  BlockAnnouncer blocks(*notifier_, INTERNET_STATUS_REQUEST_SENT, cancel_, kBlock);
  for (;;) {
    if (data.cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    size_t got = 0;
    if (Outcome o = source.read(buffer, kChunk, got); !o.ok()) return o;
    if (got == 0) break;
    if (Outcome o = data.writeAll(buffer, got); !o.ok()) return o;
    blocks.add(got);
  }
  blocks.flush();
  trace_.note("sent " + std::to_string(data.moved()) + " bytes");
  return Outcome::success();
}

}  // namespace inet
