#include "client/local_paths.h"

#include <algorithm>
#include <array>

#include "kernel/ascii.h"

namespace client {

std::string upperCase(std::string_view s) { return kernel::asciiUppered(s); }

std::string folderRowName(std::string_view localDirectory) {
  if (localDirectory.size() == 3 || localDirectory.empty()) return std::string(localDirectory);
  return std::string(localDirectory.substr(0, localDirectory.size() - 1));
}

std::string parentFolder(std::string_view localDirectory) {
  if (localDirectory.size() <= 3) return std::string(localDirectory);
  // Start before the final "\" so that it is the one above that is found.
  const std::size_t above = localDirectory.rfind('\\', localDirectory.size() - 2);
  if (above == std::string_view::npos) return std::string(localDirectory);
  return std::string(localDirectory.substr(0, above + 1));
}

std::optional<std::string> subfolderPath(std::string_view localDirectory, std::string_view name) {
  if (name.empty() || !addressableName(name)) return std::nullopt;
  std::string path = std::string(localDirectory) + upperCase(name) + "\\";
  if (path.size() > kLocalDirectoryMax) return std::nullopt;
  return path;
}

std::optional<std::string> startingDirectoryOf(std::string_view currentDirectory) {
  if (currentDirectory.empty()) return std::nullopt;
  std::string dir = upperCase(currentDirectory);
  if (dir.back() != '\\') dir += '\\';
  if (dir.size() > kLocalDirectoryMax) return std::nullopt;
  return dir;
}

bool addressableName(std::string_view name) {
  return name.find_first_of(std::string_view("\\/\0", 3)) == std::string_view::npos;
}

bool nameBefore(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(kernel::asciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(kernel::asciiUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string_view driveIconName(int icon) {
  static constexpr std::array<std::string_view, 5> kIcons = {"~SMDSKET.ICO", "~SMDISK.ICO", "~SMNETWRK.ICO",
                                                             "~SMCD.ICO", "~SMRAM.ICO"};
  if (icon < 1 || icon > 5) return {};
  return kIcons[static_cast<std::size_t>(icon - 1)];
}

}  // namespace client
