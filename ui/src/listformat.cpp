// Pictures and list format strings.
#include "listformat.h"

#include <cstdlib>

#include "kernel/ascii.h"

namespace ui::detail {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int readNumber(std::string_view s, std::size_t& pos) {
  long v = 0;
  while (pos < s.size() && isDigit(s[pos]) && v < 100000) v = v * 10 + (s[pos++] - '0');
  return static_cast<int>(v);
}

}  // namespace

std::optional<Picture> parsePicture(std::string_view text, std::string& error) {
  std::string_view t = text;
  if (t.size() >= 2 && t.back() == '@') t.remove_suffix(1);
  if (t.size() < 3 || t[0] != '@') {
    error = "bad picture \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  Picture p;
  p.type = kernel::asciiLower(t[1]);
  std::size_t pos = 2;
  if (p.type == 'n' && pos < t.size() && t[pos] == '-') {
    p.sign = true;
    ++pos;
  }
  if ((p.type != 's' && p.type != 'n') || pos >= t.size() || !isDigit(t[pos])) {
    error = "bad picture \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  p.width = readNumber(t, pos);
  if (pos != t.size() || p.width <= 0 || p.width > 65535) {
    error = "bad picture \"" + std::string(text) + "\"";
    return std::nullopt;
  }
  return p;
}

std::string applyPicture(const Picture& p, std::string_view value) {
  if (p.type == 's') {
    // Cut at a character boundary, counting UTF-8 sequences as one character.
    std::size_t chars = 0, i = 0;
    while (i < value.size() && chars < static_cast<std::size_t>(p.width)) {
      ++i;
      while (i < value.size() && (static_cast<unsigned char>(value[i]) & 0xC0) == 0x80) ++i;
      ++chars;
    }
    return std::string(value.substr(0, i));
  }
  std::string v(value);
  while (!v.empty() && v.front() == ' ') v.erase(0, 1);
  while (!v.empty() && v.back() == ' ') v.pop_back();
  if (v.empty()) return "0";
  char* end = nullptr;
  const long long n = std::strtoll(v.c_str(), &end, 10);
  if (!end || *end != '\0') return std::string(static_cast<std::size_t>(p.width), '#');
  std::string out = std::to_string(n);
  const std::size_t digits = out.size() - (n < 0 ? 1 : 0);
  if ((n < 0 && !p.sign) || digits > static_cast<std::size_t>(p.width))
    return std::string(static_cast<std::size_t>(p.width), '#');
  return out;
}

std::optional<ListFormat> parseListFormat(std::string_view s, std::string& error) {
  ListFormat f;
  std::size_t pos = 0;
  auto fail = [&](const std::string& why) {
    error = "bad list format \"" + std::string(s) + "\" at " + std::to_string(pos + 1) + ": " + why;
    return std::nullopt;
  };
  if (s.empty()) return fail("empty");
  auto readFlags = [&](ListColumn& c) -> bool {
    while (pos < s.size()) {
      const char ch = s[pos];
      if (ch == '|') {
        c.rightBorder = true;
      } else if (ch == 'M') {
        c.resizable = true;
      } else if (ch == 'I') {
        c.icon = true;
      } else if (ch == 'T') {
        c.tree = true;
        if (pos + 1 < s.size() && s[pos + 1] == '(') {
          const std::size_t close = s.find(')', pos);
          if (close == std::string_view::npos) return false;
          pos = close;
        }
      } else if (ch == '?') {
        c.locator = true;
      } else if (ch == '_' || ch == '/' || ch == 'Y') {
        // underline, new line, colour: drawing details this runtime leaves to the style
      } else {
        break;
      }
      ++pos;
    }
    return true;
  };
  while (pos < s.size()) {
    ListColumn c;
    if (!isDigit(s[pos])) return fail("a column starts with its width");
    c.width = readNumber(s, pos);
    if (pos >= s.size()) return fail("alignment missing");
    c.align = s[pos];
    if (c.align != 'L' && c.align != 'R' && c.align != 'C' && c.align != 'D')
      return fail("alignment L, R, C or D");
    ++pos;
    if (pos < s.size() && s[pos] == '(') {
      ++pos;
      if (pos >= s.size() || !isDigit(s[pos])) return fail("indent");
      c.indent = readNumber(s, pos);
      if (pos >= s.size() || s[pos] != ')') return fail("indent not closed");
      ++pos;
    }
    if (!readFlags(c)) return fail("modifier not closed");
    if (pos < s.size() && s[pos] == '~') {
      const std::size_t close = s.find('~', pos + 1);
      if (close == std::string_view::npos) return fail("header not closed");
      c.header = std::string(s.substr(pos + 1, close - pos - 1));
      f.hasHeader = true;
      pos = close + 1;
      // A header may carry its own alignment, as in ~Name~L(2).
      if (pos < s.size() && (s[pos] == 'L' || s[pos] == 'R' || s[pos] == 'C')) {
        ++pos;
        if (pos < s.size() && s[pos] == '(') {
          const std::size_t close2 = s.find(')', pos);
          if (close2 == std::string_view::npos) return fail("header indent not closed");
          pos = close2 + 1;
        }
      }
    }
    if (pos >= s.size() || s[pos] != '@') return fail("picture missing");
    const std::size_t close = s.find('@', pos + 1);
    if (close == std::string_view::npos) return fail("picture not closed");
    std::string perr;
    auto pic = parsePicture(s.substr(pos, close - pos + 1), perr);
    if (!pic) return fail(perr);
    c.picture = *pic;
    pos = close + 1;
    if (!readFlags(c)) return fail("modifier not closed");
    if (pos < s.size() && !isDigit(s[pos])) return fail(std::string("unexpected '") + s[pos] + "'");
    c.textCell = f.cellCount++;
    if (c.icon) c.iconCell = f.cellCount++;
    if (c.tree) {
      if (f.treeColumn >= 0) return fail("only one tree column");
      c.levelCell = f.cellCount++;
      f.treeColumn = static_cast<int>(f.columns.size());
    }
    f.columns.push_back(std::move(c));
  }
  return f;
}

}  // namespace ui::detail
