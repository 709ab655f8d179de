// The batch context: every field the batch transfer keeps, one set for the whole process.
//
// Who touches what. The window's thread fills the context while it prepares a batch (before the first
// connect is issued) and afterwards only reads what its window shows. From the first connect on, the
// status callback moves the batch, on the FTP layer's delivery threads and on the batch's retry
// thread, one step at a time (see run.h). What the window reads while the callback writes is an
// atomic, a Guarded text or the queue, so the window never sees half a value.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "inet/wininet.h"
#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/text.h"

namespace batch {

// The list as it is split: the first 1024 characters of the parameter.
using FileListText = ui::PText<1024>;
// A name holds whatever one item of the list can: the list is the batch's own, not exported, and a
// name cut short would be looked up and moved under a name the file does not have.
using FileNameText = ui::ZText<FileListText::capacity + 1>;
using DirectoryText = ui::ZText<260>;
// A directory and a name, and the double quotes a lookup puts around a path with a blank.
using PathText = ui::ZText<DirectoryText::capacity + FileNameText::capacity + 2 + 1>;

// One entry of TransferList: a file of the batch.
struct TransferRecord {
  FileNameText FILENAME;   // the item of the list whole, appended to both directories
  uint8_t FILEEXISTS = 0;  // 1 when found on the source side
  int64_t SIZE = 0;        // the size found, all 64 bits of it; 0 when not found
};

// Batch state codes. Exactly one request of the batch is in flight at a time.
enum : int16_t {
  StateLoaded = 0,
  StateFinished = 1,
  StateConnectingGet = 3,  // connecting for the next download
  StateGetting = 4,        // download in flight
  StateConnectingPut = 5,  // connecting for the next upload
  StatePutting = 6,        // upload in flight
  StateFirstConnect = 19,  // first connect of a download; its completion checks the server
};

// Set by the preparation on the window's thread, read-only while the batch runs.
extern ui::ZText<20> BatchUserName;
extern ui::ZText<20> BatchPassword;
extern ui::ZText<40> BatchAgentName;
extern std::atomic<uint32_t> BatchConnectFlags;
extern DirectoryText BatchRemoteDirectory;  // always ends in "/"
extern DirectoryText BatchLocalDirectory;   // always ends in "\"
extern FileListText BatchFileList;          // working copy of the list while it is split
extern ui::PText<256> BatchErrorText;       // why the Internet session could not be opened

// The entry being checked or transferred.
extern ui::Guarded<PathText> BatchRemotePath;  // shown after "Processing:"
extern ui::Guarded<PathText> BatchLocalPath;

extern ui::Queue<TransferRecord> TransferList;
// Counted wide: a list of 1024 characters can name more than 255 files, and an 8-bit position would
// wrap and silently skip them.
extern std::atomic<uint32_t> BatchPosition;  // entry in flight; 0 before the first transfer
extern std::atomic<uint32_t> BatchCount;
// Read anywhere; written only by setBatchState, so that every change of state is one line of code
// and one line of the trace.
class BatchStateCode {
 public:
  int16_t load() const { return value_.load(); }
  operator int16_t() const { return load(); }

 private:
  friend void setBatchState(int16_t to);
  std::atomic<int16_t> value_{StateLoaded};
};
extern BatchStateCode BatchState;
// The one writer of BatchState. The trace (NIMBO_BATCH_TRACE) gets "batch state <from> -> <to>".
void setBatchState(int16_t to);
// "First connect", "Connecting for Get", "Get in flight", ...; the number for a code not in the table.
std::string stateName(int16_t code);
extern std::atomic<uint32_t> hBatchFtp;  // connection of the latest HANDLE_CREATED
// Closes the handle a slot holds, if any, and leaves the slot at 0.
void closeHandleIn(std::atomic<uint32_t>& slot);

// Used by the local check (window's thread) and by the server check (callback), never at once.
extern WIN32_FIND_DATAA BatchFindData;
// The size the find data holds, both halves of it.
int64_t foundSize(const WIN32_FIND_DATAA& data);

extern ui::Guarded<ui::ZText<260>> BatchStatusText;    // latest notification text, kept between calls
extern ui::Guarded<ui::PText<20>> BatchProgressLabel;  // "Sent: " or "Received: "
// Bytes of the file in flight, counted in 64 bits so that a file past 2 GiB does not show a negative
// count.
extern std::atomic<int64_t> BatchBytes;
extern std::atomic<int64_t> BatchFileSize;  // FTPR.SIZE of the file in flight; base of the percentage
extern std::atomic<int32_t> BatchPercent;   // bound to the progress bar
// Where the download in flight began in its file: the byte at which it resumed the partial file an
// earlier download left, 0 when it started at the beginning (and for uploads). Set once the FTP layer
// has sent the REST; kept until the next entry starts.
extern std::atomic<uint64_t> BatchResumedFrom;

}  // namespace batch
