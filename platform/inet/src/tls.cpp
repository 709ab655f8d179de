#include "tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <filesystem>

#include "trust_question.h"
#include "trust_store.h"

namespace inet {
namespace {

std::mutex& settingsMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::filesystem::path& extraAuthorities() {
  static auto* p = new std::filesystem::path;
  return *p;
}

// Where a stream keeps itself on its SSL, for the verification callback.
int streamIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}
int contextIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

bool isAddress(const std::string& host) {
  unsigned char buffer[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The socket under a stream: send() without SIGPIPE (a library must not kill its process because a
// server hung up), and the first bytes a server sends kept, so that a failed handshake can say what
// came instead of TLS (an FTP server's "220" in plain text, typically).
struct Wire {
  int fd;
  std::string* firstBytes;  // null once the handshake is done
};

int wireWrite(BIO* bio, const char* data, int size) {
  auto* wire = static_cast<Wire*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::send(wire->fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int wireRead(BIO* bio, char* data, int size) {
  auto* wire = static_cast<Wire*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::recv(wire->fd, data, static_cast<size_t>(size), 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(bio);
  if (n > 0 && wire->firstBytes && wire->firstBytes->size() < 512)
    wire->firstBytes->append(data, std::min<size_t>(static_cast<size_t>(n), 512 - wire->firstBytes->size()));
  if (n == 0) errno = 0;  // the end of the connection, not an error of the socket
  return static_cast<int>(n);
}

long wireControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int wireDestroy(BIO* bio) {
  delete static_cast<Wire*>(BIO_get_data(bio));
  BIO_set_data(bio, nullptr);
  return 1;
}

const BIO_METHOD* wireMethod() {
  static const BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "nimbo socket");
    BIO_meth_set_write(m, wireWrite);
    BIO_meth_set_read(m, wireRead);
    BIO_meth_set_ctrl(m, wireControl);
    BIO_meth_set_destroy(m, wireDestroy);
    return m;
  }();
  return method;
}

// Text where TLS was expected: printable lines, as a server's reply would be.
bool looksLikePlainText(const std::string& bytes) {
  if (bytes.size() < 3) return false;
  for (unsigned char c : bytes)
    if ((c < 0x20 || c > 0x7e) && c != '\r' && c != '\n' && c != '\t') return false;
  return true;
}

std::string openSslError() {
  const unsigned long e = ERR_peek_last_error();
  if (e == 0) return "no detail";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

}  // namespace

void setExtraAuthorities(std::filesystem::path pemFile) {
  std::lock_guard lock(settingsMutex());
  extraAuthorities() = std::move(pemFile);
}

// ---- TlsContext ----

std::shared_ptr<TlsContext> TlsContext::make(std::string host, uint16_t port) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) return nullptr;
  std::shared_ptr<TlsContext> context(new TlsContext(ctx, std::move(host), port));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // Writes may finish in part (the socket is non-blocking) and be retried from another place in the
  // same buffer.
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Problems are collected, not fatal, so that the user's trust can overrule them after the handshake.
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &TlsStream::onVerify);
  SSL_CTX_set_default_verify_paths(ctx);
  std::filesystem::path extra;
  {
    std::lock_guard lock(settingsMutex());
    extra = extraAuthorities();
  }
  if (!extra.empty()) SSL_CTX_load_verify_locations(ctx, extra.c_str(), nullptr);
  // Sessions are kept here, not in OpenSSL's cache, one FTP session's apart from another's.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_set_ex_data(ctx, contextIndex(), context.get());
  SSL_CTX_sess_set_new_cb(ctx, &TlsContext::onNewSession);
  return context;
}

TlsContext::TlsContext(SSL_CTX* ctx, std::string host, uint16_t port)
    : ctx_(ctx), host_(std::move(host)), port_(port) {}

TlsContext::~TlsContext() {
  for (SSL_SESSION* s : fresh_) SSL_SESSION_free(s);
  if (lastTaken_) SSL_SESSION_free(lastTaken_);
  SSL_CTX_free(ctx_);
}

int TlsContext::onNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* self = static_cast<TlsContext*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), contextIndex()));
  if (!self) return 0;
  std::lock_guard lock(self->mutex_);
  self->fresh_.push_back(session);
  if (self->fresh_.size() > 4) {
    SSL_SESSION_free(self->fresh_.front());
    self->fresh_.erase(self->fresh_.begin());
  }
  return 1;  // ours now
}

