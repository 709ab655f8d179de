// How a transfer's progress shows, in the client window and in the batch window alike: the bar's
// percent and status zone 2's text. Which notifications count as bytes is each window's own rule: the
// client passes over the first three of a transfer and counts the rest (status_callback.cpp), the batch
// counts every notification that carries the file's own bytes (batch/batchcallback.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

// Percent of a transfer: done × 100 ÷ size, 0 for size 0, and 100 at most (a file that grew while it
// was moved, or a count that took in the closing reply, shows a full bar, not more). The size is the
// file's whole size; for a resumed download `done` includes what the partial file already held.
std::int32_t percentOf(std::int64_t done, std::int64_t size);

// "Sent:" or "Received:" (the label without its trailing blanks), a blank, the count, " bytes."; for a
// download that resumed, " bytes (resumed at byte N)." instead.
std::string progressText(std::string_view label, std::int64_t bytes, std::uint64_t resumedFrom = 0);

}  // namespace engine
