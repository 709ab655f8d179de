/* nimbo: the FTP client library's public interface.
 *
 * Exported procedures (C linkage):
 *   CLIENT_AS            the interactive two-pane client window; returns when it closes
 *   UPLDNL_AS            batch upload or download of a comma-separated file list in a progress window
 *   RUNINTERNETCONNECT   the batch's connect step (meaningful only inside a batch)
 *   CHECKFILESONSERVER   the batch's server check (meaningful only inside a download batch)
 * Exported data: the WinINet handles, the server name, the latest remote listing and the remote tree,
 * the window-procedure codes, the window and thread the library's status output goes to.
 *
 * From C, the texts and handles read as plain fields; the queues and the guarded server name are
 * opaque (their layout is a C++ one). From C++, every exported datum is race-free to read from any
 * thread: numbers are atomics, the server name is guarded by its own lock, and the queues lock
 * themselves. */
#ifndef NIMBO_H
#define NIMBO_H

#include <stdint.h>

#define NIMBO_API __attribute__((visibility("default")))

#ifdef __cplusplus
#include <atomic>

#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/text.h"

/* A record of FoundFiles: one entry of the latest remote listing, in the order the server sent it. */
struct FoundFilesRecord {
  ui::ZText<80> FILENAME; /* name, at most 79 characters */
  uint32_t ATTRIBUTE;     /* find data attributes; exactly 16 for a directory */
  int32_t SIZE;           /* low 32 bits of the size */
};

/* A record of DirectoryList: one node of the remote tree, kept in FULLPATHNAME order. */
struct DirectoryListRecord {
  ui::ZText<260> NAME;         /* name shown; the server name for the root */
  int32_t ICONFIELD;           /* 1 open folder, 2 closed folder, 3 file, 4 server */
  int32_t TREELEVEL;           /* depth from 1; negative when collapsed */
  ui::PText<20> SIZESTR;       /* size text */
  int32_t SIZE;                /* low 32 bits of the size */
  int32_t ATTRIBUTE;           /* exactly 16 means a directory */
  ui::ZText<260> FULLPATHNAME; /* server name, then "/" and the names down to this node; the key */
  uint8_t WASENUMERATED;       /* 1 once the directory has been listed */
};

extern "C" {
NIMBO_API extern std::atomic<uint32_t> hOpen;
NIMBO_API extern std::atomic<uint32_t> hConnection;
NIMBO_API extern std::atomic<uint8_t> bActiveSession;
NIMBO_API extern ui::Guarded<ui::ZText<40>> ServerName;
NIMBO_API extern ui::Queue<FoundFilesRecord> FoundFiles;
NIMBO_API extern ui::Queue<DirectoryListRecord> DirectoryList;
NIMBO_API extern int32_t GlobalRequest;
NIMBO_API extern int32_t GlobalResponse;
NIMBO_API extern int32_t VCRRequest;
NIMBO_API extern std::atomic<uint32_t> MainWindow;
NIMBO_API extern std::atomic<uint32_t> MainThread;
NIMBO_API extern ui::ZText<20> NullString;
}
#else
/* C view: same symbols; the C++-only ones are opaque. */
struct nimbo_opaque;
NIMBO_API extern uint32_t hOpen;
NIMBO_API extern uint32_t hConnection;
NIMBO_API extern uint8_t bActiveSession;
NIMBO_API extern struct nimbo_opaque ServerName;
NIMBO_API extern struct nimbo_opaque FoundFiles;
NIMBO_API extern struct nimbo_opaque DirectoryList;
NIMBO_API extern int32_t GlobalRequest;
NIMBO_API extern int32_t GlobalResponse;
NIMBO_API extern int32_t VCRRequest;
NIMBO_API extern uint32_t MainWindow;
NIMBO_API extern uint32_t MainThread;
NIMBO_API extern char NullString[20];
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the interactive client window and returns when the user has closed it. */
NIMBO_API void CLIENT_AS(void);

/* The texts may carry trailing blanks; they stay the caller's. passive: not 0 for passive mode.
 * direction: 1 downloads, any other value uploads. Returns when the batch window has closed. */
NIMBO_API void UPLDNL_AS(const char* server, const char* userName, const char* password,
                         const char* remoteDirectory, const char* localDirectory, const char* fileList,
                         uint8_t passive, uint8_t direction);
NIMBO_API void RUNINTERNETCONNECT(void);
NIMBO_API void CHECKFILESONSERVER(void);

#ifdef __cplusplus
}
#endif

#endif /* NIMBO_H */
