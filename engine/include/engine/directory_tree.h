// The remote directory tree: DirectoryList, grown lazily from one-directory listings in FoundFiles.
//
// Records are kept in tree order of their full paths (see treeOrder), so a directory's descendants
// follow it and a subtree is one run of records. A listing is synchronous and runs on the thread that
// asks for it: the window's when the user opens a folder, a delivery thread after a command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "nimbo.h"

namespace engine {

// Tree icons.
namespace icon {
constexpr std::int32_t OpenFolder = 1;
constexpr std::int32_t ClosedFolder = 2;
constexpr std::int32_t File = 3;
constexpr std::int32_t Server = 4;
}  // namespace icon

// The attribute that makes an entry a directory; any other value, even with this bit, is a file.
constexpr std::int32_t kDirectoryAttribute = 16;

// Ascending full paths, compared as byte strings in which "/" sorts before every other character:
// "srv/pub/a" comes before "srv/pub.txt", so the children of "srv/pub" follow it directly.
bool treeOrder(const DirectoryListRecord& a, const DirectoryListRecord& b);
bool pathBefore(std::string_view a, std::string_view b);  // the same order over paths without trailing blanks

// The server the tree was listed from: the root node's name, or the typed server name while there is
// no tree. The Server Name entry stays open while connected, so a name typed then must change neither
// where the session's commands go nor how its paths are read, until the next Connect.
std::string sessionServer();

// A node's path on the server: its full path less the session's server name ("/" for the root).
std::string relativePathOf(std::string_view fullPath);

// Any thread. The remote directory a row stands for: a folder's own path ("/" for the server's row),
// and for a file the folder that holds it ("/" when it lies in the root).
std::string directoryOfRow(const DirectoryListRecord& row);

// Any thread. Make root node / Insert listing. With an empty tree and the server name as parent: the root
// node. Otherwise every FoundFiles entry goes under the node whose full path is parentPath, closed and
// unlisted. Entries whose full path would not fit its field are left out, so that no node ever names
// a path other than its own.
void insertListing(std::string_view parentPath);
// A node's size in bytes: its record holds the low 32 bits, the listing brought all of them.
std::uint64_t wholeSize(const DirectoryListRecord& node);

// Any thread (the window's for an opened folder, a delivery thread after a command). Lists ListDirectory (the
// top directory when it equals the server name) into FoundFiles and inserts the entries under ListParentPath.
// Replaces hOpen with a new asynchronous session. The state is its caller's: the commands enter a busy state
// before and Idle after (remote_commands.h).
void listRemoteDirectory();

// Any thread, as the listing. Prunes the directory node of RemoteDirectory and lists it again. The folders
// below it that the user had opened come back as they were, with what they held, when the new listing still
// has them as folders. With no such node nothing is listed.
void refreshRemoteNode();

// Window's thread. A double-click on the picked node (TreeIndex set by the window): open, close, list the
// first time, and make its directory the current remote directory.
void nodeAction(const DirectoryListRecord& picked);

}  // namespace engine
