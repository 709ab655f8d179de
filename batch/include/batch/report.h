// The batch's report for scripts: what became of every listed file, and a bound on failed connects.
//
// When the environment variable NIMBO_BATCH_REPORT names a file, a batch appends to it one JSON object
// per line for every entry of its list, in list order, as each one ends, then one summary line:
//
//   {"type":"file","name":"a.txt","direction":"download","remote":"/pub/a.txt","local":"/home/ann/a.txt",
//    "exists":true,"size":5,"bytes":5,"resumed_from":0,"seconds":0.012,"outcome":"done",
//    "reply_code":226,"reply":"226 Transfer complete.","error":0,"error_text":""}
//   {"type":"summary","direction":"download","server":"ftp.example.org","user":"ann",
//    "remote_directory":"/pub/","local_directory":"/home/ann/","files":1,"done":1,"missing":0,
//    "failed-transient":0,"failed-permanent":0,"local-error":0,"stopped":0,"bytes":5,"seconds":0.2}
//
// "exists" and "size" are what the check before the transfers found on the source side (null when a
// download's server check never ran); "bytes" counts the data moved, not the commands and replies
// around it; "reply_code" and "reply" are the server's last reply to the file's last request, "error"
// its WinINet error (0 for none). Every entry gets its line exactly once, also when the batch is
// stopped (the window closed): what had not ended then is "stopped". A line is written whole by one
// write, so a reader never sees half of one. Texts are JSON strings: control characters escaped, bytes
// that are not UTF-8 (a server's reply may hold any) replaced by U+FFFD. The password never appears:
// a server that echoes it in a reply has it masked.
//
// NIMBO_BATCH_CONNECT_ATTEMPTS=n (n >= 1) lets a connect fail at most n times in a row: then the batch
// gives up, the files not yet ended take that failure as their outcome, and the window closes. Unset,
// a failed connect is retried until the window is closed.
//
// Threads: begin() and end() run on the window's thread, the others inside the batch's steps (run.h);
// the report keeps its own lock besides.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "batch/run.h"
#include "inet/wininet.h"

namespace batch::report {

enum class Outcome { Done, Missing, FailedTransient, FailedPermanent, LocalError, Stopped };

// "done", "missing", "failed-transient", "failed-permanent", "local-error", "stopped".
std::string_view outcomeName(Outcome outcome);

// The class of a request that failed with `error`, the server's last reply code being `replyCode`:
// a 4xx reply, a dropped or reset connection, a timeout or a server that cannot be reached now is
// transient; a 5xx reply and the rest (an unknown host name, a certificate not trusted) permanent;
// an error of the local side (a Win32 error: a folder missing, no permission, a disk full, a name
// the layer will not send) local; a cancelled request stopped.
Outcome classify(std::uint32_t error, std::uint32_t replyCode);

// A JSON string literal of `text`, quotes included.
std::string jsonString(std::string_view text);

// At most `limit` bytes of `text`, cut where a UTF-8 character begins.
std::string_view cutText(std::string_view text, std::size_t limit);

// Where the download of entry `position` started in its file (0: at the beginning).
std::uint64_t resumedFrom(std::uint32_t position);

// Start batch: the list is built and the context filled (window's thread).
void begin(bool download);
// A connect is being issued for the next entry (inside a step).
void connecting();
// The server check has run: `lookedUp` when its own logon succeeded, so that what it marked is what
// the server said (inside a step).
void serverChecked(bool lookedUp);
// Every notification of the batch's callback, before the batch acts on it (inside a step). `handle`
// is 0 for a completion the batch made up itself.
void notified(std::uint32_t handle, DWORD status, const void* info, DWORD length, Run::Request kind);
// After a failed connect: whether another attempt may be made. Once it says no, the files not yet
// ended take that failure as theirs.
bool connectAttemptsLeft();
// End batch, before the list is emptied: the entries still open are written, then the summary.
void end();

}  // namespace batch::report
