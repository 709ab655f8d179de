// Drives and the translation between Windows paths and host paths.
//
// Drives are mount points, as a Windows user would see them: C: is the root file system, further
// letters go to further real file systems in mount order (pseudo file systems are left out). A Windows
// path's components are matched against the host tree exactly first and without regard to case second,
// so an upper-cased path still finds /home/ann/Downloads; a component that does not exist yet (the last
// one of a new file) keeps its case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kernel {

struct Mount {
  std::string device;     // first field of the mount table
  std::string directory;  // mount point
  std::string fsType;     // file system type
};

struct Drive {
  char letter = 0;        // 'C', 'D', ...
  std::string directory;  // mount point it stands for
  unsigned type = 0;      // DRIVE_* of winbase.h
};

// The mount table currently in force: /proc/self/mounts unless a test has injected one.
std::vector<Mount> mountTable();
// Replaces the mount table the layer reads (tests); an empty optional goes back to the real one.
void setMountTable(std::optional<std::vector<Mount>> table);

// The drives, in letter order.
std::vector<Drive> drives();

// The host path a Windows path names, or nothing when its drive does not exist or the path is malformed
// (a NUL inside, say). Relative paths are taken from the process's current directory.
std::optional<std::string> hostPath(std::string_view windowsPath);

// The Windows path of a host path: the drive whose mount point holds it longest-prefix first, then
// the rest with "\" separators. Case is kept.
std::string windowsPath(std::string_view hostPath);

}  // namespace kernel
