#include "local_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "kernel/paths.h"

namespace inet {
namespace {

constexpr DWORD kTooManyOpenFiles = 4;

DWORD fileError(int err, bool reading) {
  switch (err) {
    case ENOENT:
      return reading ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return reading ? ERROR_READ_FAULT : ERROR_WRITE_FAULT;
  }
}

// The last component of a Windows path, either separator.
std::string_view lastComponent(std::string_view path) {
  size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

}  // namespace

DownloadFile::~DownloadFile() {
  fd_.reset();
  if (!temporary_.empty() && !committed_) ::unlink(temporary_.c_str());
}

Outcome DownloadFile::open(std::string_view windowsPath, bool failIfExists, bool readOnly) {
  // A name a server listed may end up here: never "." or ".." or a directory's own path.
  std::string_view name = lastComponent(windowsPath);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos)
    return Outcome::failure(ERROR_INVALID_NAME);
  auto host = kernel::hostPath(windowsPath);
  if (!host) return Outcome::failure(ERROR_PATH_NOT_FOUND);
  target_ = *host;
  failIfExists_ = failIfExists;

  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Outcome::failure(ERROR_ACCESS_DENIED);
    if (failIfExists) return Outcome::failure(ERROR_FILE_EXISTS);
  }

  size_t slash = target_.rfind('/');
  std::string directory = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  if (base.size() > 200) base.resize(200);  // room for the suffix within the 255-byte name limit
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned tag = 0;
    if (::getrandom(&tag, sizeof tag, 0) != sizeof tag)
      tag = static_cast<unsigned>(::getpid()) * 2654435761u + attempt;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", tag);
    std::string candidate = (slash == std::string::npos ? std::string() : directory) + "." + base + suffix;
    kernel::UniqueFd fd(
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, readOnly ? 0444 : 0666));
    if (fd.valid()) {
      temporary_ = std::move(candidate);
      fd_ = std::move(fd);
      return Outcome::success();
    }
    if (errno != EEXIST) return Outcome::failure(fileError(errno, false));
  }
  return Outcome::failure(ERROR_WRITE_FAULT);
}

Outcome DownloadFile::write(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_.get(), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Outcome::failure(fileError(errno, false));
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return Outcome::success();
}

Outcome DownloadFile::commit() {
  // Closing can report a write that the file system had put off (quota, network file systems).
  if (::close(fd_.release()) != 0 && errno != EINTR) return Outcome::failure(fileError(errno, false));
  if (failIfExists_) {
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return Outcome::failure(fileError(errno, false));
      // A file system without RENAME_NOREPLACE: link() refuses an existing name just as well.
      if (::link(temporary_.c_str(), target_.c_str()) != 0) return Outcome::failure(fileError(errno, false));
      ::unlink(temporary_.c_str());
    }
  } else if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    return Outcome::failure(fileError(errno, false));
  }
  committed_ = true;
  return Outcome::success();
}

Outcome UploadFile::open(std::string_view windowsPath) {
  auto host = kernel::hostPath(windowsPath);
  if (!host) return Outcome::failure(ERROR_PATH_NOT_FOUND);
  kernel::UniqueFd fd(::open(host->c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return Outcome::failure(fileError(errno, true));
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) return Outcome::failure(ERROR_ACCESS_DENIED);
  fd_ = std::move(fd);
  return Outcome::success();
}

Outcome UploadFile::read(char* buffer, size_t capacity, size_t& got) {
  for (;;) {
    ssize_t n = ::read(fd_.get(), buffer, capacity);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return Outcome::success();
    }
    if (errno != EINTR) return Outcome::failure(fileError(errno, true));
  }
}

}  // namespace inet
