// The listing parser: any bytes as a LIST line and as an MLSD line, and as a size. An entry it
// returns has a name taken from the line, a size within 63 bits, and a time that is no negative
// FILETIME; a size is read exactly when it is all digits and fits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "listing_parser.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
  }
}

// The size rule restated: decimal digits, at most 2^63 - 1 once leading zeros are gone.
bool fitsSize(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  while (s.size() > 1 && s.front() == '0') s.remove_prefix(1);
  constexpr std::string_view kMax = "9223372036854775807";
  return s.size() < kMax.size() || (s.size() == kMax.size() && s <= kMax);
}

void checkEntry(inet::LineKind kind, const inet::RemoteEntry& e, std::string_view line, bool facts) {
  if (kind != inet::LineKind::Entry) return;
  require(!e.name.empty(), "an entry has a name");
  require(line.find(e.name) != std::string_view::npos, "the name comes from the line");
  if (facts || !e.link) require(line.substr(line.size() - e.name.size()) == e.name, "the name ends the line");
  require(!e.size || *e.size <= static_cast<uint64_t>(INT64_MAX), "a size fits 63 bits");
  require(e.modified >= 0, "no negative time");
  if (facts && e.directory) require(!e.size, "a directory read from facts has no size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  inet::RemoteEntry e;
  checkEntry(inet::parseListLine(line, inet::Today{2024, 6, 15}, e), e, line, false);
  checkEntry(inet::parseFactsLine(line, e), e, line, true);

  const auto parsed = inet::parseSize(line);
  require(parsed.has_value() == fitsSize(line), "a size is read exactly when it is digits that fit");
  if (parsed)
    require(std::to_string(*parsed) == std::to_string(std::strtoull(std::string(line).c_str(), nullptr, 10)),
            "a size reads as its digits say");
  return 0;
}
