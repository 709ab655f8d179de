// Sockets with deadlines: every wait also watches the request's canceller, so closing a handle ends
// a wait at once instead of at its timeout.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "cancel.h"
#include "kernel/fd.h"
#include "outcome.h"

namespace inet {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// An IPv4 or IPv6 address with its port.
struct Endpoint {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int family() const { return storage.ss_family; }
  uint16_t port() const;
  void setPort(uint16_t port);
  // The address as numeric text, without brackets or port.
  std::string host() const;
  bool sameHost(const Endpoint& other) const;
};

Endpoint localEndpoint(int fd);
Endpoint peerEndpoint(int fd);

enum class Wait { Ready, TimedOut, Cancelled, Failed };

// Waits until fd is ready for `events`. When `watch` is given, it is watched for input too and
// *watchReady tells whether it woke the wait.
Wait waitFor(int fd, short events, Clock::time_point deadline, const Canceller* cancel, int watch = -1,
             bool* watchReady = nullptr);

// What a wait that did not end Ready means for the request: ERROR_INTERNET_TIMEOUT,
// _OPERATION_CANCELLED or _INTERNAL_ERROR (success for Ready).
Outcome waitOutcome(Wait w);

// The WinINet error for a socket errno.
DWORD socketError(int err);

// A non-blocking TCP connection to `to`.
Outcome connectTo(const Endpoint& to, Clock::time_point deadline, const Canceller* cancel,
                  kernel::UniqueFd& out);

}  // namespace inet
