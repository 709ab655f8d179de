// TLS under a channel: the Transport of a control or data connection once its handshake is done, and
// the wraps that put it there (the control connection after AUTH TLS, or at once for implicit TLS; each
// data connection once open, after PROT P).
#pragma once

#include <memory>

#include "inet/certificates.h"
#include "tls.h"
#include "trace.h"
#include "transport.h"

namespace inet {

class TlsTransport final : public Transport {
 public:
  // Over the connected transport's socket; the handshake is the wrap's to make.
  TlsTransport(const Transport& under, std::shared_ptr<TlsContext> context, TlsStream::Role role,
               const Trace& trace);

  TlsStream& stream() { return stream_; }
  // Takes the transport it stands on, which holds the socket, once the handshake is done.
  void adopt(std::unique_ptr<Transport> under) { under_ = std::move(under); }

  int fd() const override { return fd_; }
  Io read(char* buffer, size_t capacity) override;
  Io write(const char* data, size_t size) override;
  bool pending() const override { return stream_.pending(); }
  // close_notify, and the peer's awaited until the deadline.
  Outcome shutdown(Clock::time_point deadline, const Canceller* cancel) override;

 private:
  Io failed(const TlsStream::Result& r);

  int fd_;
  Trace trace_;
  TlsStream stream_;
  std::unique_ptr<Transport> under_;
};

// The control connection's: handshake, then the certificate verified, or trusted by the trust file or
// by the session's question (when there is one).
TransportWrap controlTls(std::shared_ptr<TlsContext> context, Trace trace,
                         std::shared_ptr<const TrustQuestion> question);
// A data connection's: handshake resuming the control connection's session, the same certificate.
TransportWrap dataTls(std::shared_ptr<TlsContext> context, Trace trace);

}  // namespace inet
