#include "engine/directory_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/client_session.h"
#include "engine/remote_commands.h"
#include "engine/status_callback.h"
#include "engine/texts.h"
#include "engine/thread_check.h"
#include "inet/wininet.h"
#include "ui/runtime.h"

namespace engine {

namespace {

using FullPath = decltype(DirectoryListRecord::FULLPATHNAME);

// The separator ranks below every character, so a path's extensions ("pub/x") come before its
// siblings that merely share its prefix ("pub.txt", "pub-old").
int rank(char c) { return c == '/' ? 0 : static_cast<unsigned char>(c) + 1; }

std::string_view relativeIn(std::string_view fullPath, std::size_t serverLength) {
  return fullPath.size() > serverLength ? fullPath.substr(serverLength) : std::string_view("/");
}

// The records hold the low 32 bits of a size, as their published layout says. A size that does not
// fit in them is kept here beside them: by name for the latest listing, by full path for the tree.
struct WholeSizes {
  std::mutex mutex;
  std::unordered_map<std::string, std::uint64_t> found;
  std::unordered_map<std::string, std::uint64_t> tree;
};

WholeSizes& wholeSizes() {
  static WholeSizes* sizes = new WholeSizes;  // never destroyed: a listing may outlive static destruction
  return *sizes;
}

bool fitsInRecord(std::uint64_t size) { return size <= std::numeric_limits<std::int32_t>::max(); }

// Writes a changed node back where the window picked it, or where it has moved to since.
void store(const DirectoryListRecord& node) {
  DirectoryList.locked([&](auto& tree) {
    const std::int32_t index = TreeIndex.load();
    const DirectoryListRecord* at = index > 0 ? tree.at(static_cast<std::size_t>(index)) : nullptr;
    if (at != nullptr && at->FULLPATHNAME == node.FULLPATHNAME) {
      tree.put(static_cast<std::size_t>(index), node);
      return;
    }
    DirectoryListRecord found;
    if (const std::size_t pos = tree.getByKey(node, treeOrder, found)) tree.put(pos, node);
  });
}

void appendFound(const WIN32_FIND_DATAA& data, ui::WindowRef window) {
  FoundFilesRecord entry;
  entry.FILENAME =
      ui::clip(std::string_view(data.cFileName, ::strnlen(data.cFileName, sizeof data.cFileName)));
  entry.ATTRIBUTE = data.dwFileAttributes;
  entry.SIZE = static_cast<std::int32_t>(data.nFileSizeLow);
  if (const std::uint64_t whole = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
      !fitsInRecord(whole)) {
    WholeSizes& sizes = wholeSizes();
    std::lock_guard lock(sizes.mutex);
    sizes.found[std::string(entry.FILENAME.view())] = whole;
  }
  FoundFiles.add(entry);
  ui::setStatus(window, 2, ui::cat("Retrieving ", entry.FILENAME.view(), " info"));
  ui::requestRedisplay(window);
}

}  // namespace

bool treeOrder(const DirectoryListRecord& a, const DirectoryListRecord& b) {
  return pathBefore(a.FULLPATHNAME.clip(), b.FULLPATHNAME.clip());
}

bool pathBefore(std::string_view x, std::string_view y) {
  const std::size_t n = std::min(x.size(), y.size());
  const auto differ = std::mismatch(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin());
  if (differ.first != x.begin() + static_cast<std::ptrdiff_t>(n))
    return rank(*differ.first) < rank(*differ.second);
  return x.size() < y.size();
}

std::string sessionServer() {
  DirectoryListRecord root;
  if (DirectoryList.get(1, root) && root.ICONFIELD == icon::Server)
    return std::string(root.FULLPATHNAME.clip());
  return serverName();
}

std::string relativePathOf(std::string_view fullPath) {
  return std::string(relativeIn(ui::clip(fullPath), sessionServer().size()));
}

std::string directoryOfRow(const DirectoryListRecord& row) {
  const std::string relative = relativePathOf(row.FULLPATHNAME.view());
  if (row.ATTRIBUTE == kDirectoryAttribute) return relative;
  // A file: its path less "/" and its name, or the root when nothing is left.
  const std::size_t name = row.NAME.clip().size();
  return relative.size() > name + 1 ? relative.substr(0, relative.size() - name - 1) : std::string("/");
}

namespace {

// A folder the user opened, with the records below it, kept while its parent is listed again.
struct OpenedFolder {
  DirectoryListRecord folder;
  std::vector<DirectoryListRecord> below;
};

// The opened folders of the node being listed again on this thread, put back by the listing's
// insertion, in the same step, so that nobody sees the tree without them.
thread_local std::vector<OpenedFolder> reopenAfterListing;

// Puts back the opened folders that the new listing holds as folders; the others went.
template <typename Tree>
void restoreOpened(Tree& tree, std::vector<OpenedFolder>& opened) {
  for (const OpenedFolder& o : opened) {
    DirectoryListRecord found;
    const std::size_t at = tree.getByKey(o.folder, treeOrder, found);
    if (at == 0 || found.ATTRIBUTE != kDirectoryAttribute) continue;
    tree.put(at, o.folder);
    for (const DirectoryListRecord& r : o.below) tree.addSorted(r, treeOrder);
  }
  opened.clear();
}

// The whole size of a listed entry, remembered for the tree node it becomes at `fullPath`.
std::uint64_t wholeSizeOf(const FoundFilesRecord& entry, const std::string& fullPath) {
  WholeSizes& sizes = wholeSizes();
  std::lock_guard lock(sizes.mutex);
  const auto found = sizes.found.find(std::string(entry.FILENAME.view()));
  if (found == sizes.found.end()) {
    sizes.tree.erase(fullPath);
    return static_cast<std::uint32_t>(entry.SIZE);
  }
  sizes.tree[fullPath] = found->second;
  return found->second;
}

}  // namespace

std::uint64_t wholeSize(const DirectoryListRecord& node) {
  WholeSizes& sizes = wholeSizes();
  std::lock_guard lock(sizes.mutex);
  const auto it = sizes.tree.find(std::string(node.FULLPATHNAME.view()));
  return it != sizes.tree.end() ? it->second : static_cast<std::uint32_t>(node.SIZE);
}

void insertListing(std::string_view parentPath) {
  const std::string parent(ui::clip(parentPath));
  const std::string server = serverName();
  const auto entries = FoundFiles.snapshot();
  DirectoryList.locked([&](auto& tree) {
    if (tree.count() == 0 && parent == server) {
      DirectoryListRecord root;
      root.NAME = server;
      root.FULLPATHNAME = server;
      root.ICONFIELD = icon::Server;
      root.TREELEVEL = 1;
      root.ATTRIBUTE = kDirectoryAttribute;
      root.SIZE = 0;
      root.WASENUMERATED = 0;
      tree.add(root);
      WholeSizes& sizes = wholeSizes();
      std::lock_guard lock(sizes.mutex);
      sizes.tree.clear();
      return;
    }
    // Only this file changes the tree, always in order; checking is far cheaper than sorting a
    // large tree again before every listing.
    bool sorted = true;
    for (std::size_t pos = 2; sorted && pos <= tree.count(); ++pos)
      sorted = !treeOrder(*tree.at(pos), *tree.at(pos - 1));
    if (!sorted) tree.sort(treeOrder);
    DirectoryListRecord probe, parentNode;
    probe.FULLPATHNAME = parent;
    // Entries of a node that is gone (the tree emptied meanwhile) have nowhere to go.
    if (tree.getByKey(probe, treeOrder, parentNode) == 0) return;
    const std::int32_t level = std::abs(parentNode.TREELEVEL) + 1;
    // In tree order, each entry lands right after the one before: one comparison tells so, where a
    // search of the whole tree took a dozen, and a listing in the server's own order (a hash's, for
    // pyftpdlib) no longer moves half a block of the tree for every entry.
    std::vector<std::pair<std::string, const FoundFilesRecord*>> placed;
    placed.reserve(entries.size());
    for (const FoundFilesRecord& entry : entries) {
      std::string fullPath = ui::cat(parent, "/", entry.FILENAME.clip());
      if (fullPath.size() <= FullPath::capacity) placed.emplace_back(std::move(fullPath), &entry);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& a, const auto& b) { return pathBefore(a.first, b.first); });
    DirectoryListRecord node;
    std::size_t pos = 0;
    for (const auto& [fullPath, entry] : placed) {
      node.ATTRIBUTE = static_cast<std::int32_t>(entry->ATTRIBUTE);
      node.TREELEVEL = level;
      node.ICONFIELD = node.ATTRIBUTE == kDirectoryAttribute ? icon::ClosedFolder : icon::File;
      node.NAME = entry->FILENAME.view();
      node.FULLPATHNAME = fullPath;
      node.SIZE = entry->SIZE;
      node.SIZESTR = sizeText(static_cast<std::int64_t>(wholeSizeOf(*entry, fullPath)));
      node.WASENUMERATED = 0;
      const DirectoryListRecord* next = pos != 0 ? tree.at(pos + 1) : nullptr;
      if (pos != 0 && (next == nullptr || pathBefore(fullPath, next->FULLPATHNAME.clip())))
        tree.addAt(++pos, node);
      else
        pos = tree.addSorted(node, treeOrder);
    }
    restoreOpened(tree, reopenAfterListing);
  });
}

