// What the library reads from the data of a notification. Every status callback of the library (the
// client's and the batch's) reads by this one rule: a value at the start of the data, no further than
// its own size, and only when the data is at least that long, whatever length the notification reports.
#pragma once

#include <cstdint>
#include <optional>

#include "inet/wininet.h"

namespace engine {

// The 32-bit byte count of REQUEST_SENT and RESPONSE_RECEIVED.
std::optional<DWORD> byteCountOf(const void* info, DWORD length);

// The new handle of HANDLE_CREATED: the first 32 bits of the data (the dwResult of the
// INTERNET_ASYNC_RESULT it carries; handles are 32-bit).
std::optional<std::uint32_t> createdHandleOf(const void* info, DWORD length);

// The INTERNET_ASYNC_RESULT of REQUEST_COMPLETE: dwResult and dwError, without the padding after them.
// A completion too short to say how it ended is taken as failed, never as done.
INTERNET_ASYNC_RESULT completionOf(const void* info, DWORD length);

}  // namespace engine
