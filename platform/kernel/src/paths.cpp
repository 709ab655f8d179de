// Windows paths to host paths and back, and the current directory.
//
// The translation is lexical first ("." and ".." are taken away before the host is asked, and ".."
// stops at the drive's root), then each component is looked up: exactly, else without regard to case,
// else it is new and keeps its case. Large directories are indexed once by folded name, so that a
// batch looking up hundreds of upper-cased names in a folder of thousands does not read it each time.
#include "kernel/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "drives.h"
#include "kernel/ascii.h"
#include "kernel/errors.h"
#include "kernel/names.h"
#include "kernel/winbase.h"
#include "paths_internal.h"

namespace kernel {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool existsNoFollow(const std::string& path) {
  struct stat st;
  return ::fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<std::string> currentHostDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      buffer.resize(std::strlen(buffer.c_str()));
      return buffer;
    }
    if (errno != ERANGE) return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
}

// ---- Case-insensitive lookup of one name in one directory ----

constexpr std::size_t kIndexFrom = 512;  // entries; smaller directories are simply read
constexpr std::size_t kIndexedDirectories = 4;
constexpr long long kClockSlackNs = 50'000'000;  // more than a coarse file-system clock tick

long long nanoseconds(const timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct DirectoryIndex {
  std::string directory;
  dev_t device = 0;
  ino_t inode = 0;
  long long modified = 0;
  // Built well after the last change: a name it lacks really is not there (a change made later
  // would have moved the directory's time on).
  bool completeForMisses = false;
  std::vector<std::pair<std::string, std::string>> names;  // (folded, actual), sorted
  unsigned long long lastUse = 0;
};

class NameIndexes {
 public:
  // The actual name in directory equal to name without regard to case, or nothing.
  std::optional<std::string> find(const std::string& directory, std::string_view name) {
    struct stat st;
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    {
      std::lock_guard lock(mutex_);
      if (DirectoryIndex* index = current(directory, st)) {
        index->lastUse = ++clock_;
        const std::string key = names::folded(name);
        auto it = std::lower_bound(index->names.begin(), index->names.end(), std::pair{key, std::string()});
        if (it != index->names.end() && it->first == key && existsNoFollow(directory + "/" + it->second))
          return it->second;
        if (index->completeForMisses && (it == index->names.end() || it->first != key)) return std::nullopt;
      }
    }
    std::size_t entries = 0;
    auto found = scan(directory, name, entries);
    if (entries >= kIndexFrom) build(directory, st);
    return found;
  }

 private:
  DirectoryIndex* current(const std::string& directory, const struct stat& st) {
    for (auto& index : indexes_)
      if (index.directory == directory && index.device == st.st_dev && index.inode == st.st_ino &&
          index.modified == nanoseconds(st.st_mtim))
        return &index;
    return nullptr;
  }

  // Reads the directory through; among several names that differ only in case the first in byte
  // order wins, so the answer does not depend on the order the file system lists them in.
  static std::optional<std::string> scan(const std::string& directory, std::string_view name,
                                         std::size_t& entries) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* e = ::readdir(dir)) {
      ++entries;
      const std::string_view candidate(e->d_name);
      if (candidate == "." || candidate == "..") continue;
      if (names::equalIgnoringCase(candidate, name) && (!best || candidate < *best))
        best = std::string(candidate);
    }
    ::closedir(dir);
    return best;
  }

  void build(const std::string& directory, const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    DirectoryIndex index;
    index.directory = directory;
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.modified = nanoseconds(st.st_mtim);
    index.completeForMisses = nanoseconds(now) - index.modified > kClockSlackNs;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
      const std::string_view name(e->d_name);
      if (name == "." || name == "..") continue;
      index.names.emplace_back(names::folded(name), std::string(name));
    }
    ::closedir(dir);
    std::sort(index.names.begin(), index.names.end());
    // The first of equal keys is the smallest actual name, as the scan would choose.
    index.names.erase(std::unique(index.names.begin(), index.names.end(),
                                  [](const auto& a, const auto& b) { return a.first == b.first; }),
                      index.names.end());
    std::lock_guard lock(mutex_);
    index.lastUse = ++clock_;
    auto same = std::find_if(indexes_.begin(), indexes_.end(),
                             [&](const auto& i) { return i.directory == directory; });
    if (same != indexes_.end()) {
      *same = std::move(index);
    } else if (indexes_.size() < kIndexedDirectories) {
      indexes_.push_back(std::move(index));
    } else {
      *std::min_element(indexes_.begin(), indexes_.end(), [](const auto& a, const auto& b) {
        return a.lastUse < b.lastUse;
      }) = std::move(index);
    }
  }

  std::mutex mutex_;
  std::vector<DirectoryIndex> indexes_;
  unsigned long long clock_ = 0;
};

