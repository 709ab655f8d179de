// The path rules of the local side, kept apart from the window so they can be checked on their own.
//
// Local directories are Windows paths in upper case that end with "\" (C:\ or C:\TEMP\), held in a
// field of 126 bytes: at most 125 characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace client {

inline constexpr std::size_t kLocalDirectoryMax = 125;

// ASCII upper case; other bytes (UTF-8 sequences) are left as they are.
std::string upperCase(std::string_view s);

// Row 1 of the folder list: a drive root as it is (C:\), any other folder without its final "\".
std::string folderRowName(std::string_view localDirectory);

// The folder above: C:\TEMP\SUB\ gives C:\TEMP\. A drive root, or a path with no folder above it,
// stays as it is.
std::string parentFolder(std::string_view localDirectory);

// The directory of a subfolder (C:\TEMP\ and "sub" give C:\TEMP\SUB\), or nothing when the result
// would not fit: a shortened path would name another folder, or none.
std::optional<std::string> subfolderPath(std::string_view localDirectory, std::string_view name);

// The starting directory made of the process's current directory (C:\home\ann gives C:\HOME\ANN\), or
// nothing when it is empty or too long to be held whole.
std::optional<std::string> startingDirectoryOf(std::string_view currentDirectory);

// A host name that a Windows path can address: one holding "\" or "/" would be read as several
// components and lead to another file.
bool addressableName(std::string_view name);

// Name order of the folder and file lists: without regard to case, as the upper-cased folder names
// are shown; names equal but for case keep a fixed order by their bytes.
bool nameBefore(std::string_view a, std::string_view b);

// The drive list's icons: icon n stands for drive type n + 1 (1 removable, 2 fixed, 3 network, 4 CD,
// 5 RAM disk).
std::string_view driveIconName(int icon);  // empty for a number outside 1 to 5
inline constexpr std::string_view kOpenFolderIcon = "~SMOPEN.ICO";
inline constexpr std::string_view kClosedFolderIcon = "~SMCLOSE.ICO";

}  // namespace client
