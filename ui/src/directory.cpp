// Directory listings by Windows pattern and attribute mask, and the current directory.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "hostdir.h"
#include "ui/runtime.h"

namespace ui {
namespace {

void fileSystemError(const detail::hostdir::Failure& f) {
  setError(ERROR_FILE_SYSTEM, "File System Error", std::to_string(f.code), f.text);
}

}  // namespace

std::vector<DirEntry> directory(std::string_view pattern, std::uint32_t attributes) {
  std::vector<DirEntry> out;
  std::vector<detail::hostdir::Found> found;
  detail::hostdir::Failure failure;
  if (!detail::hostdir::find(pattern, found, failure)) {
    fileSystemError(failure);
    return out;
  }
  // Ordinary, read-only and archived files always; hidden, system and directory entries only when
  // the mask asks for every one of those kinds that the entry is.
  constexpr std::uint32_t kOptIn = ff_HIDDEN | ff_SYSTEM | ff_DIRECTORY;
  for (const auto& f : found) {
    if ((f.attributes & kOptIn & ~attributes) != 0) continue;
    DirEntry e;
    e.name = f.name;
    e.shortName = f.name;
    const std::time_t t = static_cast<std::time_t>(f.modified);
    std::tm tm{};
    if (::localtime_r(&t, &tm)) {
      e.date = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
      e.time = tm.tm_hour * 1000000 + tm.tm_min * 10000 + tm.tm_sec * 100;
    }
    e.size = f.size;
    e.attrib = static_cast<std::uint8_t>(f.attributes & 0xFF);
    out.push_back(std::move(e));
  }
  return out;
}

std::string currentDirectory() { return detail::hostdir::currentDirectory(); }

bool changeDirectory(std::string_view path) {
  detail::hostdir::Failure failure{3, "The system cannot find the path specified."};
  if (path.empty() || !detail::hostdir::changeDirectory(path, failure)) {
    fileSystemError(failure);
    return false;
  }
  return true;
}

}  // namespace ui
