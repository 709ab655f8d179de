// What FtpFindFirstFileA's search string asks for. A last component with '*' or '?' lists its
// directory and keeps the names that match, the Windows way ("*.*" matches every name, letters match
// in either case); a path without wildcards, or one in double quotes, looks that one entry up.
#pragma once

#include <string>
#include <string_view>

namespace inet {

struct SearchPlan {
  enum class Kind { List, LookUp } kind = Kind::List;
  std::string directory;  // List: the directory to list; empty for the current one
  std::string mask;       // List: what names must match; empty matches all
  std::string path;       // LookUp: the path to look up
};

SearchPlan planSearch(std::string_view pattern);
// The library's one Windows matcher (kernel/names.h), so a mask finds the same names here as on a
// local disk; an empty mask matches every name.
bool matchesMask(std::string_view mask, std::string_view name);
// The last component of a path ("/pub/readme.txt" -> "readme.txt", "/pub/" -> "pub", "/" -> "/").
std::string baseName(std::string_view path);

}  // namespace inet
