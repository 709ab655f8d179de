// The batch's status callback and the steps it takes.
//
// Every file is moved by two requests: a fresh connect, then the transfer on the connection that
// connect created. The callback turns each notification into status text, counts the progress of the
// transfer in flight, and when a request completes moves the batch on: a finished connect starts the
// next transfer, a finished transfer starts the next connect, and after the last entry the batch
// finishes and closes its window.
//
// A request that fails is not reported: the batch connects again and carries on. A failed transfer
// thereby counts as done and the batch goes on with the next entry; a failed connect is retried until
// one succeeds or the user closes the window, after a pause that grows with each failure in a row.
// A request that fails at once (so that no completion will come) is handled as if it had completed
// with that error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "batch/run.h"
#include "inet/wininet.h"

namespace batch {

// The WinINet status callback of every asynchronous session of the batch.
void batchStatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                         LPVOID lpvStatusInformation, DWORD dwStatusInformationLength);

// The text a notification code sets, or nothing for a code the batch does not know.
std::optional<std::string_view> notificationText(DWORD code);

// Percent of a transfer: bytes × 100 ÷ size, 0 for size 0, and 100 at most (a file that grew while it
// was moved shows a full bar, not more). The size is the file's whole size.
int32_t percentOf(int64_t bytes, int64_t size);

// "Sent:" or "Received:" (the label without its trailing blanks), a blank, the count, " bytes."; for a
// download that resumed, " bytes (resumed at byte N)." instead.
std::string progressText(std::string_view label, int64_t bytes, uint64_t resumedFrom = 0);

// The callback's steps (they run inside a Run::Step).
void putNextFile();
void getNextFile();
void reportBatchProgress(DWORD bytes);
void finishBatch();

// Issues the batch's next connect (the body of RUNINTERNETCONNECT, inside a Step).
void issueConnect();
// The server check of a download (the body of CHECKFILESONSERVER, inside a Step): every entry looked
// up, then a fresh asynchronous session and the connect for the first download.
void checkFilesOnServer();
// A request that returned failure at once: its completion is made up and delivered from the retry
// thread, so that the batch moves on exactly as if the FTP layer had delivered it.
void completeAtOnce(Run::Request kind, DWORD result, DWORD error);
// Closes the connection of the request that just completed: each file has a connection of its own,
// and a long list must not hold one open per file until the batch ends. (After a finished transfer
// the next connect also waits until the connection has closed.)
void retireConnection();
// Closes a connection and counts it as closing until its HANDLE_CLOSING comes (End batch waits for
// that). False when it could not be closed (it was gone already).
bool closeConnection(uint32_t connection);

}  // namespace batch
