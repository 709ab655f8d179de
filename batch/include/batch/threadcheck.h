// Which thread runs a step of the batch, said where the step begins and checked there.
//
// Three kinds of thread move a batch: the window's thread (MainThread: UPLDNL_AS, Start batch, the
// local check, the first connect, End batch), the FTP layer's delivery threads (the status callback
// and what a completion starts: the server check, the transfers, the next connect, the finish), and
// the run's retry thread (paced reconnects, completions made up for requests that ended at once).
// Each step names the threads it may run on; with NIMBO_THREAD_CHECKS (on in the tree's builds,
// see batch/CMakeLists.txt) a step on any other thread stops the program with the step's name, and
// without it the check costs nothing. The trace (NIMBO_BATCH_TRACE) gets "@", the step and its thread.
#pragma once

#include <string_view>

namespace batch {

enum class Thread : unsigned { Window = 1, Delivery = 2, Retry = 4 };

constexpr unsigned operator|(Thread a, Thread b) { return unsigned(a) | unsigned(b); }
constexpr unsigned operator|(unsigned a, Thread b) { return a | unsigned(b); }

// The kind of the calling thread: the window's (MainThread), the run's retry thread, or else a
// delivery thread of the FTP layer.
Thread currentThread();
// "window", "delivery", "retry".
std::string_view threadName(Thread thread);

// The step `step` begins; it may run on the threads of `allowed` (a Thread or several joined by |).
void onThread(std::string_view step, unsigned allowed);
inline void onThread(std::string_view step, Thread allowed) { onThread(step, unsigned(allowed)); }
// The same check without the trace line, for what runs too often to be traced (each notification).
void checkThread(std::string_view what, unsigned allowed);
inline void checkThread(std::string_view what, Thread allowed) { checkThread(what, unsigned(allowed)); }

}  // namespace batch
