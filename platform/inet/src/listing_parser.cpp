#include "listing_parser.h"

#include <charconv>
#include <cstring>
#include <ctime>
#include <vector>

#include "kernel/ascii.h"

namespace inet {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!isDigit(c)) return false;
  return true;
}

std::optional<int> smallNumber(std::string_view s) {
  if (!allDigits(s) || s.size() > 4) return std::nullopt;
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// A DOS listing may group a size's digits with commas ("1,234,567").
std::optional<uint64_t> sizeWithCommas(std::string_view s) {
  std::string digits;
  for (char c : s)
    if (c != ',') digits += c;
  return parseSize(digits);
}

int monthOf(std::string_view s) {
  static const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() != 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (kernel::equalIgnoringAsciiCase(s, names[m])) return m + 1;
  return 0;
}

struct Token {
  std::string_view text;
  size_t end;  // offset just past it in the line
};

std::vector<Token> tokens(std::string_view line, size_t from) {
  std::vector<Token> out;
  size_t i = from;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    if (i > start) out.push_back({line.substr(start, i - start), i});
  }
  return out;
}

// "H:MM" or "HH:MM"; hour 24 is accepted (some servers write midnight so).
bool clock(std::string_view s, int& hour, int& minute) {
  size_t colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || s.size() != colon + 3) return false;
  auto h = smallNumber(s.substr(0, colon));
  auto m = smallNumber(s.substr(colon + 1));
  if (!h || !m || *h > 24 || *m > 59) return false;
  hour = *h;
  minute = *m;
  return true;
}

bool dayOfMonth(std::string_view s, int& day) {
  if (!s.empty() && s.back() == ',') s.remove_suffix(1);
  auto d = smallNumber(s);
  if (!d || *d < 1 || *d > 31 || s.size() > 2) return false;
  day = *d;
  return true;
}

bool isYear(std::string_view s, int& year) {
  auto y = smallNumber(s);
  if (!y || s.size() != 4 || *y < 1601) return false;
  year = *y;
  return true;
}

int64_t daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Stamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  bool hasYear = false;
};

int64_t ticksOf(Stamp s, const Today& today) {
  if (!s.hasYear) {
    s.year = today.year;
    // No year means within the last half year: a date more than about six months ahead is last year's.
    if (daysFromCivil(s.year, s.month, s.day) - daysFromCivil(today.year, today.month, today.day) > 183)
      --s.year;
  }
  return fileTimeTicks(s.year, s.month, s.day, s.hour, s.minute, 0);
}

// Tries to read a date at tokens[i]; on success `last` is the index of its last token.
bool dateAt(const std::vector<Token>& t, size_t i, Stamp& s, size_t& last) {
  auto timeOrYear = [&](size_t k) {
    if (k >= t.size()) return false;
    if (clock(t[k].text, s.hour, s.minute)) return true;
    if (isYear(t[k].text, s.year)) return s.hasYear = true;
    return false;
  };
  // "Mon DD HH:MM|YYYY", and "Mon DD, YYYY HH:MM"
  if ((s.month = monthOf(t[i].text)) && i + 2 < t.size() && dayOfMonth(t[i + 1].text, s.day)) {
    if (t[i + 1].text.back() == ',' && i + 3 < t.size() && isYear(t[i + 2].text, s.year) &&
        clock(t[i + 3].text, s.hour, s.minute)) {
      s.hasYear = true;
      last = i + 3;
      return true;
    }
    if (timeOrYear(i + 2)) {
      last = i + 2;
      return true;
    }
  }
  // "DD Mon HH:MM|YYYY"
  if (i + 2 < t.size() && dayOfMonth(t[i].text, s.day) && (s.month = monthOf(t[i + 1].text)) &&
      timeOrYear(i + 2)) {
    last = i + 2;
    return true;
  }
  // "YYYY-MM-DD HH:MM"
  std::string_view iso = t[i].text;
  if (iso.size() == 10 && iso[4] == '-' && iso[7] == '-' && i + 1 < t.size()) {
    auto y = smallNumber(iso.substr(0, 4)), m = smallNumber(iso.substr(5, 2)),
         d = smallNumber(iso.substr(8, 2));
    if (y && m && d && *m >= 1 && *m <= 12 && *d >= 1 && *d <= 31 && clock(t[i + 1].text, s.hour, s.minute)) {
      s.year = *y;
      s.month = *m;
      s.day = *d;
      s.hasYear = true;
      last = i + 1;
      return true;
    }
  }
  return false;
}

