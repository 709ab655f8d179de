// Win32 error numbers from the host's errno values, for every layer that reports a failed system call
// through SetLastError.
#pragma once

#include "kernel/winbase.h"

namespace kernel {

// The Win32 error number closest to an errno value; ERROR_GEN_FAILURE for one without a counterpart.
// ENOENT gives ERROR_FILE_NOT_FOUND: callers that know a directory was missing say ERROR_PATH_NOT_FOUND.
DWORD errorFromErrno(int errnoValue);

// SetLastError(errorFromErrno(errnoValue)).
void setLastErrorFromErrno(int errnoValue);

}  // namespace kernel