NameIndexes& nameIndexes() {
  static NameIndexes* indexes = new NameIndexes;  // outlives every thread that may still look names up
  return *indexes;
}

struct WindowsComponents {
  char letter = 0;
  std::vector<std::string_view> parts;  // below the drive's root, "." and ".." already applied
};

void appendComponents(std::string_view path, std::vector<std::string_view>& parts) {
  while (!path.empty()) {
    const auto start = std::find_if_not(path.begin(), path.end(), isSeparator) - path.begin();
    path.remove_prefix(static_cast<std::size_t>(start));
    const auto length = std::find_if(path.begin(), path.end(), isSeparator) - path.begin();
    const std::string_view part = path.substr(0, static_cast<std::size_t>(length));
    path.remove_prefix(static_cast<std::size_t>(length));
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // never above the drive's root
      continue;
    }
    parts.push_back(part);
  }
}

}  // namespace

namespace detail {

std::optional<std::string> resolve(std::string_view windowsPath, DWORD& error) {
  error = ERROR_INVALID_NAME;
  if (windowsPath.empty() || windowsPath.find('\0') != std::string_view::npos) return std::nullopt;
  if (windowsPath.front() == ':') return std::nullopt;  // a drive without its letter

  std::optional<std::string> cwd;  // holds the text the current directory's parts point into
  WindowsComponents w;
  std::string_view rest = windowsPath;
  auto currentDrive = [&]() -> bool {
    cwd = currentHostDirectory();
    if (!cwd) return false;
    const auto match = driveOf(*cwd);
    if (!match) return false;
    w.letter = match->letter;
    return true;
  };
  auto startAtCurrentDirectory = [&]() {
    w.parts.clear();
    appendComponents(std::string_view(*cwd).substr(driveOf(*cwd)->prefixLength), w.parts);
  };

  if (windowsPath.size() >= 2 && windowsPath[1] == ':') {
    const char letter = asciiUpper(windowsPath[0]);
    if (letter < 'A' || letter > 'Z') return std::nullopt;  // ":\x", "1:\x": no drive
    w.letter = letter;
    rest = windowsPath.substr(2);
    // "C:name" is relative to the current directory when that is on C:, else to C:'s root.
    if (rest.empty() || !isSeparator(rest.front())) {
      const char drive = w.letter;
      if (currentDrive() && w.letter == drive) startAtCurrentDirectory();
      w.letter = drive;
    }
  } else if (isSeparator(windowsPath.front())) {
    if (windowsPath.size() >= 2 && isSeparator(windowsPath[1])) return std::nullopt;  // no network names
    error = ERROR_PATH_NOT_FOUND;
    if (!currentDrive()) return std::nullopt;
  } else {
    error = ERROR_PATH_NOT_FOUND;
    if (!currentDrive()) return std::nullopt;
    startAtCurrentDirectory();
  }
  appendComponents(rest, w.parts);

  std::string host;
  error = ERROR_PATH_NOT_FOUND;
  if (!driveDirectory(w.letter, host)) return std::nullopt;
  host.reserve(host.size() + windowsPath.size() + (cwd ? cwd->size() : 0) + 1);
  bool missing = false;  // once a component does not exist, nothing below it can be looked up
  for (const std::string_view part : w.parts) {
    const std::size_t parentLength = host.size();
    if (host.back() != '/') host += '/';
    host += part;
    if (missing || existsNoFollow(host)) continue;
    const std::string parent = parentLength == 0 ? std::string("/") : host.substr(0, parentLength);
    if (auto actual = nameIndexes().find(parent, part)) {
      host.resize(host.size() - part.size());
      host += *actual;
    } else {
      missing = true;
    }
  }
  error = ERROR_SUCCESS;
  return host;
}

DWORD errorForMissing(const std::string& hostPath) {
  const auto slash = hostPath.find_last_of('/');
  const std::string parent = slash == 0 || slash == std::string::npos ? "/" : hostPath.substr(0, slash);
  struct stat st;
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_PATH_NOT_FOUND;
}

}  // namespace detail

