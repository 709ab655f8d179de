// TLS on the connections of one FTP session, on OpenSSL.
//
// TlsContext is the session's side: the client settings (TLS 1.2 at least, the system's authorities,
// the host name to check), the control connection's verified certificate and the TLS sessions that data
// connections resume (servers such as vsftpd refuse a data connection that does not: it proves that the
// same client holds both). Every session resumed descends from the control connection's handshake. TlsStream
// is one connection over a connected non-blocking socket: its handshake and close wait with deadlines and
// watch the request's canceller like every wait of the layer; reading and writing never wait, the channels
// above them do.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "inet/certificates.h"
#include "socket.h"
#include "tls_certificate.h"
#include "trace.h"

namespace inet {

class TlsContext {
 public:
  // Null when OpenSSL cannot make one (out of memory).
  static std::shared_ptr<TlsContext> make(std::string host, uint16_t port);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  SSL_CTX* get() const { return ctx_; }
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

  // The certificate the control connection accepted: every data connection must show the same one.
  // `verified`: by the authorities, not by the trust file or the user.
  void setAccepted(std::string fingerprint, bool verified = false) {
    accepted_ = std::move(fingerprint);
    verified_ = verified;
  }
  const std::string& accepted() const { return accepted_; }
  bool verified() const { return verified_; }

  // A session for a data connection to resume: the newest unused one the server gave, or, when none is
  // left, the last one used; null before the first. The caller owns the reference it gets.
  SSL_SESSION* takeResumable();

 private:
  TlsContext(SSL_CTX* ctx, std::string host, uint16_t port);
  static int onNewSession(SSL* ssl, SSL_SESSION* session);

  SSL_CTX* ctx_;
  std::string host_;
  uint16_t port_;
  std::string accepted_;
  bool verified_ = false;
  // A TLS 1.3 session resumes once: each connection brings new ones (the control connection after its
  // handshake, each data connection after its own), kept newest last, a few at most.
  std::mutex mutex_;
  std::vector<SSL_SESSION*> fresh_;
  SSL_SESSION* lastTaken_ = nullptr;
};

class TlsStream {
 public:
  enum class Role { Control, Data };
  // What a read or write did. Closed: the peer ended its side with a TLS close (close_notify). Cut:
  // the connection ended without one, so what came may not be all that was sent.
  enum class Io { Done, WantRead, WantWrite, Closed, Cut, Failed };
  struct Result {
    Io io;
    size_t bytes = 0;
    int sysErrno = 0;  // for Failed, when the socket failed
  };

  // Over fd, which stays the caller's and must outlive the stream.
  TlsStream(std::shared_ptr<TlsContext> context, int fd, Role role);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The handshake, a data connection resuming the control connection's session. Errors:
  // ERROR_INTERNET_TIMEOUT, _OPERATION_CANCELLED, a socket's error, ERROR_INTERNET_SECURITY_CHANNEL_ERROR
  // (the reply carries what a server sent in plain text where TLS was expected).
  Outcome handshake(Clock::time_point deadline, const Canceller* cancel, const Trace& trace);
  // After the control connection's handshake: the certificate verified, or in the trust file for
  // the host, or trusted by the session's question. Fails with the verification's error otherwise.
  Outcome acceptPeer(const TrustQuestion* question, const Canceller* cancel, const Trace& trace);
  // After a data connection's handshake: the same certificate as the control connection's.
  Outcome checkSamePeer(const Trace& trace);

  Result read(char* buffer, size_t size);
  Result write(const char* data, size_t size);
  // Decrypted bytes wait in the stream: a read returns them without the socket becoming readable.
  bool pending() const;
  // The TLS close: our close_notify, then the peer's (or its end of the connection) awaited until the
  // deadline. A peer that says nothing more is not an error once ours is sent.
  Outcome close(Clock::time_point deadline, const Canceller* cancel);

  // "TLS 1.3, TLS_AES_256_GCM_SHA384, certificate SHA-256 3F:A2:..." (and ", session resumed").
  std::string summary() const;
  bool resumed() const;

 private:
  friend class TlsContext;  // installs onVerify
  static int onVerify(int ok, X509_STORE_CTX* store);
  Outcome failed(const char* during, const Trace& trace);
  // What a read or write that moved nothing means.
  Result stalled(bool reading) const;

  std::shared_ptr<TlsContext> context_;
  int fd_;
  Role role_;
  SSL* ssl_ = nullptr;
  Verdict verdict_;
  std::string firstBytes_;  // what the server sent first, kept until the handshake is done
};

}  // namespace inet
