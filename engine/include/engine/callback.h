// The interactive client's status callback: every notification of its asynchronous session becomes a
// line of status text, HANDLE_CREATED gives the command its connection, the byte counts of a transfer
// feed the progress display, and REQUEST_COMPLETE moves the command one step on (or reports its error).
//
// Runs on the FTP layer's delivery threads; notifications of one session arrive one at a time. It
// writes the window only through the runtime's any-thread operations on MainWindow, so a callback that
// arrives after the window has closed changes nothing there.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/session.h"
#include "inet/wininet.h"

namespace engine {

void statusCallback(HINTERNET hInternet, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength);

// The completion steps of a REQUEST_COMPLETE without error: the command in flight one step on.
void requestCompleted(const INTERNET_ASYNC_RESULT& result);

// The status text of a notification code; empty for a code the client does not describe.
std::string_view statusTextOf(DWORD status);

// One byte count of the transfer in flight. The first three counts of a transfer are the replies and
// commands that open it, not its data, and are passed over.
void progressStep(DWORD bytes);

// The end of a transfer: progress reset, "Finished". next is Idle, or Relisting when a listing of the
// remote directory follows at once, so that no command can start while it runs.
void finishTransfer(const State& next);

// A request that failed: its error text in a box captioned "OrinFTP Client Error", the progress reset
// and the state back to Idle. Used for a REQUEST_COMPLETE with an error, and for a call the FTP layer
// refused at once (no REQUEST_COMPLETE will follow it).
void failRequest(DWORD error);

}  // namespace engine
