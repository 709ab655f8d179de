// The six remote commands: download, upload, create directory, remove directory, delete, rename.
//
// Each runs as two asynchronous requests on a connection of its own: the window fills the command's
// fields, sets its connecting state and issues a connect (the start functions below do all three);
// the status callback issues the FTP call when the connect completes (issueCommand) and ends the
// command when the call completes (completeCommand, or finishTransfer for transfers).
//
// The start functions assume the window has checked that the state is Idle and asked whatever it asks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "inet/wininet.h"
#include "nimbo.h"

namespace engine {

// A name placed in a remote directory: "/name" in the root, "dir/name" elsewhere.
std::string placeIn(std::string_view directory, std::string_view name);
// The remote path an upload sends: the bare name in the root, "dir/name" elsewhere.
std::string uploadTarget(std::string_view directory, std::string_view name);
// The directory that holds a remote path: "/a/b" gives "/a", "/a" gives "/".
std::string parentOf(std::string_view path);

// Get: the picked file node into the local directory (which ends in its separator).
void startGet(const DirectoryListRecord& picked, std::string_view localDirectory);
// Put: a local file of the local directory into RemoteDirectory. False when it was refused (the user
// has been told why), so that nothing is taken as sent.
bool startPut(std::string_view localName, std::int32_t size, std::string_view localDirectory);
// Create directory: the name placed in RemoteDirectory. An empty name starts nothing.
void startCreateDirectory(std::string_view name);
// Remove directory: the picked directory node.
void startRemoveDirectory(const DirectoryListRecord& picked);
// Delete file: the name placed in RemoteDirectory.
void startDeleteFile(std::string_view name);
// Rename file: both names placed in RemoteDirectory. An empty new name starts nothing.
void startRenameFile(std::string_view oldName, std::string_view newName);

// The issuing half, when the connect of the command in the given connecting state has completed.
void issueCommand(std::int16_t connectingState);
// The completion half of create, remove, delete and rename: the message when result is not 0, the
// state back to Idle, the affected directory listed again.
void completeCommand(std::int16_t runningState, DWORD_PTR result);

}  // namespace engine
