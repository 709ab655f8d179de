// The addresses a server sends and a user types: PASV and EPSV replies, 257 paths and host:port
// server names. Whatever each accepts, it read strictly: the port is the one the text names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "address.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n", what);
    std::abort();
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number of any length, or -1 when it is not one or passes `limit`.
long numberUpTo(std::string_view s, long limit) {
  if (s.empty()) return -1;
  long v = 0;
  for (char c : s) {
    if (!isDigit(c)) return -1;
    v = v * 10 + (c - '0');
    if (v > limit) return -1;
  }
  return v;
}

// A 227 reply built from six numbers, as a server writes it.
std::string pasvReply(const unsigned (&n)[6], std::string_view tail = "") {
  std::string reply = "227 Entering Passive Mode (";
  for (int k = 0; k < 6; ++k) reply += (k ? "," : "") + std::to_string(n[k]);
  return reply + std::string(tail) + ").";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Whatever the text, an accepted PASV reply names a usable port.
  if (const auto pasv = inet::parsePasvPort(text)) require(*pasv >= 1, "a PASV port is never 0");
  // Six numbers from the input, written as a server writes them, read back exactly; one out of range
  // or a seventh number refuses the reply rather than guess.
  if (size >= 6) {
    unsigned n[6];
    for (int k = 0; k < 6; ++k) n[k] = data[k];
    const unsigned port = n[4] * 256 + n[5];
    const auto read = inet::parsePasvPort(pasvReply(n));
    require(port == 0 ? !read : read && *read == port, "a well-formed 227 reply gives its port");
    unsigned wide[6] = {n[0], n[1], n[2], n[3], n[4], n[5]};
    wide[data[0] % 6] += 256;
    require(!inet::parsePasvPort(pasvReply(wide)), "a number above 255 refuses the reply");
    require(!inet::parsePasvPort(pasvReply(n, ",1")), "a seventh number refuses the reply");
  }

  if (const auto epsv = inet::parseEpsvPort(text)) {
    require(*epsv >= 1, "an EPSV port is never 0");
    const size_t open = text.find('(');
    require(open != std::string_view::npos && open + 4 < text.size(), "an EPSV reply has its parenthesis");
    const char d = text[open + 1];
    const size_t end = text.find(d, open + 4);
    require(text[open + 2] == d && text[open + 3] == d && end != std::string_view::npos,
            "the port sits between three delimiters and a fourth");
    require(numberUpTo(text.substr(open + 4, end - open - 4), 65535) == *epsv,
            "the EPSV port is the one named");
  }

  if (const auto path = inet::parseQuotedPath(text)) {
    std::string quoted = "\"";
    for (char c : *path) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += '"';
    require(text.find(quoted) != std::string_view::npos, "a 257 path is the quoted text, quotes undoubled");
  }

  if (const auto name = inet::parseServerName(text)) {
    require(!name->host.empty(), "a server name has a host");
    require(!name->port || *name->port >= 1, "a port in a name is never 0");
    // Written back in the form a user would type, it reads the same.
    if (name->host.find_first_of("[]") == std::string::npos) {
      std::string again = name->host.find(':') == std::string::npos ? name->host : "[" + name->host + "]";
      if (name->port) again += ":" + std::to_string(*name->port);
      const auto reread = inet::parseServerName(again);
      require(reread && reread->host == name->host && reread->port == name->port, "a server name reads back");
    }
  }
  return 0;
}
