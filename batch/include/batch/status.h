// The batch's output: the status zones of its window and, for users who must see why a file was
// passed over, a trace file.
//
// The batch writes zones 0, 1 and 2; its window's status bar has two (resources/windows/NIMBO007.json).
// Zones 0 and 2 share the left one, which shows the step ("Connecting to ...", "Download complete"),
// then the byte count of the transfer in flight, and "Finished" at the end; zone 1 has the right one,
// with the file being checked or moved and the latest notification. The two never compete for a zone
// in the middle of a transfer, where the count and the notifications change together. When the environment
// variable NIMBO_BATCH_TRACE names a file, every zone text and every check and failed request of a batch is
// also appended to it, one line each: the zone number, a tab and the text; "?", the path looked up, whether
// it was found and its size, tab-separated; or
// "!", a tab and what failed; "=", a tab and a change of the batch's state ("batch state Get in flight
// -> Connecting for Get"); "@", a step, a tab and the kind of thread it ran on ("transfer", "delivery")
// (tabs and line ends in a text written as \t, \r, \n). Failed files are otherwise passed over
// silently.
#pragma once

#include <cstdint>
#include <string_view>

namespace batch {

// Status zone `zone` of the batch window := text. Any thread.
void showStatus(int zone, std::string_view text);
// Lines for the trace only. Any thread.
void traceFailure(std::string_view what);
void traceCheck(std::string_view path, int exists, int64_t size);
// "=", a tab and a change of the batch's state.
void traceState(std::string_view change);
// "@", a tab, a step of the batch, a tab and the kind of thread it runs on.
void traceStep(std::string_view step, std::string_view thread);
// Whether a trace is being written (so that a failure is described only when someone will read it).
bool tracing();

// The trace of one batch: opened when the batch starts, closed when it ends (window's thread).
void openTrace();
void closeTrace();

}  // namespace batch