void listRemoteDirectory() {
  const ui::WindowRef window = ui::windowOf(MainThread.load());
  ui::setCursor(ui::IDC_CROSS);
  const std::string server = sessionServer();
  ui::setStatus(window, 3, "Retrieving directory tree");
  if (const std::uint32_t previous = hOpen.exchange(0)) InternetCloseHandle(INET_HANDLE(previous));
  ui::setStatus(window, 0, "Connecting to " + server);

  const std::uint32_t session = openInternet(0);
  hOpen = session;
  ui::requestRedisplay(window);
  const auto user = UserName.get();
  const auto password = Password.get();
  HINTERNET connection =
      InternetConnectA(INET_HANDLE(session), server.c_str(), INTERNET_INVALID_PORT_NUMBER, user.c_str(),
                       password.c_str(), INTERNET_SERVICE_FTP, ConnectFlags.load(), 0);
  hConnection = INET_HANDLE_ID(connection);
  FoundFiles.free();
  {
    WholeSizes& sizes = wholeSizes();
    std::lock_guard lock(sizes.mutex);
    sizes.found.clear();
  }

  const std::string directory(ListDirectory.get().clip());
  if (directory == server) {
    ListParentPath = server;
    SearchPattern = "*.*";
  } else {
    SearchPattern = directory + "/*.*";
  }
  ui::setStatus(window, 0, "Enumerating remote directory");
  ui::requestRedisplay(window);

  WIN32_FIND_DATAA data{};
  // A connection that failed shows as an empty listing.
  if (HINTERNET find = FtpFindFirstFileA(connection, SearchPattern.get().c_str(), &data, 0, 0)) {
    appendFound(data, window);
    while (InternetFindNextFileA(find, &data)) appendFound(data, window);
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) extendedErrorBox(error, "InternetFindNextFile");
    InternetCloseHandle(find);
  }
  // Nothing else would close the listing's connection and session: each listing would leave a
  // logged-in connection open on the server.
  if (connection != nullptr) InternetCloseHandle(connection);
  std::uint32_t expected = INET_HANDLE_ID(connection);
  hConnection.compare_exchange_strong(expected, 0);
  if (session != 0) InternetCloseHandle(INET_HANDLE(session));

  insertListing(ListParentPath.get().view());

  const std::uint32_t asyncSession = openInternet(INTERNET_FLAG_ASYNC);
  hOpen = asyncSession;
  InternetSetStatusCallback(INET_HANDLE(asyncSession), statusCallback);

  ui::setStatus(window, 3, "");
  ui::setStatus(window, 0, "");
  ui::setStatus(window, 2, "");
  ui::restoreCursor();
}

