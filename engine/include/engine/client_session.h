// The interactive client's session: its fields, the operation state codes and the operations that open,
// connect, disconnect and close the asynchronous Internet session.
//
// One set of fields for the whole process. The client window edits the connection fields and fills a
// command's paths; the status callback, on the FTP layer's delivery threads, reads them and advances the
// command. Numbers are atomics and texts are guarded, so the window may redisplay a field while the
// callback writes it. Exactly one command is in flight at a time: the window starts one only while
// OperationState is Idle, and the callback advances only the one in flight. Each field is defined
// here, once (an inline variable), not declared here and written out again elsewhere.
//
// The exported fields (hOpen, hConnection, bActiveSession, ServerName, FoundFiles, DirectoryList,
// MainWindow, MainThread, NullString) are declared in nimbo.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "inet/certificates.h"
#include "inet/wininet.h"
#include "nimbo.h"
#include "ui/guarded.h"
#include "ui/text.h"

namespace engine {

// Operation state: 1 idle, an odd code while connecting for a command, the next even code while the
// command's FTP call is in flight. A State is a code with the name the trace gives it; it reads as
// its code wherever a code is compared. Code 2 has three names, one for each thing it marks.
struct State {
  std::int16_t code;
  const char* name;
  constexpr operator std::int16_t() const { return code; }
};
namespace state {
inline constexpr State Loaded{0, "Loaded"};  // no command possible yet
inline constexpr State Idle{1, "Idle"};
// Code 2: connecting for the root listing of Connect; a folder opened by the user being listed; the
// remote directory of a finished command being listed again.
inline constexpr State ConnectConnecting{2, "Connecting for Connect"};
inline constexpr State FolderListing{2, "Listing an opened folder"};
inline constexpr State Relisting{2, "Listing after a command"};
inline constexpr State GetConnecting{3, "Connecting for Get"};
inline constexpr State GetRunning{4, "Get in flight"};
inline constexpr State PutConnecting{5, "Connecting for Put"};
inline constexpr State PutRunning{6, "Put in flight"};
inline constexpr State CreateConnecting{7, "Connecting for Create directory"};
inline constexpr State CreateRunning{8, "Create directory in flight"};
inline constexpr State RemoveConnecting{9, "Connecting for Remove directory"};
inline constexpr State RemoveRunning{10, "Remove directory in flight"};
inline constexpr State DeleteConnecting{11, "Connecting for Delete file"};
inline constexpr State DeleteRunning{12, "Delete file in flight"};
inline constexpr State RenameConnecting{13, "Connecting for Rename file"};
inline constexpr State RenameRunning{14, "Rename file in flight"};
}  // namespace state

// What a server name is when the user has typed none: the bundled demo server.
constexpr const char* kDefaultServerName = "127.0.0.1:2121";
constexpr const char* kAgentName = "orin wininet";

// Connection fields, edited in the client window.
inline ui::Guarded<ui::ZText<20>> UserName;
inline ui::Guarded<ui::ZText<20>> Password;
inline ui::Guarded<ui::ZText<40>> ProxyServer;
inline std::atomic<std::uint8_t> bProxyFromRegistry{0};
inline std::atomic<std::uint8_t> bPassive{1};
inline std::atomic<std::uint32_t> ConnectFlags{0};  // INTERNET_FLAG_PASSIVE or 0, fixed at Connect
inline std::atomic<std::int32_t> TransferType{
    FTP_TRANSFER_TYPE_BINARY};  // FTP_TRANSFER_TYPE_BINARY (2) or _ASCII (1)
inline ui::Guarded<ui::ZText<40>> AgentName;

// The command in flight. Read it freely; change it only through enter().
inline std::atomic<std::int16_t> OperationState{state::Loaded};
inline std::atomic<std::uint32_t> hFtp{0};  // connection of the command in flight (its HANDLE_CREATED)
inline std::atomic<std::uint8_t> bSessionOpen{0};
inline ui::Guarded<ui::ZText<260>> RemoteDirectory;  // "/" or "/a/b", relative to the server root
inline std::atomic<std::int64_t> TransferSize{0};    // bytes, the base of the percentage
inline ui::Guarded<ui::ZText<260>> RemoteTarget;
inline ui::Guarded<ui::ZText<260>> RenameSource;
inline ui::Guarded<ui::ZText<256>> LocalTarget;
inline ui::Guarded<ui::ZText<256>> LocalSource;
inline ui::Guarded<ui::ZText<256>> RemoteFileName;

// Transfer progress.
inline ui::Guarded<ui::PText<20>> ProgressLabel;  // "Received:" or "Sent:"
inline std::atomic<std::int32_t> ProgressPercent{0};
inline std::atomic<std::int64_t> ProgressTotal{0};  // bytes counted
inline std::atomic<std::int16_t> ProgressSkip{0};
inline std::atomic<std::uint8_t> bProgressStarted{0};
// Where the download in flight began in its file: the byte at which it resumed a partial file an
// earlier download left, 0 when it started at the beginning.
inline std::atomic<std::uint64_t> ResumedFrom{0};

// Working fields of the tree listing.
inline ui::Guarded<ui::ZText<260>> ListDirectory;   // directory to list, or ServerName for the top
inline ui::Guarded<ui::ZText<260>> ListParentPath;  // full path of the node the entries go under
inline ui::Guarded<ui::ZText<260>> SearchPattern;
inline std::atomic<std::int32_t> TreeIndex{0};  // position of the node being refreshed or picked

inline ui::Guarded<ui::PText<256>> ErrorText;  // text of the last error box

// What the engine asks of the client window. The window installs these when it opens; the engine
// lives without them (tests, the batch), so each may be empty.
struct WindowHooks {
  // Re-evaluate which controls are enabled. Called on the window's thread only.
  std::function<void()> refreshControls;
  // Read the local file list again (a download has ended). Called on a callback thread.
  std::function<void()> readLocalFiles;
  // A command has ended and the state is Idle again: ok after a finished Get, Put or remote command,
  // not ok after any failed request. Called on the thread that ended it, mostly a callback thread.
  std::function<void(bool ok)> commandEnded;
  // Asked when a server's certificate is not trusted, by every session the engine opens while these
  // hooks are installed (a session opened without one refuses such a certificate). Called on a
  // connection's thread, or on the window's own when a listing connects from there.
  inet::TrustQuestion trustQuestion;
};
// Any thread.
void installWindowHooks(WindowHooks hooks);
// The hooks, called where the engine needs them (on the threads named above); each does nothing while its
// hook is empty.
void refreshControlsHook();
void readLocalFilesHook();
void commandEndedHook(bool ok);

// Any thread. The one way the operation state changes: OperationState takes the code of `to`, and the change
// is written to the FTP trace (NIMBO_FTP_TRACE) by name, "operation state Connecting for Get -> Get in
// flight", between the dialogue lines that caused it.
void enter(const State& to);
// The state last entered, with its name (OperationState holds only its code).
const State& currentState();

// Window's thread. "Start Internet Session": a new asynchronous session with the status callback registered.
void openSession();
// Set while a command in flight is being stopped by the user; cleared by the next command.
inline std::atomic<bool> StopRequested{false};

// Window's thread. "Disonnect": the latest connection closed, the tree emptied; the session stays.
void disconnect();
// Window's thread (or any, once the window has gone). "Close Internet Session": connection and session
// closed, the tree emptied.
void closeSession();

// Any thread. The session handle for a listing or for the client: the access type follows the proxy fields;
// the window's trust question goes with it.
std::uint32_t openInternet(std::uint32_t flags);

// Any thread. The server name as the tree and the connects use it: without trailing blanks.
std::string serverName();

}  // namespace engine
