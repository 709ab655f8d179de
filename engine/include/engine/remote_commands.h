// The client's commands, one table: Connect, List (an opened folder), Get, Put, Create directory,
// Remove directory, Delete file and Rename file, each with its states and the steps that move it.
//
// A command runs as two asynchronous requests on a connection of its own. Its start function (window's
// thread) fills its fields, enters its connecting state and issues the connect; when the connect
// completes (delivery thread) the table's FTP call is made in the running state, entered just before
// the call; when the call completes (delivery thread) the command ends, lists what it changed and the
// state is Idle again. Connect has no FTP call: its connect's completion lists the top directory. List
// runs its listing synchronously on the window's thread.
//
// The start functions assume the window has checked that the state is Idle and asked whatever it asks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/client_session.h"
#include "inet/wininet.h"
#include "nimbo.h"

namespace engine {

// A name placed in a remote directory: "/name" in the root, "dir/name" elsewhere.
std::string placeIn(std::string_view directory, std::string_view name);
// The remote path an upload sends: the bare name in the root, "dir/name" elsewhere.
std::string uploadTarget(std::string_view directory, std::string_view name);
// The directory that holds a remote path: "/a/b" gives "/a", "/a" gives "/".
std::string parentOf(std::string_view path);

// Window's thread. The Connect button: the root node, then a connect whose completion lists the top
// directory.
void connect();
// Window's thread. A folder the user opened for the first time: its listing, the state busy meanwhile.
void listOpenedFolder(std::string_view fullPath, std::string_view relativePath);
// Window's thread. Get: the picked file node into the local directory (which ends in its separator).
void startGet(const DirectoryListRecord& picked, std::string_view localDirectory);
// Window's thread. Put: a local file of the local directory into RemoteDirectory. False when it was
// refused (the user has been told why), so that nothing is taken as sent.
bool startPut(std::string_view localName, std::int32_t size, std::string_view localDirectory);
// Window's thread. Create directory: the name placed in RemoteDirectory. An empty name starts nothing.
void startCreateDirectory(std::string_view name);
// Window's thread. Remove directory: the picked directory node.
void startRemoveDirectory(const DirectoryListRecord& picked);
// Window's thread. Delete file: the name placed in RemoteDirectory.
void startDeleteFile(std::string_view name);
// Window's thread. Rename file: both names placed in RemoteDirectory. An empty new name starts nothing.
void startRenameFile(std::string_view oldName, std::string_view newName);

// Window's thread. A fresh connection for the command whose connecting state is set. False when the
// FTP layer refused at once; the failure has then been reported like a failed request and the state
// is Idle again.
bool issueConnect();

// Window's thread. The user stops the transfer in flight (a Get or Put, connecting or running): its
// connection is closed, which cancels it, and it ends with the status text "Transfer stopped" rather
// than an error box. A download's target stays as it was. False, and nothing done, when no transfer is
// in flight.
bool stopTransfer();
// Window's thread. The client window is going away: whatever command is in flight ends without a box,
// and the session is closed (Close session).
void endWithWindow();

// Delivery thread. A REQUEST_COMPLETE without error: the command in flight one step on.
void requestCompleted(const INTERNET_ASYNC_RESULT& result);

// Any thread. The end of a transfer: progress reset, "Finished". next is Idle, or Relisting when a
// listing of the remote directory follows at once, so that no command can start while it runs.
void finishTransfer(const State& next);

// Any thread. A request that failed: its error text in a box captioned "OrinFTP Client Error", the
// progress reset and the state back to Idle. Used for a REQUEST_COMPLETE with an error, and for a call
// the FTP layer refused at once (no REQUEST_COMPLETE will follow it).
void failRequest(DWORD error);

}  // namespace engine
