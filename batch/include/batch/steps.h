// The batch's steps: connect, check, transfer, retry, finish, and the table that says which step a
// completion starts in each state. All of them are in steps.cpp.
//
// Every file is moved by two requests: a fresh connect, then the transfer on the connection that
// connect created. A completion reaches the table from one of two sources (Source below): the FTP
// layer's REQUEST_COMPLETE through the status callback, or one the batch makes up for a request that
// ended at once, so that no completion will come from the layer. Either way it arrives inside a
// Run::Step, never two at once, and only the request in flight may move the batch.
//
// A request that fails is not reported: the batch connects again and carries on. A failed transfer
// thereby counts as done and the batch goes on with the next entry; a failed connect is retried until
// one succeeds or the user closes the window, after a pause that grows with each failure in a row.
#pragma once

#include <cstdint>

#include "batch/run.h"
#include "inet/wininet.h"

namespace ui {
class Window;
}

namespace batch {

// Connect: issues the batch's next connect (the body of RUNINTERNETCONNECT, inside a Step).
void issueConnect();

// Check, upload (window's thread, before the first connect): marks which files exist locally and
// how large they are, then connects for the first upload.
void checkLocalFiles(ui::Window& window);
// Check, download (the body of CHECKFILESONSERVER, inside a Step): every entry looked up over a
// synchronous session, then a fresh asynchronous session and the connect for the first download.
void checkFilesOnServer();

// Transfer: the next entry over the connection just made.
void putNextFile();
void getNextFile();

// A REQUEST_COMPLETE, from either source (the FTP layer's, through the status callback on a delivery
// thread, or one the batch made up for a request that ended when it was issued, on the retry thread):
// the table's step for the state, or on an error the retry. False on the error path, which leaves
// status zone 1 as it was.
bool requestCompleted(Run::Request kind, const INTERNET_ASYNC_RESULT& result);

// Retry: the HANDLE_CLOSING of a connection; when it is the one the next connect waits for, that
// connect is issued now.
void connectionClosed(uint32_t connection);
// Closes a connection and counts it as closing until its HANDLE_CLOSING comes (End batch waits for
// that). False when it could not be closed (it was gone already).
bool closeConnection(uint32_t connection);

// Finish: state 1, the bar at 0, "Finished".
void finishBatch();

}  // namespace batch
