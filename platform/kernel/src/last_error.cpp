#include <cerrno>

#include "kernel/errors.h"
#include "kernel/winbase.h"

namespace {
// Each thread has its own, as on Windows: a status callback on a worker thread cannot clobber the
// window thread's error between a failed call and its GetLastError.
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

extern "C" DWORD GetLastError(void) { return lastError; }

extern "C" void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

namespace kernel {

DWORD errorFromErrno(int e) {
  switch (e) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EIO:
      return ERROR_GEN_FAILURE;
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EILSEQ:
      return ERROR_INVALID_NAME;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY:
      return ERROR_BUSY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EINTR:
    case ECANCELED:
      return ERROR_OPERATION_ABORTED;
    case ETIMEDOUT:
      return ERROR_TIMEOUT;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

void setLastErrorFromErrno(int e) { SetLastError(errorFromErrno(e)); }

}  // namespace kernel
