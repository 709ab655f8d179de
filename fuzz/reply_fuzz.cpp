// The reply reader: any bytes from a server, fed in pieces of any size. The replies it frames do not
// depend on how the bytes were cut; each starts with its code, ends as FTP says a reply ends, and
// stays within the line and reply caps.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "reply_reader.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
  }
}

struct Result {
  std::vector<inet::Reply> replies;
  bool malformed = false;
};

// Feeds the bytes in pieces whose sizes come from `seed` (0: all at once), taking replies as they come.
Result readAll(std::string_view bytes, unsigned seed) {
  Result out;
  inet::ReplyReader reader;
  size_t at = 0;
  unsigned state = seed;
  while (at < bytes.size() && !out.malformed) {
    size_t piece = bytes.size() - at;
    if (seed) {
      state = state * 1103515245u + 12345u;
      piece = std::min<size_t>(piece, 1 + (state >> 16) % 64);
    }
    reader.feed(bytes.data() + at, piece);
    at += piece;
    for (;;) {
      const inet::Reply* peeked = reader.peek();
      inet::Reply r;
      const auto s = reader.next(r);
      if (s == inet::ReplyReader::State::Malformed) {
        require(!peeked, "nothing to peek at in malformed bytes");
        out.malformed = true;
        break;
      }
      if (s != inet::ReplyReader::State::Ready) break;
      out.replies.push_back(r);
    }
  }
  return out;
}

void checkReply(const inet::Reply& r) {
  require(r.code >= 100 && r.code <= 599, "a code from 100 to 599");
  const std::string code = std::to_string(r.code);
  require(r.text.compare(0, 3, code) == 0, "the text starts with the code");
  require(r.text.size() <= inet::ReplyReader::kMaxReply, "a reply within its cap");
  std::vector<std::string_view> lines;
  std::string_view rest = r.text;
  for (;;) {
    const size_t end = rest.find("\r\n");
    lines.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 2);
  }
  for (std::string_view line : lines) {
    require(line.size() <= inet::ReplyReader::kMaxLine, "lines within their cap");
    require(line.find('\n') == std::string_view::npos, "no line end inside a line");
  }
  const std::string_view last = lines.back();
  require(last.substr(0, 3) == code && (last.size() == 3 || last[3] == ' '),
          "a reply ends with a line of its code and a blank");
  if (lines.size() > 1)
    require(lines.front().size() > 3 && lines.front()[3] == '-', "several lines begin with ddd-");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned seed = data[0] | 1u;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Result whole = readAll(bytes, 0);
  const Result pieces = readAll(bytes, seed);
  require(whole.malformed == pieces.malformed, "malformed however the bytes are cut");
  require(whole.replies.size() == pieces.replies.size(), "as many replies however the bytes are cut");
  size_t wire = 0;
  for (size_t i = 0; i < whole.replies.size(); ++i) {
    const inet::Reply& a = whole.replies[i];
    const inet::Reply& b = pieces.replies[i];
    require(a.code == b.code && a.text == b.text && a.wireBytes == b.wireBytes,
            "the same replies however cut");
    checkReply(a);
    wire += a.wireBytes;
  }
  require(wire <= bytes.size(), "replies take no more bytes than came");
  return 0;
}
