// Which thread runs an entry point of the engine, said where it is declared and checked where it runs.
//
// Three kinds: the window's thread (MainThread: the client window's event loop, which starts every
// command), a delivery thread (the FTP layer's, which runs the status callback and so every step of a
// command after its start), and any thread. With no window (MainThread 0: a test without one) the
// threads cannot be told apart and every check holds.
//
// The checks are compiled in when NIMBO_THREAD_CHECKS is set (engine/CMakeLists.txt, on by default);
// a check that fails writes which function ran where and aborts.
#pragma once

namespace engine {

enum class Thread { Window, Delivery };

// Whether this thread is the window's; true while there is no window.
bool onWindowThread();
// Aborts, naming the function, when this thread is not of the expected kind.
void checkThread(Thread expected, const char* function);

}  // namespace engine

#if defined(NIMBO_THREAD_CHECKS) && NIMBO_THREAD_CHECKS
#define ENGINE_RUNS_ON(kind) ::engine::checkThread(::engine::Thread::kind, __func__)
#else
#define ENGINE_RUNS_ON(kind) ((void)0)
#endif
