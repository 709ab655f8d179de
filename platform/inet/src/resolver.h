// Name lookup that a closed handle can interrupt: the system's lookup cannot be stopped, so it runs on
// a thread of its own and the request stops waiting for it.
#pragma once

#include <string>
#include <vector>

#include "socket.h"

namespace inet {

// The addresses of host at port, IPv4 and IPv6, in the system's preferred order.
// Fails with ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_TIMEOUT or ERROR_INTERNET_OPERATION_CANCELLED.
Outcome resolve(const std::string& host, uint16_t port, Clock::time_point deadline, const Canceller* cancel,
                std::vector<Endpoint>& out);

}  // namespace inet
