// Settings and probes of the FTP layer that C++ callers and tests use beside the WinINet calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "inet/wininet.h"

namespace inet {

// How long a connection waits before it gives up with ERROR_INTERNET_TIMEOUT.
struct Timeouts {
  std::chrono::milliseconds connect{30000};  // a TCP connection (control, data, gateway) to be made
  std::chrono::milliseconds reply{30000};    // each reply on the control connection
  std::chrono::milliseconds data{30000};  // data to move on a data connection, or the server to connect back
};

// Applies to connections made from now on (InternetConnectA reads it). Overrides the environment
// variable NIMBO_FTP_TIMEOUT_MS, which sets all three at once; both give way to 30 s when absent.
void setTimeouts(const Timeouts& timeouts);
// Back to the environment variable or the defaults.
void resetTimeouts();
// What a connection made now would use.
Timeouts currentTimeouts();

// Logged-in control connections kept between a handle's close and the next connect with the same
// logon, so that a command costs no new logon. The environment variable NIMBO_FTP_KEEP=0 turns it off
// when the setter has not been used.
struct Keeping {
  bool on = true;
  std::chrono::milliseconds idle{30000};    // an idle one goes, with QUIT, after this
  std::chrono::milliseconds orphaned{250};  // or this long after the last session closed
  int perServer = 2;                        // at most this many idle ones for one server
};
void setKeeping(const Keeping& keeping);
void resetKeeping();
Keeping currentKeeping();
// Says goodbye (QUIT) to every idle kept connection now; the process's end does it too.
void closeKeptConnections();
// How many wait idle now.
int keptConnections();

// Threads the layer runs at this moment (connection workers, notification delivery, name lookups, the
// timer of the kept connections). Every one of them ends by itself once its handles are closed and the
// kept connections have gone.
int activeThreads();
// Waits until at most `count` such threads run; false when `limit` passed first.
bool waitForThreads(int count, std::chrono::milliseconds limit);

// Where the latest FtpGetFileA on this connection began in its file: the byte it resumed at when it
// continued the partial file an earlier download left (REST), 0 when it started at the beginning, has
// not begun yet, or for anything but a connection handle. Set before the download's RETR goes out,
// so a status callback reads it from the notifications of the RETR exchange on.
uint64_t resumedFrom(HINTERNET connection);

// A note of the caller's own in the trace that NIMBO_FTP_TRACE names, stamped like the layer's notes
// and marked #0 (no connection), so that what the caller decided reads in order with the dialogue it
// caused. Nothing when no trace is written.
void traceNote(std::string_view text);

}  // namespace inet
