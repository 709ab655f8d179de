// The drive map, for the path translation: cheap lookups without copying the drive list.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kernel::detail {

// The mount point of a drive letter (either case) into directory; false when there is no such drive.
bool driveDirectory(char letter, std::string& directory);

struct DriveMatch {
  char letter;
  std::size_t prefixLength;  // length of the mount point within the host path ("/" counts as 0)
};
// The drive whose mount point holds the absolute, normalised host path, longest mount point first.
std::optional<DriveMatch> driveOf(std::string_view hostPath);

}  // namespace kernel::detail
