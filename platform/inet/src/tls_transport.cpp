#include "tls_transport.h"

#include <poll.h>

namespace inet {

TlsTransport::TlsTransport(const Transport& under, std::shared_ptr<TlsContext> context, TlsStream::Role role,
                           const Trace& trace)
    : fd_(under.fd()), trace_(trace), stream_(std::move(context), fd_, role) {}

Io TlsTransport::failed(const TlsStream::Result& r) {
  switch (r.io) {
    case TlsStream::Io::Closed:
      return Io::end();
    case TlsStream::Io::Cut:
      // Anyone on the path can end a TCP connection: only the server's TLS close says all came.
      trace_.note("the connection ended without a TLS close");
      return Io::failed(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    case TlsStream::Io::WantRead:
      return Io::again(POLLIN);
    case TlsStream::Io::WantWrite:
      return Io::again(POLLOUT);
    default:
      break;
  }
  if (r.sysErrno != 0) return Io::failed(socketError(r.sysErrno), r.sysErrno);
  return Io::failed(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
}

Io TlsTransport::read(char* buffer, size_t capacity) {
  const TlsStream::Result r = stream_.read(buffer, capacity);
  return r.io == TlsStream::Io::Done ? Io::moved(r.bytes) : failed(r);
}

Io TlsTransport::write(const char* data, size_t size) {
  const TlsStream::Result r = stream_.write(data, size);
  return r.io == TlsStream::Io::Done ? Io::moved(r.bytes) : failed(r);
}

Outcome TlsTransport::shutdown(Clock::time_point deadline, const Canceller* cancel) {
  return stream_.close(deadline, cancel);
}

namespace {

// Handshake and check over `transport`; on success the TLS transport takes its place. On failure the
// plain one stays, for the channel to close.
template <typename Check>
Outcome wrapWith(std::unique_ptr<Transport>& transport, std::shared_ptr<TlsContext> context,
                 TlsStream::Role role, const Trace& trace, Clock::time_point deadline,
                 const Canceller* cancel, Check check) {
  auto tls = std::make_unique<TlsTransport>(*transport, std::move(context), role, trace);
  if (Outcome o = tls->stream().handshake(deadline, cancel, trace); !o.ok()) return o;
  if (Outcome o = check(tls->stream()); !o.ok()) return o;
  tls->adopt(std::move(transport));
  transport = std::move(tls);
  return Outcome::success();
}

}  // namespace

TransportWrap controlTls(std::shared_ptr<TlsContext> context, Trace trace,
                         std::shared_ptr<const TrustQuestion> question) {
  return [context, trace, question](std::unique_ptr<Transport>& transport, Clock::time_point deadline,
                                    const Canceller* cancel) {
    return wrapWith(transport, context, TlsStream::Role::Control, trace, deadline, cancel,
                    [&](TlsStream& s) { return s.acceptPeer(question.get(), cancel, trace); });
  };
}

TransportWrap dataTls(std::shared_ptr<TlsContext> context, Trace trace) {
  return [context, trace](std::unique_ptr<Transport>& transport, Clock::time_point deadline,
                          const Canceller* cancel) {
    return wrapWith(transport, context, TlsStream::Role::Data, trace, deadline, cancel,
                    [&](TlsStream& s) { return s.checkSamePeer(trace); });
  };
}

}  // namespace inet