std::optional<std::string> hostPath(std::string_view windowsPath) {
  DWORD error;
  return detail::resolve(windowsPath, error);
}

std::string windowsPath(std::string_view hostPath) {
  std::string absolute;
  if (hostPath.empty() || hostPath.front() != '/') {
    absolute = currentHostDirectory().value_or("/");
    if (!hostPath.empty()) absolute += '/';
  }
  absolute += hostPath;
  // Doubled and trailing separators say nothing.
  std::string clean;
  clean.reserve(absolute.size());
  for (char c : absolute)
    if (c != '/' || clean.empty() || clean.back() != '/') clean += c;
  while (clean.size() > 1 && clean.back() == '/') clean.pop_back();

  const auto match = detail::driveOf(clean);
  std::string out;
  out.reserve(clean.size() + 3);
  out += match ? match->letter : 'C';
  out += ":\\";
  const std::size_t from = match ? match->prefixLength : 0;
  for (std::size_t i = from; i < clean.size(); ++i) {
    if (i == from && clean[i] == '/') continue;
    out += clean[i] == '/' ? '\\' : clean[i];
  }
  return out;
}

}  // namespace kernel

extern "C" DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  const auto cwd = kernel::currentHostDirectory();
  if (!cwd) {
    kernel::setLastErrorFromErrno(errno);
    return 0;
  }
  const std::string path = kernel::windowsPath(*cwd);
  if (lpBuffer == nullptr || nBufferLength < path.size() + 1) return static_cast<DWORD>(path.size() + 1);
  std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

extern "C" BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
  if (lpPathName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error;
  const auto host = kernel::detail::resolve(lpPathName, error);
  if (!host) {
    SetLastError(error);
    return FALSE;
  }
  if (::chdir(host->c_str()) != 0) {
    const int e = errno;
    SetLastError(e == ENOENT    ? kernel::detail::errorForMissing(*host)
                 : e == ENOTDIR ? ERROR_DIRECTORY
                                : kernel::errorFromErrno(e));
    return FALSE;
  }
  return TRUE;
}

extern "C" DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  if (lpszLongPath == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD error;
  const auto host = kernel::detail::resolve(lpszLongPath, error);
  if (!host) {
    SetLastError(error);
    return 0;
  }
  struct stat st;
  if (::stat(host->c_str(), &st) != 0) {
    const int e = errno;
    SetLastError(e == ENOENT ? kernel::detail::errorForMissing(*host) : kernel::errorFromErrno(e));
    return 0;
  }
  // The short form is the long form: the path comes back as it was given.
  const std::size_t length = std::strlen(lpszLongPath);
  if (lpszShortPath == nullptr || cchBuffer < length + 1) return static_cast<DWORD>(length + 1);
  std::memmove(lpszShortPath, lpszLongPath, length + 1);
  return static_cast<DWORD>(length);
}