bool permissions(std::string_view first) {
  if (first.size() < 10) return false;
  if (std::strchr("-dlcbpsD", first[0]) == nullptr || first[0] == '\0') return false;
  for (size_t i = 1; i < 10; ++i)
    if (std::strchr("-rwxsStTlL", first[i]) == nullptr || first[i] == '\0') return false;
  return true;
}

LineKind parseUnix(std::string_view line, const Today& today, RemoteEntry& out) {
  std::vector<Token> t = tokens(line, 0);
  if (t.empty()) return LineKind::Ignored;
  if (t.size() == 2 && kernel::equalIgnoringAsciiCase(t[0].text, "total") && allDigits(t[1].text))
    return LineKind::Ignored;
  if (!permissions(t[0].text)) return LineKind::Unparsed;
  const char type = t[0].text[0];
  // The size is the number just before the date; the first date from the left wins, so a name that
  // holds a date-like word does not fool it.
  for (size_t i = 2; i < t.size(); ++i) {
    Stamp s;
    size_t last = 0;
    if (!dateAt(t, i, s, last)) continue;
    auto size = parseSize(t[i - 1].text);
    if (!size && !allDigits(t[i - 1].text)) continue;
    size_t nameStart = t[last].end + 1;  // exactly one blank follows the date
    if (nameStart >= line.size()) return LineKind::Unparsed;
    std::string_view name = line.substr(nameStart);
    out = RemoteEntry{};
    out.directory = type == 'd' || type == 'D';
    out.link = type == 'l';
    if (out.link) {
      if (size_t arrow = name.find(" -> "); arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    if (s.hour == 24) s.hour = 0;  // midnight written as the end of the day before: close enough
    out.name.assign(name);
    out.size = size;
    out.modified = ticksOf(s, today);
    return out.name.empty() ? LineKind::Unparsed : LineKind::Entry;
  }
  return LineKind::Unparsed;
}

LineKind parseDos(std::string_view line, RemoteEntry& out) {
  std::vector<Token> t = tokens(line, 0);
  if (t.size() < 4) return LineKind::Unparsed;
  std::string_view date = t[0].text;
  int y = 0, m = 0, d = 0;
  auto part = [&](size_t at, size_t len) { return smallNumber(date.substr(at, len)); };
  if ((date.size() == 8 || date.size() == 10) && (date[2] == '-' || date[2] == '/') && date[5] == date[2]) {
    auto mm = part(0, 2), dd = part(3, 2), yy = part(6, date.size() - 6);
    if (!mm || !dd || !yy) return LineKind::Unparsed;
    m = *mm;
    d = *dd;
    y = date.size() == 8 ? (*yy < 70 ? 2000 + *yy : 1900 + *yy) : *yy;
  } else if (date.size() == 10 && date[4] == '-' && date[7] == '-') {
    auto yy = part(0, 4), mm = part(5, 2), dd = part(8, 2);
    if (!mm || !dd || !yy) return LineKind::Unparsed;
    y = *yy;
    m = *mm;
    d = *dd;
  } else {
    return LineKind::Unparsed;
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return LineKind::Unparsed;

  std::string_view time = t[1].text;
  int hour = 0, minute = 0;
  bool pm = false, am = false;
  if (time.size() > 2 && (kernel::equalIgnoringAsciiCase(time.substr(time.size() - 2), "PM") ||
                          kernel::equalIgnoringAsciiCase(time.substr(time.size() - 2), "AM"))) {
    pm = kernel::equalIgnoringAsciiCase(time.substr(time.size() - 2), "PM");
    am = !pm;
    time.remove_suffix(2);
  }
  if (!clock(time, hour, minute) || hour > 23) return LineKind::Unparsed;
  if ((am || pm) && (hour < 1 || hour > 12)) return LineKind::Unparsed;
  if (pm && hour < 12) hour += 12;
  if (am && hour == 12) hour = 0;

  out = RemoteEntry{};
  std::string_view kind = t[2].text;
  if (kernel::equalIgnoringAsciiCase(kind, "<DIR>")) {
    out.directory = true;
  } else {
    out.size = sizeWithCommas(kind);
    if (!out.size) return LineKind::Unparsed;
  }
  size_t nameStart = t[2].end;
  while (nameStart < line.size() && line[nameStart] == ' ') ++nameStart;
  if (nameStart >= line.size()) return LineKind::Unparsed;
  out.name.assign(line.substr(nameStart));
  out.modified = fileTimeTicks(y, m, d, hour, minute, 0);
  return LineKind::Entry;
}

}  // namespace

Today today() {
  time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  return Today{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

int64_t fileTimeTicks(int year, int month, int day, int hour, int minute, int second) {
  int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  int64_t ticks = seconds * kTicksPerSecond + kUnixEpochTicks;
  return ticks < 0 ? 0 : ticks;
}

LineKind parseListLine(std::string_view line, const Today& today, RemoteEntry& out) {
  if (!line.empty() && isDigit(line[0])) return parseDos(line, out);
  return parseUnix(line, today, out);
}

LineKind parseFactsLine(std::string_view line, RemoteEntry& out) {
  // Facts hold no blanks; the first ';' followed by a blank (a TAB on some servers) ends them, and
  // every byte after that one blank is the name.
  size_t split = std::string_view::npos;
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == ' ') break;
    if (line[i] == ';' && (line[i + 1] == ' ' || line[i + 1] == '\t')) {
      split = i;
      break;
    }
  }
  if (split == std::string_view::npos || split + 2 > line.size()) return LineKind::Unparsed;
  std::string_view facts = line.substr(0, split + 1);
  out = RemoteEntry{};
  out.name.assign(line.substr(split + 2));
  bool typed = false;
  while (!facts.empty()) {
    size_t semi = facts.find(';');
    std::string_view fact = facts.substr(0, semi);
    facts.remove_prefix(semi == std::string_view::npos ? facts.size() : semi + 1);
    size_t eq = fact.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = fact.substr(0, eq), value = fact.substr(eq + 1);
    if (kernel::equalIgnoringAsciiCase(key, "type")) {
      typed = true;
      if (kernel::equalIgnoringAsciiCase(value, "cdir") || kernel::equalIgnoringAsciiCase(value, "pdir"))
        return LineKind::Ignored;
      if (kernel::equalIgnoringAsciiCase(value, "dir")) {
        out.directory = true;
      } else if (value.size() >= 13 && kernel::equalIgnoringAsciiCase(value.substr(0, 8), "OS.unix=")) {
        std::string_view what = value.substr(8);
        out.link = kernel::equalIgnoringAsciiCase(what.substr(0, 5), "slink") ||
                   kernel::equalIgnoringAsciiCase(what, "symlink");
      }
    } else if (kernel::equalIgnoringAsciiCase(key, "size") || kernel::equalIgnoringAsciiCase(key, "sizd")) {
      out.size = parseSize(value);
    } else if (kernel::equalIgnoringAsciiCase(key, "UNIX.mode") && !value.empty() && value.size() <= 6 &&
               value.find_first_not_of("01234567") == std::string_view::npos) {
      unsigned mode = 0;
      for (char c : value) mode = mode * 8 + static_cast<unsigned>(c - '0');
      out.unixMode = mode & 07777;
    } else if (kernel::equalIgnoringAsciiCase(key, "modify") && value.size() >= 14) {
      auto y = smallNumber(value.substr(0, 4)), mo = smallNumber(value.substr(4, 2)),
           d = smallNumber(value.substr(6, 2));
      auto h = smallNumber(value.substr(8, 2)), mi = smallNumber(value.substr(10, 2)),
           s = smallNumber(value.substr(12, 2));
      if (y && mo && d && h && mi && s && *mo >= 1 && *mo <= 12 && *d >= 1 && *d <= 31 && *h < 24 &&
          *mi < 60 && *s < 61) {
        // MLSD times are UTC; the find data shows local time.
        tm utc{};
        utc.tm_year = *y - 1900;
        utc.tm_mon = *mo - 1;
        utc.tm_mday = *d;
        utc.tm_hour = *h;
        utc.tm_min = *mi;
        utc.tm_sec = *s;
        time_t when = ::timegm(&utc);
        tm local{};
        if (::localtime_r(&when, &local))
          out.modified = fileTimeTicks(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                       local.tm_min, local.tm_sec);
      }
    }
  }
  if (!typed || out.name.empty()) return LineKind::Unparsed;
  if (out.directory) out.size.reset();
  return LineKind::Entry;
}

std::optional<uint64_t> parseSize(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : digits) {
    if (!isDigit(c)) return std::nullopt;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (static_cast<uint64_t>(INT64_MAX) - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

bool usableName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace inet
