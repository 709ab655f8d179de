// What nimbo-batch prints: a line for each file as the batch's report tells of it, and the summary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace cli {

struct FileLine {
  std::string name;
  std::string outcome;  // "done", "missing", ...
  std::uint64_t bytes = 0;
  double seconds = 0;
  std::uint32_t replyCode = 0;
  std::string reply;
  std::uint32_t error = 0;
  std::string errorText;
};

struct SummaryLine {
  std::uint64_t files = 0, done = 0, missing = 0, transient = 0, permanent = 0, local = 0, stopped = 0;
  std::uint64_t bytes = 0;
  double seconds = 0;
};

// One line of the batch's report; monostate for a line that is neither (or not JSON).
std::variant<std::monostate, FileLine, SummaryLine> parseReportLine(std::string_view line);

// "done              a.txt  5 bytes in 0.01 s", "missing           b.txt  550 No such file."
std::string describe(const FileLine& file);
// "2 of 3 files moved, 1 missing; 1,234 bytes in 0.52 s"
std::string describe(const SummaryLine& summary);

// The count of the batch window's progress text: "123 bytes" of "Received: 123 bytes." or of
// "Received: 123 bytes (resumed at byte 456)."; empty for any other text.
std::string byteCountShown(std::string_view progress);

// A text from a server or a file name, safe for a terminal: control characters (escape sequences
// included) shown as "?".
std::string printable(std::string_view text);

}  // namespace cli
