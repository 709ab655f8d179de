// The one seam between the runtime and the host's directories: Windows paths in, host facts out.
// Everything the runtime does with directories goes through here, so that the platform layer's
// calls replace it in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui::detail::hostdir {

// Why a call failed: the platform's error number and its text.
struct Failure {
  int code = 0;
  std::string text;
};

struct Found {
  std::string name;
  std::uint32_t attributes = 0;  // FILE_ATTRIBUTE_* bits
  std::int64_t size = 0;
  std::int64_t modified = 0;  // seconds since 1970, UTC
};

// The entries that match a Windows pattern such as C:\TEMP\*.* ("." and ".." left out). False when
// the directory cannot be read; a directory without matches is true.
bool find(std::string_view pattern, std::vector<Found>& out, Failure& failure);

// The process's current directory as a Windows path (its short form is its long form).
std::string currentDirectory();

// Changes the process's current directory to a Windows path.
bool changeDirectory(std::string_view path, Failure& failure);

// The host path of a Windows path, or nothing when it names no drive.
std::optional<std::string> hostPath(std::string_view windowsPath);

}  // namespace ui::detail::hostdir
