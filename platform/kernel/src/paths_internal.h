// The path translation with the reason for a failure, for the calls that report one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kernel/winbase.h"

namespace kernel::detail {

// hostPath(), and on failure the Win32 error that says why (ERROR_INVALID_NAME for a malformed path,
// ERROR_PATH_NOT_FOUND for a drive that does not exist).
std::optional<std::string> resolve(std::string_view windowsPath, DWORD& error);

// What a missing host path is: ERROR_FILE_NOT_FOUND when its folder exists, else ERROR_PATH_NOT_FOUND.
DWORD errorForMissing(const std::string& hostPath);

}  // namespace kernel::detail
