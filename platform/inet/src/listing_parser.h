// Directory listings as servers send them: Unix "ls -l" and DOS/IIS lines from LIST, and RFC 3659
// facts lines from MLSD and MLST. Every line is hostile until parsed: any bytes, any length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

struct RemoteEntry {
  std::string name;
  bool directory = false;
  bool link = false;
  std::optional<uint64_t> size;      // none when the line gives none or an impossible one
  int64_t modified = 0;              // FILETIME ticks of the local wall-clock time; 0 when unknown
  std::optional<unsigned> unixMode;  // the permission bits of an MLSD/MLST "UNIX.mode" fact
};

// The client's date, to place "Mon DD HH:MM" (no year) in the right year.
struct Today {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;
};
Today today();

enum class LineKind {
  Entry,     // out is filled
  Ignored,   // not an entry: "total 20", the directory itself, its parent
  Unparsed,  // a line we do not understand
};

LineKind parseListLine(std::string_view line, const Today& today, RemoteEntry& out);
// One MLSD line, or the entry line of an MLST reply without its leading blank. A link whose facts
// name it as one ("type=OS.unix=slink:..." or "=symlink") is an entry with `link` set and the link's
// own facts: what it leads to is for the caller to find out.
LineKind parseFactsLine(std::string_view line, RemoteEntry& out);

// A byte count as a server writes it, in a listing or a SIZE reply: decimal digits only, at most
// 2^63 - 1. Anything else is no size; a larger count (2^64 - 1 is some servers' "unknown") cannot be
// a file's size.
std::optional<uint64_t> parseSize(std::string_view digits);

// Names that a server lists are data, not paths: no "/", "\" or NUL, not empty, not "." or "..".
bool usableName(std::string_view name);

// FILETIME ticks of a calendar time read as if it were UTC.
int64_t fileTimeTicks(int year, int month, int day, int hour, int minute, int second);

}  // namespace inet