void refreshRemoteNode() {
  std::vector<OpenedFolder> opened;
  const std::string directory(RemoteDirectory.get().clip());
  const std::size_t serverLength = sessionServer().size();
  std::string nodePath;
  const bool found = DirectoryList.locked([&](auto& tree) {
    const std::size_t count = tree.count();
    for (std::size_t pos = 1; pos <= count; ++pos) {
      DirectoryListRecord node = *tree.at(pos);
      if (node.ATTRIBUTE != kDirectoryAttribute ||
          relativeIn(node.FULLPATHNAME.clip(), serverLength) != directory)
        continue;
      TreeIndex = static_cast<std::int32_t>(pos);
      if (node.ICONFIELD == icon::ClosedFolder) {
        node.WASENUMERATED = 1;
        node.TREELEVEL = std::abs(node.TREELEVEL);
        node.ICONFIELD = icon::OpenFolder;
        tree.put(pos, node);
      }
      // The subtree is the run of deeper records that follows the node.
      const std::int32_t level = std::abs(node.TREELEVEL);
      std::size_t end = pos + 1;
      while (end <= count && std::abs(tree.at(end)->TREELEVEL) > level) ++end;
      // The folders below the node that the user has opened are kept with all they hold, to be put
      // back as they were when the new listing still has them.
      bool keeping = false;
      for (std::size_t k = pos + 1; k < end; ++k) {
        const DirectoryListRecord& r = *tree.at(k);
        if (std::abs(r.TREELEVEL) == level + 1) {
          keeping = r.ATTRIBUTE == kDirectoryAttribute && r.WASENUMERATED == 1;
          if (keeping) opened.push_back({r, {}});
        } else if (keeping) {
          opened.back().below.push_back(r);
        }
      }
      tree.delRange(pos + 1, end - pos - 1);
      nodePath = node.FULLPATHNAME.view();
      return true;
    }
    return false;
  });
  if (!found) return;
  ListParentPath = nodePath;
  ListDirectory = directory;
  reopenAfterListing = std::move(opened);
  listRemoteDirectory();
  reopenAfterListing.clear();  // a listing that inserted nothing (its node gone) puts nothing back
}

void nodeAction(const DirectoryListRecord& picked) {
  ENGINE_RUNS_ON(Window);
  DirectoryListRecord node = picked;
  const std::string server = sessionServer();
  const std::string_view fullPath = node.FULLPATHNAME.clip();
  const std::string relative(relativeIn(fullPath, server.size()));
  switch (node.ICONFIELD) {
    case icon::ClosedFolder:
      node.ICONFIELD = icon::OpenFolder;
      if (node.WASENUMERATED != 0) {
        node.TREELEVEL = std::abs(node.TREELEVEL);
        store(node);
        RemoteDirectory = relative;
      } else {
        node.WASENUMERATED = 1;
        store(node);
        listOpenedFolder(fullPath, relative);
      }
      break;
    case icon::OpenFolder:
      node.ICONFIELD = icon::ClosedFolder;
      node.TREELEVEL = -std::abs(node.TREELEVEL);
      store(node);
      RemoteDirectory = relative;
      break;
    case icon::File:
      RemoteDirectory = directoryOfRow(node);
      break;
    case icon::Server:
      RemoteDirectory = "/";
      break;
    default:
      break;
  }
}

}  // namespace engine