SSL_SESSION* TlsContext::takeResumable() {
  std::lock_guard lock(mutex_);
  if (!fresh_.empty()) {
    if (lastTaken_) SSL_SESSION_free(lastTaken_);
    lastTaken_ = fresh_.back();
    fresh_.pop_back();
  }
  if (lastTaken_) SSL_SESSION_up_ref(lastTaken_);
  return lastTaken_;
}

// ---- TlsStream ----

TlsStream::TlsStream(std::shared_ptr<TlsContext> context, int fd, Role role)
    : context_(std::move(context)), fd_(fd), role_(role) {
  ssl_ = SSL_new(context_->get());
  if (!ssl_) return;
  SSL_set_ex_data(ssl_, streamIndex(), this);
  BIO* wire = BIO_new(wireMethod());
  if (!wire) {
    SSL_free(ssl_);
    ssl_ = nullptr;
    return;
  }
  BIO_set_data(wire, new Wire{fd_, &firstBytes_});
  BIO_set_init(wire, 1);
  SSL_set_bio(ssl_, wire, wire);
  const std::string& host = context_->host();
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (isAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    SSL_set_tlsext_host_name(ssl_, host.c_str());  // servers with several names pick the certificate
  }
  if (role_ == Role::Data) {
    if (SSL_SESSION* session = context_->takeResumable()) {
      SSL_set_session(ssl_, session);
      SSL_SESSION_free(session);
    }
  }
}

TlsStream::~TlsStream() {
  if (ssl_) SSL_free(ssl_);
}

int TlsStream::onVerify(int, X509_STORE_CTX* store) {
  const int problem = X509_STORE_CTX_get_error(store);
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = ssl ? static_cast<TlsStream*>(SSL_get_ex_data(ssl, streamIndex())) : nullptr;
  if (problem != X509_V_OK && self) self->verdict_.problems.push_back(problem);
  return 1;  // go on: the verdict is judged once the handshake is done
}

