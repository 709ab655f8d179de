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

#include "inet/wininet.h"

namespace engine {

// Delivery thread.
void statusCallback(HINTERNET hInternet, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength);

// Any thread. The status text of a notification code; empty for a code the client does not describe.
std::string_view statusTextOf(DWORD status);

// Delivery thread. One byte count of the transfer in flight. The first three counts of a transfer are the
// replies and commands that open it, not its data, and are passed over.
void progressStep(DWORD bytes);

}  // namespace engine
