#include "local_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "kernel/paths.h"
#include "kernel/replace.h"
#include "ui/text.h"

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

// The first line of every record.
constexpr std::string_view kRecordHeader = "nimbo partial download\n";

// Whether a descriptor is a regular file: a record's name taken by a FIFO or a device must neither
// block the connection (it is opened without waiting) nor be read or written as one.
bool regularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// A small file read whole; empty when it is missing, unreadable, a link, not a regular file or
// implausibly large.
std::string readSmallFile(const std::string& path) {
  constexpr size_t kLimit = 16384;
  kernel::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid() || !regularFile(fd.get())) return {};
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};
    if (n == 0) return text;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > kLimit) return {};
  }
}

Outcome writeAll(int fd, const char* data, size_t size) {
  const int err = kernel::writeAll(fd, data, size);
  return err == 0 ? Outcome::success() : Outcome::failure(fileError(err, false));
}

}  // namespace

DownloadFile::~DownloadFile() {
  if (state_ == State::Done || path_.empty()) return;
  if (kind_ == Kind::Temporary) {
    fd_.reset();
    ::unlink(path_.c_str());
    return;
  }
  if (!fd_.valid()) return;
  // Decided while the lock is still held: no other download can be using the file yet.
  switch (state_) {
    case State::Untouched:
      if (created_) ::unlink(path_.c_str());
      break;
    case State::Unlabelled:
      discard();
      break;
    case State::Labelled: {
      struct stat st {};
      if (::fstat(fd_.get(), &st) != 0 || st.st_size == 0) discard();
      break;
    }
    case State::Done:
      break;
  }
  fd_.reset();
}

Outcome DownloadFile::open(std::string_view windowsPath, bool failIfExists, bool readOnly, Kind wanted) {
  // A name a server listed may end up here: never "." or ".." or a directory's own path.
  std::string_view name = lastComponent(windowsPath);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos)
    return Outcome::failure(ERROR_INVALID_NAME);
  auto host = kernel::hostPath(windowsPath);
  if (!host) return Outcome::failure(ERROR_PATH_NOT_FOUND);
  target_ = *host;
  failIfExists_ = failIfExists;
  readOnly_ = readOnly;

  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Outcome::failure(ERROR_ACCESS_DENIED);
    if (failIfExists) return Outcome::failure(ERROR_FILE_EXISTS);
  }

  size_t slash = target_.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
  // Room for the suffixes within the 255-byte name limit. Two long names that begin alike share a
  // partial file; its record names the whole target, so neither takes the other's bytes.
  std::string base(ui::utf8Fit(slash == std::string::npos ? target_ : target_.substr(slash + 1), 200));
  if (wanted == Kind::Partial && openPartial(directory, base).ok()) return Outcome::success();
  return openTemporary(directory, base, readOnly);
}

Outcome DownloadFile::openPartial(const std::string& directory, const std::string& base) {
  const std::string path = directory + "." + base + ".part";
  for (int attempt = 0; attempt < 8; ++attempt) {
    created_ = false;
    kernel::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid() && errno == ENOENT) {
      fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
      if (!fd.valid() && errno == EEXIST) continue;
      created_ = fd.valid();
    }
    // Not ours to use (a link, another user's file) or busy with another download: a temporary.
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
      return Outcome::failure(ERROR_ACCESS_DENIED);
    struct stat mine {
    }, there{};
    if (::fstat(fd.get(), &mine) != 0 || !S_ISREG(mine.st_mode)) return Outcome::failure(ERROR_ACCESS_DENIED);
    // The download that held the lock before may have renamed the file over its target or removed it
    // meanwhile: the lock then guards a file of another name, or of none.
    if (::lstat(path.c_str(), &there) != 0 || there.st_ino != mine.st_ino || there.st_dev != mine.st_dev)
      continue;
    const std::string record = readSmallFile(path + ".info");
    path_ = path;
    recordPath_ = path + ".info";
    name_ = "." + base + ".part";
    fd_ = std::move(fd);
    kind_ = Kind::Partial;
    existing_ = static_cast<uint64_t>(mine.st_size);
    record_ = record;
    return Outcome::success();
  }
  return Outcome::failure(ERROR_ACCESS_DENIED);
}

Outcome DownloadFile::openTemporary(const std::string& directory, const std::string& base, bool readOnly) {
  kind_ = Kind::Temporary;
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned tag = 0;
    if (::getrandom(&tag, sizeof tag, 0) != sizeof tag)
      tag = static_cast<unsigned>(::getpid()) * 2654435761u + attempt;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", tag);
    std::string candidate = directory + "." + base + suffix;
    kernel::UniqueFd fd(
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, readOnly ? 0444 : 0666));
    if (fd.valid()) {
      path_ = std::move(candidate);
      name_ = path_.substr(directory.size());
      fd_ = std::move(fd);
      return Outcome::success();
    }
    if (errno != EEXIST) return Outcome::failure(fileError(errno, false));
  }
  return Outcome::failure(ERROR_WRITE_FAULT);
}

