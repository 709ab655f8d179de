// FindFirstFileA / FindNextFileA / FindClose over a host directory.
//
// A pattern with wildcards reads its directory once, keeps the matching names in name order (".." and
// "." first, as Windows gives them outside a drive's root) and fills each entry's data only when it is
// handed out, so an early FindClose in a folder of thousands costs little. A pattern without wildcards
// looks that one entry up. Names holding "\" are not listed: no Windows path could name them again, and
// one would lead to a different file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drives.h"
#include "kernel/errors.h"
#include "kernel/fd.h"
#include "kernel/names.h"
#include "kernel/winbase.h"
#include "paths_internal.h"

namespace {

constexpr std::uint64_t kUnixEpochInTicks = 116444736000000000ULL;  // 1970-01-01 in 100 ns since 1601

FILETIME fileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
  // Times before 1601 cannot be told; they become its first tick.
  const std::int64_t ticks =
      seconds * 10'000'000 + nanoseconds / 100 + static_cast<std::int64_t>(kUnixEpochInTicks);
  const std::uint64_t value = ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
  return {static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(value >> 32)};
}

// The find data of one entry of an open directory; false when it has gone meanwhile.
bool describe(int dirFd, const std::string& name, WIN32_FIND_DATAA& data) {
  struct statx sx {};
  const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
  bool dangling = false;
  if (::statx(dirFd, name.c_str(), AT_STATX_SYNC_AS_STAT, mask, &sx) != 0) {
    // A link that leads nowhere is still an entry of the folder.
    if (::statx(dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, mask, &sx) != 0)
      return false;
    dangling = true;
  }
  std::memset(&data, 0, sizeof data);
  const mode_t mode = sx.stx_mode;
  if (S_ISDIR(mode) && !dangling) {
    data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    DWORD attributes = 0;
    if (!name.empty() && name.front() == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
    // Pipes, sockets, devices and broken links are no files to transfer: reading a pipe would hang.
    if (!S_ISREG(mode) || dangling) attributes |= FILE_ATTRIBUTE_SYSTEM;
    if (!dangling && ::faccessat(dirFd, name.c_str(), W_OK, AT_EACCESS) != 0)
      attributes |= FILE_ATTRIBUTE_READONLY;
    data.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (S_ISREG(mode) && !dangling) {
      data.nFileSizeHigh = static_cast<DWORD>(sx.stx_size >> 32);
      data.nFileSizeLow = static_cast<DWORD>(sx.stx_size & 0xFFFFFFFF);
    }
  }
  const auto& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  data.ftCreationTime = fileTime(born.tv_sec, born.tv_nsec);
  data.ftLastAccessTime = fileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  data.ftLastWriteTime = fileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  // Host names are at most 255 bytes; cFileName holds 259 and its zero.
  const std::size_t length = std::min(name.size(), sizeof data.cFileName - 1);
  std::memcpy(data.cFileName, name.data(), length);
  // The short name stays empty: the long name is the short one here, as for a name that is already 8.3.
  return true;
}

struct Search {
  std::mutex mutex;  // one search may be continued from several threads, one call at a time
  kernel::UniqueFd directory;
  std::vector<std::string> names;
  std::size_t next = 0;

  explicit Search(kernel::UniqueFd fd) : directory(std::move(fd)) {}

  // Fills data with the next entry still there; false at the end.
  bool advance(WIN32_FIND_DATAA& data) {
    while (next < names.size())
      if (describe(directory.get(), names[next++], data)) return true;
    return false;
  }
};

class Searches {
 public:
  HANDLE add(std::shared_ptr<Search> search) {
    std::lock_guard lock(mutex_);
    // Numbers are never reused, so a closed handle stays invalid instead of reaching another search.
    const std::uintptr_t id = next_++;
    open_.emplace(id, std::move(search));
    return reinterpret_cast<HANDLE>(id);
  }
  std::shared_ptr<Search> get(HANDLE h) {
    std::lock_guard lock(mutex_);
    auto it = open_.find(reinterpret_cast<std::uintptr_t>(h));
    return it == open_.end() ? nullptr : it->second;
  }
  bool remove(HANDLE h) {
    std::lock_guard lock(mutex_);
    return open_.erase(reinterpret_cast<std::uintptr_t>(h)) == 1;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Search>> open_;
  std::uintptr_t next_ = 0x1000;
};

Searches& searches() {
  static Searches* all = new Searches;  // outlives threads that still close their searches at exit
  return *all;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

HANDLE fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

DWORD errorOpeningDirectory(int e) {
  return e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND : kernel::errorFromErrno(e);
}

bool isDriveRoot(const std::string& host) {
  const auto match = kernel::detail::driveOf(host);
  return host == "/" || (match && match->prefixLength == host.size());
}

// The one entry a pattern without wildcards names.
HANDLE findOne(const std::string& pattern, WIN32_FIND_DATAA& data) {
  DWORD error;
  const auto host = kernel::detail::resolve(pattern, error);
  if (!host) return fail(error);
  const auto slash = host->find_last_of('/');
  const std::string name = host->substr(slash + 1);
  if (name.empty()) return fail(ERROR_FILE_NOT_FOUND);  // a drive's root is no entry of a folder
  const std::string parent = slash == 0 ? "/" : host->substr(0, slash);
  kernel::UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return fail(errorOpeningDirectory(errno));
  if (!describe(dir.get(), name, data)) return fail(kernel::detail::errorForMissing(*host));
  auto search = std::make_shared<Search>(std::move(dir));
  return searches().add(std::move(search));
}

}  // namespace

extern "C" HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const std::string_view pattern(lpFileName);
  // Split into folder and mask: after the last separator, or after "X:" in "X:*.txt".
  std::size_t cut = 0;
  for (std::size_t i = pattern.size(); i > 0; --i)
    if (isSeparator(pattern[i - 1])) {
      cut = i;
      break;
    }
  if (cut == 0 && pattern.size() >= 2 && pattern[1] == ':') cut = 2;
  const std::string_view mask = pattern.substr(cut);
  if (mask.empty()) return fail(ERROR_FILE_NOT_FOUND);  // "C:\TEMP\" names a folder, not its entries
  if (!kernel::names::hasWildcards(mask)) return findOne(std::string(pattern), *lpFindFileData);

  DWORD error;
  const std::string folder = cut == 0 ? std::string(".") : std::string(pattern.substr(0, cut));
  const auto host = kernel::detail::resolve(folder, error);
  if (!host) return fail(error);
  kernel::UniqueFd dir(::open(host->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return fail(errorOpeningDirectory(errno));

  std::vector<std::pair<std::string, std::string>> found;  // (folded, name) for the order
  {
    const int listFd = ::dup(dir.get());
    DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!listing) {
      if (listFd >= 0) ::close(listFd);
      return fail(kernel::errorFromErrno(errno));
    }
    const bool root = isDriveRoot(*host);
    while (const dirent* e = ::readdir(listing)) {
      const std::string_view name(e->d_name);
      const bool dots = name == "." || name == "..";
      if ((dots && root) || name.find('\\') != std::string_view::npos) continue;
      if (!kernel::names::wildcardMatch(mask, name)) continue;
      // "." and ".." sort first; everything else by name without regard to case, then exactly.
      found.emplace_back(dots ? std::string(name.size(), '\0') : kernel::names::folded(name),
                         std::string(name));
    }
    ::closedir(listing);
  }
  std::sort(found.begin(), found.end());

  auto search = std::make_shared<Search>(std::move(dir));
  search->names.reserve(found.size());
  for (auto& f : found) search->names.push_back(std::move(f.second));
  if (!search->advance(*lpFindFileData)) return fail(ERROR_FILE_NOT_FOUND);
  return searches().add(std::move(search));
}

extern "C" BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  const auto search = searches().get(hFindFile);
  if (!search) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(search->mutex);
  if (!search->advance(*lpFindFileData)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

extern "C" BOOL FindClose(HANDLE hFindFile) {
  if (!searches().remove(hFindFile)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
