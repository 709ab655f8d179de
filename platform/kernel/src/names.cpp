#include "kernel/names.h"

namespace kernel::names {

namespace {

// Bytes that do not form valid UTF-8 decode to values above every code point, one per byte.
constexpr char32_t kRawByte = 0x110000;

struct Decoded {
  char32_t value;
  std::size_t length;
};

Decoded decode(std::string_view s, std::size_t pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t length = b0 >= 0xF0 && b0 < 0xF5 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (b0 >= 0xF5) length = 0;
  if (length == 0 || pos + length > s.size()) return {kRawByte + b0, 1};
  char32_t value = b0 & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return {kRawByte + b0, 1};
    value = (value << 6) | (b & 0x3F);
  }
  // Overlong forms and surrogates are not UTF-8.
  const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {kRawByte + b0, 1};
  return {value, length};
}

char32_t fold(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    const bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (evenUpper && c % 2 == 0) return c + 1;
    if (oddUpper && c % 2 == 1) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek capitals
  if (c == 0x3C2) return 0x3C3;                               // final sigma
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic capitals
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

bool globMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starPattern = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      const Decoded pc = decode(pattern, p);
      if (pc.value == '*') {
        starPattern = p + pc.length;
        starName = n;
        p += pc.length;
        continue;
      }
      const Decoded nc = decode(name, n);
      if (pc.value == '?' || fold(pc.value) == fold(nc.value)) {
        p += pc.length;
        n += nc.length;
        continue;
      }
    }
    if (starPattern == std::string_view::npos) return false;
    // Let the last "*" take one more character and try again from there.
    starName += decode(name, starName).length;
    n = starName;
    p = starPattern;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const Decoded x = decode(a, i), y = decode(b, j);
    if (fold(x.value) != fold(y.value)) return false;
    i += x.length;
    j += y.length;
  }
  return i == a.size() && j == b.size();
}

std::string folded(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const Decoded d = decode(name, i);
    const char32_t c = fold(d.value);
    if (c >= kRawByte) {
      out += static_cast<char>(c - kRawByte);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
    i += d.length;
  }
  return out;
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (globMatch(pattern, name)) return true;
  if (name.find('.') != std::string_view::npos) return false;
  std::string dotted(name);
  dotted += '.';
  return globMatch(pattern, dotted);
}

bool hasWildcards(std::string_view pattern) { return pattern.find_first_of("*?") != std::string_view::npos; }

}  // namespace kernel::names
