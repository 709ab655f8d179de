// Closing handles. Closing a handle closes its children first; a handle with a request in flight ends
// that request (REQUEST_COMPLETE with ERROR_INTERNET_OPERATION_CANCELLED) before its HANDLE_CLOSING,
// which is always the last notification a handle gets.
#pragma once

#include <memory>

#include "handles.h"

namespace inet {

// InternetCloseHandle: h leaves the table at once. True when a request under h was still running.
bool closeHandle(const std::shared_ptr<Handle>& h);
// Sends h's HANDLE_CLOSING and detaches it from its parent; a closed root whose last child this was
// ends too.
void endHandle(const std::shared_ptr<Handle>& h);

}  // namespace inet