Outcome TlsStream::failed(const char* during, const Trace& trace) {
  std::string why = openSslError();
  ERR_clear_error();
  if (looksLikePlainText(firstBytes_)) {
    // TLS read only a record header's worth: the rest of the server's line is on its way or there.
    const Clock::time_point until = Clock::now() + Millis(200);
    char more[256];
    while (firstBytes_.size() < 512 && firstBytes_.find('\n') == std::string::npos) {
      const ssize_t n = ::recv(fd_, more, std::min(sizeof more, 512 - firstBytes_.size()), 0);
      if (n > 0) {
        firstBytes_.append(more, static_cast<size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
      if (waitFor(fd_, POLLIN, until, nullptr) != Wait::Ready) break;
    }
    std::string text = firstBytes_.substr(0, firstBytes_.find_first_of("\r\n"));
    trace.note(std::string("the server answered in plain text where TLS was expected: ") + text);
    Reply reply;
    reply.text = text;
    return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, reply);
  }
  trace.note(std::string("TLS failed during the ") + during + ": " + why);
  return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

Outcome TlsStream::handshake(Clock::time_point deadline, const Canceller* cancel, const Trace& trace) {
  if (!ssl_) return Outcome::failure(ERROR_NOT_ENOUGH_MEMORY);
  struct StopRecording {
    SSL* ssl;
    ~StopRecording() { static_cast<Wire*>(BIO_get_data(SSL_get_rbio(ssl)))->firstBytes = nullptr; }
  } stopRecording{ssl_};
  ERR_clear_error();
  for (;;) {
    if (cancel && cancel->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
    const int r = SSL_connect(ssl_);
    if (r == 1) break;
    const int e = SSL_get_error(ssl_, r);
    short events = 0;
    if (e == SSL_ERROR_WANT_READ)
      events = POLLIN;
    else if (e == SSL_ERROR_WANT_WRITE)
      events = POLLOUT;
    else if (e == SSL_ERROR_SYSCALL && errno != 0 && errno != EPIPE && errno != ECONNRESET)
      return Outcome::failure(socketError(errno));
    else
      return failed("handshake", trace);
    const Wait w = waitFor(fd_, events, deadline, cancel);
    if (w != Wait::Ready) {
      if (w == Wait::TimedOut) trace.note("no TLS handshake in time");
      return waitOutcome(w);
    }
  }
  firstBytes_.clear();
  firstBytes_.shrink_to_fit();
  trace.note(summary());
  return Outcome::success();
}

Outcome TlsStream::acceptPeer(const TrustQuestion* question, const Canceller* cancel, const Trace& trace) {
  X509* peer = SSL_get0_peer_certificate(ssl_);
  if (!peer) {
    trace.note("the server showed no certificate");
    return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
  }
  CertificateFacts facts = certificateFacts(peer);
  if (verdict_.trusted()) {
    context_->setAccepted(facts.fingerprint, true);
    return Outcome::success();
  }
  facts.host = context_->host();
  facts.port = context_->port();
  facts.error = verdict_.error();
  facts.problem = verdict_.text();
  trace.note("the certificate is not trusted: " + facts.problem + " (" + facts.subject + ", issued by " +
             facts.issuer + ")");
  const TrustStore store = TrustStore::current();
  if (store.trusts(facts.host, facts.fingerprint)) {
    trace.note("the user trusts this certificate for " + facts.host);
    context_->setAccepted(facts.fingerprint);
    return Outcome::success();
  }
  if (question && *question && ask(*question, facts, cancel) == TrustDecision::TrustAndRemember) {
    if (Outcome o = store.remember(facts); !o.ok())
      trace.note("the trusted certificate could not be written to " + store.file().string());
    trace.note("the user chose to trust this certificate");
    context_->setAccepted(facts.fingerprint);
    return Outcome::success();
  }
  if (cancel && cancel->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
  return Outcome::failure(facts.error);
}

Outcome TlsStream::checkSamePeer(const Trace& trace) {
  const std::string shown = fingerprintOf(SSL_get0_peer_certificate(ssl_));
  if (!shown.empty() && shown == context_->accepted()) return Outcome::success();
  trace.note("the data connection showed another certificate than the control connection");
  return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

TlsStream::Result TlsStream::read(char* buffer, size_t size) {
  size_t got = 0;
  ERR_clear_error();
  if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return {Io::Done, got};
  return stalled(true);
}

TlsStream::Result TlsStream::write(const char* data, size_t size) {
  size_t sent = 0;
  ERR_clear_error();
  if (SSL_write_ex(ssl_, data, size, &sent) == 1) return {Io::Done, sent};
  return stalled(false);
}

TlsStream::Result TlsStream::stalled(bool reading) const {
  switch (SSL_get_error(ssl_, 0)) {
    case SSL_ERROR_WANT_READ:
      return {Io::WantRead};
    case SSL_ERROR_WANT_WRITE:
      return {Io::WantWrite};
    case SSL_ERROR_ZERO_RETURN:
      return {Io::Closed};
    case SSL_ERROR_SYSCALL:
      if (errno != 0) return {Io::Failed, 0, errno};
      return reading ? Result{Io::Cut} : Result{Io::Failed, 0, EPIPE};
    case SSL_ERROR_SSL:
      if (reading && ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return {Io::Cut};
      return {Io::Failed};
    default:
      return {Io::Failed};
  }
}

bool TlsStream::pending() const { return ssl_ && SSL_pending(ssl_) > 0; }

Outcome TlsStream::close(Clock::time_point deadline, const Canceller* cancel) {
  if (!ssl_) return Outcome::success();
  ERR_clear_error();
  // Ours first; it may have to wait for room in the socket.
  for (;;) {
    const int r = SSL_shutdown(ssl_);
    if (r == 1) return Outcome::success();  // the peer's close_notify had come already
    if (r == 0) break;
    const int e = SSL_get_error(ssl_, r);
    if (e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ)
      return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    if (Outcome o = waitOutcome(waitFor(fd_, e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, deadline, cancel));
        !o.ok())
      return o;
  }
  // Then the peer's answer, or the end of its side: read out, so that the socket is not closed on
  // unread bytes (which would reset the connection under data the server has yet to take).
  ::shutdown(fd_, SHUT_WR);
  char scrap[4096];
  for (;;) {
    const Result r = read(scrap, sizeof scrap);
    if (r.io == Io::Done) continue;
    if (r.io != Io::WantRead && r.io != Io::WantWrite) return Outcome::success();
    const Wait w = waitFor(fd_, r.io == Io::WantRead ? POLLIN : POLLOUT, deadline, cancel);
    if (w == Wait::TimedOut) return Outcome::success();
    if (w != Wait::Ready) return waitOutcome(w);
  }
}

bool TlsStream::resumed() const { return ssl_ && SSL_session_reused(ssl_) == 1; }

std::string TlsStream::summary() const {
  if (!ssl_) return {};
  std::string text = SSL_get_version(ssl_);
  if (text.rfind("TLSv", 0) == 0) text = "TLS " + text.substr(4);
  text += ", ";
  text += SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_));
  const std::string fingerprint = fingerprintOf(SSL_get0_peer_certificate(ssl_));
  if (!fingerprint.empty()) text += ", certificate SHA-256 " + fingerprint;
  if (resumed()) text += ", session resumed";
  return text;
}

}  // namespace inet