Outcome DownloadFile::empty() {
  if (::ftruncate(fd_.get(), 0) != 0 || ::lseek(fd_.get(), 0, SEEK_SET) != 0)
    return Outcome::failure(fileError(errno, false));
  existing_ = 0;
  return Outcome::success();
}

void DownloadFile::removeRecord() {
  if (::unlink(recordPath_.c_str()) != 0 && errno != ENOENT)
    (void)::truncate(recordPath_.c_str(), 0);  // an empty record matches no file
}

void DownloadFile::discard() {
  // The bytes first: a stop in between leaves a record without a file, which the next download
  // simply writes again, never bytes without the record that makes them ours.
  ::unlink(path_.c_str());
  removeRecord();
}

std::string DownloadFile::recordOf(std::string_view identity) const {
  return std::string(kRecordHeader) + "target " + target_ + "\n" + std::string(identity);
}

bool DownloadFile::writeRecord(const std::string& record) {
  kernel::UniqueFd out(
      ::open(recordPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
  return out.valid() && regularFile(out.get()) && writeAll(out.get(), record.data(), record.size()).ok() &&
         ::close(out.release()) == 0;
}

Outcome DownloadFile::label(std::string_view identity, uint64_t size, uint64_t& kept, std::string& why) {
  kept = 0;
  why.clear();
  if (kind_ != Kind::Partial) return Outcome::success();
  const std::string record = recordOf(identity);
  if (record_ == record && existing_ <= size) {
    kept = existing_;
    state_ = State::Labelled;
    return Outcome::success();
  }
  if (existing_ > 0)
    why = record_.empty()     ? "it has no record of the file it came from"
          : record_ != record ? "its record names another file, or another version of it"
                              : "it is longer than the remote file";
  // Emptied before the new record is written: a stop in between leaves an empty file, never old bytes
  // under a new record.
  if (Outcome o = empty(); !o.ok()) return o;
  if (!writeRecord(record)) {
    // Without a record the bytes could not be trusted later: the download goes on, not to be continued.
    removeRecord();
    record_.clear();
    state_ = State::Unlabelled;
    why += why.empty() ? "no record of the remote file could be written" : "; no new record could be written";
    return Outcome::success();
  }
  record_ = record;
  state_ = State::Labelled;
  return Outcome::success();
}

Outcome DownloadFile::unlabelled(std::string& why) {
  why.clear();
  if (kind_ != Kind::Partial) return Outcome::success();
  if (existing_ > 0) why = "the remote file cannot be told apart from another version of it";
  if (Outcome o = empty(); !o.ok()) return o;
  removeRecord();
  record_.clear();
  state_ = State::Unlabelled;
  return Outcome::success();
}

Outcome DownloadFile::restart() {
  if (kind_ != Kind::Partial) return Outcome::success();
  return empty();
}

Outcome DownloadFile::seek(uint64_t offset) {
  if (kind_ != Kind::Partial || offset != existing_) return Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR);
  // Exactly the bytes before the offset, and the next write right after them.
  if (::ftruncate(fd_.get(), static_cast<off_t>(offset)) != 0 ||
      ::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset))
    return Outcome::failure(fileError(errno, false));
  return Outcome::success();
}

Outcome DownloadFile::write(const char* data, size_t size) { return writeAll(fd_.get(), data, size); }

Outcome DownloadFile::commit() {
  kernel::UniqueFd lock;
  if (kind_ == Kind::Partial) {
    if (readOnly_) {
      struct stat st {};
      if (::fstat(fd_.get(), &st) == 0) (void)::fchmod(fd_.get(), st.st_mode & 07555);
    }
    // A second descriptor holds the lock through the close and the rename: another download must not
    // take the file before it has its new name.
    lock.reset(::dup(fd_.get()));
    if (!lock.valid()) return Outcome::failure(fileError(errno, false));
  }
  // Closing can report a write that the file system had put off (quota, network file systems).
  if (::close(fd_.release()) != 0 && errno != EINTR) {
    const DWORD error = fileError(errno, false);
    fd_ = std::move(lock);
    return Outcome::failure(error);
  }
  auto failed = [&](int err) {
    fd_ = std::move(lock);
    return Outcome::failure(fileError(err, false));
  };
  // The record goes while the lock still guards the path it names: once renamed, the next download may
  // make a partial file of that name again, and its record must not be this one's to remove.
  if (kind_ == Kind::Partial) removeRecord();
  if (const int err = kernel::renameOver(path_, target_, failIfExists_); err != 0) return failed(err);
  state_ = State::Done;
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
