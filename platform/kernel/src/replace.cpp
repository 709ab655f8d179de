#include "kernel/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "kernel/fd.h"

namespace kernel {

int writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

int renameOver(const std::string& temporary, const std::string& target, bool keepExisting) {
  if (!keepExisting) return ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE: link() refuses an existing name just as well.
  if (::link(temporary.c_str(), target.c_str()) != 0) return errno;
  ::unlink(temporary.c_str());
  return 0;
}

int replaceFile(const std::string& target, std::string_view data, mode_t mode) {
  std::string temporary = target + ".XXXXXX";
  UniqueFd out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out.valid()) return errno;
  int err = writeAll(out.get(), data.data(), data.size());
  if (err == 0 && ::fchmod(out.get(), mode) != 0) err = errno;
  if (err == 0 && ::fsync(out.get()) != 0) err = errno;
  // Closing can report a write that the file system had put off (quota, network file systems).
  if (::close(out.release()) != 0 && err == 0) err = errno;
  if (err == 0) err = renameOver(temporary, target);
  if (err != 0) ::unlink(temporary.c_str());
  return err;
}

}  // namespace kernel
