// Drives from the mount table: C: is the root file system, D: onwards the further real file systems in
// the order they were mounted. The table is /proc/self/mounts, or a file in that format named by
// NIMBO_MOUNT_TABLE (so that every copy of this layer in a process agrees with a test), or one set
// in-process with setMountTable.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "drives.h"
#include "kernel/ascii.h"
#include "kernel/fd.h"
#include "kernel/paths.h"
#include "kernel/winbase.h"

namespace kernel {

namespace {

constexpr const char* kTableVariable = "NIMBO_MOUNT_TABLE";

// Kernel interfaces and helpers that hold no user files.
constexpr std::string_view kPseudoTypes[] = {
    "autofs",      "binfmt_misc", "bpf",      "cgroup",   "cgroup2", "configfs",
    "debugfs",     "devpts",      "devtmpfs", "efivarfs", "fusectl", "hugetlbfs",
    "mqueue",      "nsfs",        "proc",     "pstore",   "rootfs",  "rpc_pipefs",
    "securityfs",  "selinuxfs",   "sysfs",    "tracefs",  "nfsd",    "fuse.gvfsd-fuse",
    "fuse.portal", "fuse.lxcfs",  "squashfs"};
// Mount points that belong to the system, not to the user, whatever is mounted there.
constexpr std::string_view kSystemDirectories[] = {"/proc", "/sys", "/dev", "/run", "/snap", "/boot"};
constexpr std::string_view kRemovableDirectories[] = {"/media", "/run/media"};
constexpr std::string_view kNetworkTypes[] = {
    "nfs",         "nfs4",        "cifs",      "smb3",   "smbfs",     "ncpfs",          "fuse.sshfs",
    "sshfs",       "9p",          "afs",       "ceph",   "glusterfs", "fuse.glusterfs", "davfs",
    "fuse.davfs2", "fuse.rclone", "fuse.s3fs", "lustre", "virtiofs"};
constexpr std::string_view kOpticalTypes[] = {"iso9660", "udf"};
constexpr std::string_view kRamTypes[] = {"tmpfs", "ramfs"};
constexpr std::string_view kDiskTypes[] = {
    "ext2",  "ext3",  "ext4", "xfs",   "btrfs",   "zfs",     "jfs",     "reiserfs", "f2fs",   "vfat",
    "msdos", "exfat", "ntfs", "ntfs3", "fuseblk", "overlay", "hfsplus", "bcachefs", "nilfs2", "ufs"};

template <std::size_t N>
bool among(std::string_view value, const std::string_view (&list)[N]) {
  return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

bool within(std::string_view path, std::string_view directory) {
  return path == directory ||
         (path.size() > directory.size() && path.substr(0, directory.size()) == directory &&
          path[directory.size()] == '/');
}

template <std::size_t N>
bool withinAny(std::string_view path, const std::string_view (&list)[N]) {
  return std::any_of(std::begin(list), std::end(list), [&](std::string_view d) { return within(path, d); });
}

// The mount table escapes blanks, tabs, newlines and backslashes as \ooo.
std::string unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i >= 4) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<Mount> parseTable(std::string_view text) {
  std::vector<Mount> table;
  while (!text.empty()) {
    const std::size_t eol = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(std::min(eol + 1, text.size()));
    std::string_view fields[3];
    int count = 0;
    while (count < 3) {
      const std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string_view::npos) break;
      line.remove_prefix(start);
      const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
      fields[count++] = line.substr(0, end);
      line.remove_prefix(end);
    }
    if (count < 3 || fields[0].front() == '#') continue;  // short or comment lines say nothing
    table.push_back({unescape(fields[0]), unescape(fields[1]), unescape(fields[2])});
  }
  return table;
}

// The drive type of a mount, or nothing when it is no drive for the user.
std::optional<unsigned> typeOf(const Mount& m) {
  const std::string_view dir = m.directory, fs = m.fsType;
  if (dir.empty() || dir.front() != '/') return std::nullopt;
  if (among(fs, kPseudoTypes)) return std::nullopt;
  if (among(fs, kOpticalTypes)) return DRIVE_CDROM;
  if (withinAny(dir, kRemovableDirectories)) return DRIVE_REMOVABLE;
  if (withinAny(dir, kSystemDirectories)) return std::nullopt;
  if (among(fs, kNetworkTypes)) return DRIVE_REMOTE;
  if (among(fs, kRamTypes)) return DRIVE_RAMDISK;
  if (among(fs, kDiskTypes)) return DRIVE_FIXED;
  // An unknown kind: a block device is a disk, host:path or //host/share a network share.
  const std::string_view dev = m.device;
  if (dev.substr(0, 5) == "/dev/") return DRIVE_FIXED;
  if (dev.substr(0, 2) == "//" || dev.find(":/") != std::string_view::npos) return DRIVE_REMOTE;
  return std::nullopt;
}

// A mount over a single file (containers bind /etc/hosts so) is no drive. A mount point that does not
// exist here still counts: an injected table names places of another machine.
bool mountsAFile(const std::string& directory) {
  struct stat st;
  return ::stat(directory.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::vector<Drive> drivesOf(const std::vector<Mount>& table) {
  // A mount point mounted over again shows its last mount, in the place of its first.
  std::vector<const Mount*> points;
  for (const Mount& m : table) {
    auto same = std::find_if(points.begin(), points.end(),
                             [&](const Mount* p) { return p->directory == m.directory; });
    if (same == points.end())
      points.push_back(&m);
    else
      *same = &m;
  }
  std::vector<Drive> drives;
  unsigned rootType = DRIVE_FIXED;
  for (const Mount* m : points)
    if (m->directory == "/") rootType = typeOf(*m).value_or(DRIVE_FIXED);
  drives.push_back({'C', "/", rootType});
  char letter = 'D';
  for (const Mount* m : points) {
    if (letter > 'Z') break;
    if (m->directory == "/") continue;
    const auto type = typeOf(*m);
    if (!type || mountsAFile(m->directory)) continue;
    std::string directory = m->directory;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    drives.push_back({letter++, std::move(directory), *type});
  }
  return drives;
}

bool readWhole(int fd, std::string& out) {
  out.clear();
  char buffer[8192];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
}

// The table in force and the drives made of it, refreshed when its source changes: the in-process
// table when set, else the file NIMBO_MOUNT_TABLE names (re-read when it changes), else the kernel's
// table (re-read when the kernel signals a mount or unmount on it).
class DriveMap {
 public:
  template <typename F>
  auto withDrives(F&& use) {
    std::lock_guard lock(mutex_);
    refresh();
    return use(table_, drives_);
  }

  void inject(std::optional<std::vector<Mount>> table) {
    std::lock_guard lock(mutex_);
    injected_ = std::move(table);
    source_ = Source::None;
  }

 private:
  enum class Source { None, Injected, File, Kernel };

  void adopt(std::vector<Mount> table, Source source) {
    table_ = std::move(table);
    drives_ = drivesOf(table_);
    source_ = source;
  }

  void refresh() {
    if (injected_) {
      if (source_ != Source::Injected) adopt(*injected_, Source::Injected);
      return;
    }
    const char* file = std::getenv(kTableVariable);
    if (file && *file) {
      struct stat st {};
      const bool exists = ::stat(file, &st) == 0;
      if (source_ == Source::File && file_ == file && exists == fileExists_ &&
          st.st_ino == fileStat_.st_ino && st.st_size == fileStat_.st_size &&
          st.st_mtim.tv_sec == fileStat_.st_mtim.tv_sec && st.st_mtim.tv_nsec == fileStat_.st_mtim.tv_nsec)
        return;
      file_ = file;
      fileStat_ = st;
      fileExists_ = exists;
      std::string text;
      const UniqueFd fd(::open(file, O_RDONLY | O_CLOEXEC));
      // A table that cannot be read leaves C: alone, rather than quietly showing this machine's drives.
      if (fd.valid() && !readWhole(fd.get(), text)) text.clear();
      adopt(parseTable(text), Source::File);
      return;
    }
    if (!kernelFd_.valid()) kernelFd_.reset(::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC));
    bool changed = source_ != Source::Kernel;
    if (!changed && kernelFd_.valid()) {
      pollfd p{kernelFd_.get(), POLLPRI, 0};
      changed = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR));
    }
    if (!changed) return;
    std::string text;
    if (kernelFd_.valid() && !readWhole(kernelFd_.get(), text)) text.clear();
    adopt(parseTable(text), Source::Kernel);
  }

