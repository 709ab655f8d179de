#include "resolver.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "threads.h"

namespace inet {
namespace {

bool lookUp(const std::string& host, uint16_t port, int flags, std::vector<Endpoint>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) return false;
  for (addrinfo* a = list; a; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    Endpoint e;
    std::memcpy(&e.storage, a->ai_addr, a->ai_addrlen);
    e.length = a->ai_addrlen;
    out.push_back(e);
  }
  ::freeaddrinfo(list);
  return !out.empty();
}

// Shared between the waiting request and the lookup thread, which may outlive the wait.
struct Lookup {
  std::mutex mutex;
  bool done = false;
  bool found = false;
  std::vector<Endpoint> endpoints;
  kernel::UniqueFd signal{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
};

}  // namespace

Outcome resolve(const std::string& host, uint16_t port, Clock::time_point deadline, const Canceller* cancel,
                std::vector<Endpoint>& out) {
  out.clear();
  if (host.empty() || host.find('\0') != std::string::npos)
    return Outcome::failure(ERROR_INTERNET_NAME_NOT_RESOLVED);
  // Numeric addresses need no lookup at all.
  if (lookUp(host, port, AI_NUMERICHOST, out)) return Outcome::success();

  auto lookup = std::make_shared<Lookup>();
  if (!lookup->signal.valid()) return Outcome::failure(ERROR_INTERNET_OUT_OF_HANDLES);
  bool started = spawn([lookup, host, port] {
    std::vector<Endpoint> found;
    bool ok = lookUp(host, port, AI_ADDRCONFIG, found);
    std::lock_guard lock(lookup->mutex);
    lookup->done = true;
    lookup->found = ok;
    lookup->endpoints = std::move(found);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(lookup->signal.get(), &one, sizeof one);
  });
  if (!started) return Outcome::failure(ERROR_INTERNET_ASYNC_THREAD_FAILED);
  if (Wait w = waitFor(lookup->signal.get(), POLLIN, deadline, cancel); w != Wait::Ready)
    return waitOutcome(w);
  std::lock_guard lock(lookup->mutex);
  if (!lookup->found) return Outcome::failure(ERROR_INTERNET_NAME_NOT_RESOLVED);
  out = lookup->endpoints;
  return Outcome::success();
}

}  // namespace inet
