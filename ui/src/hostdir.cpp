// Host directories through the kernel layer: its path translation (drives as mount points, components
// matched exactly first and without regard to case second) and its file search.
#include "hostdir.h"

#include <cstring>
#include <memory>

#include "kernel/paths.h"
#include "kernel/winbase.h"

namespace ui::detail::hostdir {
namespace {

constexpr std::uint64_t kUnixEpochInTicks = 116444736000000000ULL;  // 1970-01-01 in 100 ns since 1601

std::string systemText(DWORD code) {
  char buf[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                 buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "System error " + std::to_string(code) : text;
}

struct FindCloser {
  void operator()(HANDLE h) const {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};

Found foundOf(const WIN32_FIND_DATAA& d) {
  Found f;
  f.name.assign(d.cFileName, ::strnlen(d.cFileName, sizeof d.cFileName));
  f.attributes = d.dwFileAttributes;
  f.size = (static_cast<std::int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
  f.modified = static_cast<std::int64_t>((ticks - kUnixEpochInTicks) / 10'000'000);
  return f;
}

Failure lastFailure() {
  const DWORD code = GetLastError();
  return {static_cast<int>(code), systemText(code)};
}

}  // namespace

std::optional<std::string> hostPath(std::string_view windowsPath) { return kernel::hostPath(windowsPath); }

std::string currentDirectory() {
  std::string path(MAX_PATH, '\0');
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(path.size()), path.data());
  if (n >= path.size()) {
    path.resize(n);
    n = GetCurrentDirectoryA(static_cast<DWORD>(path.size()), path.data());
  }
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  // The short form, as the system asks for it; here it is the long form.
  std::string shortForm(path.size() + 1, '\0');
  const DWORD s = GetShortPathNameA(path.c_str(), shortForm.data(), static_cast<DWORD>(shortForm.size()));
  if (s == 0 || s >= shortForm.size()) return path;
  shortForm.resize(s);
  return shortForm;
}

bool changeDirectory(std::string_view path, Failure& failure) {
  const std::string p(path);
  if (SetCurrentDirectoryA(p.c_str())) return true;
  failure = lastFailure();
  return false;
}

bool find(std::string_view pattern, std::vector<Found>& out, Failure& failure) {
  out.clear();
  const std::string p(pattern);
  WIN32_FIND_DATAA data{};
  std::unique_ptr<void, FindCloser> handle(FindFirstFileA(p.c_str(), &data));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    handle.release();
    if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES)
      return true;  // no match
    failure = lastFailure();
    return false;
  }
  do {
    Found f = foundOf(data);
    if (f.name != "." && f.name != "..") out.push_back(std::move(f));
  } while (FindNextFileA(handle.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    failure = lastFailure();
    return false;
  }
  return true;
}

}  // namespace ui::detail::hostdir