  std::mutex mutex_;
  std::optional<std::vector<Mount>> injected_;
  std::vector<Mount> table_;
  std::vector<Drive> drives_;
  Source source_ = Source::None;
  std::string file_;
  struct stat fileStat_ {};
  bool fileExists_ = false;
  UniqueFd kernelFd_;
};

DriveMap& driveMap() {
  // Never destroyed: worker threads may still translate paths while the process exits.
  static DriveMap* map = new DriveMap;
  return *map;
}

}  // namespace

std::vector<Mount> mountTable() {
  return driveMap().withDrives(
      [](const std::vector<Mount>& table, const std::vector<Drive>&) { return table; });
}

void setMountTable(std::optional<std::vector<Mount>> table) { driveMap().inject(std::move(table)); }

std::vector<Drive> drives() {
  return driveMap().withDrives([](const std::vector<Mount>&, const std::vector<Drive>& d) { return d; });
}

namespace detail {

bool driveDirectory(char letter, std::string& directory) {
  letter = asciiUpper(letter);
  return driveMap().withDrives([&](const std::vector<Mount>&, const std::vector<Drive>& drives) {
    for (const Drive& d : drives) {
      if (d.letter == letter) {
        directory.assign(d.directory);
        return true;
      }
    }
    return false;
  });
}

std::optional<DriveMatch> driveOf(std::string_view hostPath) {
  return driveMap().withDrives([&](const std::vector<Mount>&, const std::vector<Drive>& drives) {
    std::optional<DriveMatch> best;
    for (const Drive& d : drives) {
      const std::string_view dir = d.directory;
      const bool holds = dir == "/" ? !hostPath.empty() && hostPath.front() == '/' : within(hostPath, dir);
      const std::size_t length = dir == "/" ? 0 : dir.size();
      if (holds && (!best || length > best->prefixLength)) best = DriveMatch{d.letter, length};
    }
    return best;
  });
}

}  // namespace detail

}  // namespace kernel

extern "C" UINT GetDriveTypeA(LPCSTR lpRootPathName) {
  std::string_view root = lpRootPathName ? std::string_view(lpRootPathName) : std::string_view();
  char letter = 0;
  if (root.empty() || root == "\\" || root == "/") {
    // The drive of the current directory, as for a missing root on Windows.
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return DRIVE_NO_ROOT_DIR;
    const auto match = kernel::detail::driveOf(cwd);
    if (!match) return DRIVE_NO_ROOT_DIR;
    letter = match->letter;
  } else {
    const bool driveForm = root.size() >= 2 && root[1] == ':' &&
                           (root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/')));
    const char c = kernel::asciiUpper(root[0]);
    if (!driveForm || c < 'A' || c > 'Z') return DRIVE_NO_ROOT_DIR;
    letter = c;
  }
  return kernel::driveMap().withDrives(
      [&](const std::vector<kernel::Mount>&, const std::vector<kernel::Drive>& drives) {
        for (const kernel::Drive& d : drives)
          if (d.letter == letter) return static_cast<UINT>(d.type);
        return static_cast<UINT>(DRIVE_NO_ROOT_DIR);
      });
}
