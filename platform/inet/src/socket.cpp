#include "socket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace inet {

uint16_t Endpoint::port() const {
  if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

void Endpoint::setPort(uint16_t port) {
  if (family() == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
}

std::string Endpoint::host() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text, sizeof text);
  else if (family() == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text, sizeof text);
  return text;
}

bool Endpoint::sameHost(const Endpoint& other) const {
  if (family() != other.family()) return false;
  if (family() == AF_INET6)
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr, 16) == 0;
  return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
         reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
}

Endpoint localEndpoint(int fd) {
  Endpoint e;
  e.length = sizeof e.storage;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&e.storage), &e.length) != 0) e.length = 0;
  return e;
}

Endpoint peerEndpoint(int fd) {
  Endpoint e;
  e.length = sizeof e.storage;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&e.storage), &e.length) != 0) e.length = 0;
  return e;
}

Wait waitFor(int fd, short events, Clock::time_point deadline, const Canceller* cancel, int watch,
             bool* watchReady) {
  if (watchReady) *watchReady = false;
  for (;;) {
    if (cancel && cancel->cancelled()) return Wait::Cancelled;
    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {fd, events, 0};
    int cancelAt = -1, watchAt = -1;
    if (cancel && cancel->fd() >= 0) {
      cancelAt = static_cast<int>(n);
      fds[n++] = {cancel->fd(), POLLIN, 0};
    }
    if (watch >= 0) {
      watchAt = static_cast<int>(n);
      fds[n++] = {watch, POLLIN, 0};
    }
    long long left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    if (left <= 0) return Wait::TimedOut;
    // Without an event descriptor the canceller is only a flag: look at it a few times a second.
    long long slice = (cancel && cancel->fd() < 0) ? 100 : (1LL << 30);
    int r = ::poll(fds, n, static_cast<int>(std::min(left, slice)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    if (r == 0) continue;
    if (cancelAt >= 0 && fds[cancelAt].revents) return Wait::Cancelled;
    bool woke = watchAt >= 0 && fds[watchAt].revents;
    if (watchReady) *watchReady = woke;
    if (fds[0].revents || woke) return Wait::Ready;
  }
}

DWORD socketError(int err) {
  switch (err) {
    case ECONNREFUSED:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case ETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case EHOSTUNREACH:
    case ENETUNREACH:
      return ERROR_INTERNET_SERVER_UNREACHABLE;
    case ENETDOWN:
      return ERROR_INTERNET_DISCONNECTED;
    case ECONNRESET:
    case EPIPE:
      return ERROR_INTERNET_CONNECTION_RESET;
    case ECONNABORTED:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return ERROR_INTERNET_OUT_OF_HANDLES;
    default:
      return ERROR_INTERNET_CANNOT_CONNECT;
  }
}

Outcome waitOutcome(Wait w) {
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

Outcome connectTo(const Endpoint& to, Clock::time_point deadline, const Canceller* cancel,
                  kernel::UniqueFd& out) {
  kernel::UniqueFd fd(::socket(to.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd.valid()) return Outcome::failure(socketError(errno));
  int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd.get(), to.address(), to.length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return Outcome::failure(socketError(errno));
    Wait w = waitFor(fd.get(), POLLOUT, deadline, cancel);
    if (w != Wait::Ready) return waitOutcome(w);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) return Outcome::failure(socketError(err));
  }
  out = std::move(fd);
  return Outcome::success();
}

}  // namespace inet
