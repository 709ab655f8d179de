// Fixed-width texts.
//
// The system keeps every text in a field of fixed width, as its window definitions and stored records
// do. Two kinds exist:
//   ZText<N>  zero-ended: N bytes, at most N - 1 characters, always terminated.
//   PText<N>  blank-padded: N characters, no terminator; unused positions hold blanks.
// Both are exactly N bytes with no other members, so a record made of them has the same layout as the
// plain C record of char arrays (the public header relies on that).
//
// Assigning cuts to the width, on a character boundary (utf8Fit); nothing ever writes past the field.
// Comparisons ignore trailing blanks. clip() is the explicit "without trailing blanks" of the system's
// texts.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace ui {

// The text without trailing blanks.
constexpr std::string_view clip(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

// The longest start of `s` that holds at most `capacity` bytes and does not end inside a UTF-8
// character: a cut that would split a character leaves the whole character out. Bytes that are not
// UTF-8 (a stray continuation byte, a Latin-1 text) are cut where the width says, as before.
constexpr std::string_view utf8Fit(std::string_view s, std::size_t capacity) {
  if (s.size() <= capacity) return s;
  auto continues = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
  if (!continues(s[capacity])) return s.substr(0, capacity);
  // The first byte left out continues a character: find where that character starts.
  std::size_t start = capacity;
  while (start > 0 && capacity - start < 3) {
    --start;
    if (!continues(s[start])) break;
  }
  const auto lead = static_cast<unsigned char>(s[start]);
  const std::size_t length = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  return s.substr(0, length != 0 && start + length > capacity ? start : capacity);
}

// The text without leading and trailing blanks.
constexpr std::string_view trim(std::string_view s) {
  s = clip(s);
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Equality that ignores trailing blanks on both sides.
constexpr bool sameText(std::string_view a, std::string_view b) { return clip(a) == clip(b); }

// Ordering that ignores trailing blanks on both sides (byte order).
inline std::strong_ordering compareText(std::string_view a, std::string_view b) {
  const int c = clip(a).compare(clip(b));
  return c < 0 ? std::strong_ordering::less
               : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
}

// Joins any number of string-like pieces into a std::string; the usual way to build a text before
// assigning it to a field (the field then cuts it).
template <typename... Parts>
std::string cat(const Parts&... parts) {
  std::string out;
  (out.append(std::string_view(parts)), ...);
  return out;
}

template <std::size_t N>
class ZText {
  static_assert(N >= 1, "a zero-ended text needs room for its terminator");

 public:
  static constexpr std::size_t capacity = N - 1;  // characters it can hold

  constexpr ZText() noexcept { buf_[0] = '\0'; }
  ZText(std::string_view s) noexcept { assign(s); }  // implicit, as assigning to a field is
  ZText(const char* s) noexcept { assign(s ? std::string_view(s) : std::string_view()); }
  ZText(const std::string& s) noexcept { assign(s); }

  ZText& operator=(std::string_view s) noexcept { return assign(s); }
  ZText& operator=(const char* s) noexcept { return assign(s ? std::string_view(s) : std::string_view()); }
  ZText& operator=(const std::string& s) noexcept { return assign(s); }

  ZText& assign(std::string_view s) noexcept {
    const std::size_t n = utf8Fit(s, capacity).size();
    // memmove: the source may be this very buffer (x = x.view().substr(..)).
    if (n) std::memmove(buf_, s.data(), n);
    buf_[n] = '\0';
    return *this;
  }
  void clear() noexcept { buf_[0] = '\0'; }

  // The text as stored (up to the terminator, trailing blanks kept).
  std::string_view view() const noexcept { return std::string_view(buf_, ::strnlen(buf_, N)); }
  std::string_view clip() const noexcept { return ui::clip(view()); }
  std::string str() const { return std::string(view()); }
  operator std::string_view() const noexcept { return view(); }  // implicit: reads as its text

  const char* c_str() const noexcept { return buf_; }
  // Raw buffer of N bytes, for platform calls that fill a text. ensureTerminated() afterwards.
  char* data() noexcept { return buf_; }
  static constexpr std::size_t size() noexcept { return N; }
  void ensureTerminated() noexcept { buf_[N - 1] = '\0'; }

  std::size_t length() const noexcept { return view().size(); }
  bool empty() const noexcept { return buf_[0] == '\0'; }
  bool blank() const noexcept { return clip().empty(); }  // empty or only blanks

  friend bool operator==(const ZText& a, std::string_view b) noexcept { return sameText(a.view(), b); }
  friend std::strong_ordering operator<=>(const ZText& a, std::string_view b) noexcept {
    return compareText(a.view(), b);
  }
  template <std::size_t M>
  friend bool operator==(const ZText& a, const ZText<M>& b) noexcept {
    return sameText(a.view(), b.view());
  }

 private:
  char buf_[N];
};

template <std::size_t N>
class PText {
  static_assert(N >= 1, "a text needs at least one character");

 public:
  static constexpr std::size_t capacity = N;

  constexpr PText() noexcept { std::fill(buf_, buf_ + N, ' '); }
  PText(std::string_view s) noexcept { assign(s); }  // implicit, as assigning to a field is
  PText(const char* s) noexcept { assign(s ? std::string_view(s) : std::string_view()); }
  PText(const std::string& s) noexcept { assign(s); }

  PText& operator=(std::string_view s) noexcept { return assign(s); }
  PText& operator=(const char* s) noexcept { return assign(s ? std::string_view(s) : std::string_view()); }
  PText& operator=(const std::string& s) noexcept { return assign(s); }

  PText& assign(std::string_view s) noexcept {
    const std::size_t n = utf8Fit(s, N).size();
    if (n) std::memmove(buf_, s.data(), n);
    std::fill(buf_ + n, buf_ + N, ' ');
    // A NUL taken from outside would end the text early for C readers; keep it a blank-padded text.
    std::replace(buf_, buf_ + n, '\0', ' ');
    return *this;
  }
  void clear() noexcept { std::fill(buf_, buf_ + N, ' '); }

  // All N characters, padding included.
  std::string_view view() const noexcept { return std::string_view(buf_, N); }
  std::string_view clip() const noexcept { return ui::clip(view()); }
  std::string str() const { return std::string(clip()); }
  operator std::string_view() const noexcept { return clip(); }  // implicit: reads without padding

  char* data() noexcept { return buf_; }
  static constexpr std::size_t size() noexcept { return N; }

  std::size_t length() const noexcept { return clip().size(); }
  bool empty() const noexcept { return clip().empty(); }
  bool blank() const noexcept { return clip().empty(); }

  friend bool operator==(const PText& a, std::string_view b) noexcept { return sameText(a.view(), b); }
  friend std::strong_ordering operator<=>(const PText& a, std::string_view b) noexcept {
    return compareText(a.view(), b);
  }
  template <std::size_t M>
  friend bool operator==(const PText& a, const PText<M>& b) noexcept {
    return sameText(a.view(), b.view());
  }

 private:
  char buf_[N];
};

}  // namespace ui
