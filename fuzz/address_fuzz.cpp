// The addresses a server sends and a user types: PASV and EPSV replies, 257 paths and host:port
// server names. Whatever each accepts, it read strictly: the port is the one the text names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

// What a 227 reply's port must be: the first comma-separated run after the code that holds five
// commas or more, read as exactly six numbers of 0..255.
long pasvPortOf(std::string_view reply) {
  size_t i = reply.size() > 3 ? 3 : reply.size();
  while (i < reply.size()) {
    if (!isDigit(reply[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < reply.size() && (isDigit(reply[end]) || reply[end] == ',')) ++end;
    const std::string_view run = reply.substr(i, end - i);
    i = end;
    std::vector<std::string_view> fields;
    size_t from = 0;
    for (size_t comma; (comma = run.find(',', from)) != std::string_view::npos; from = comma + 1)
      fields.push_back(run.substr(from, comma - from));
    fields.push_back(run.substr(from));
    if (fields.size() < 6) continue;
    if (fields.size() != 6) return -1;
    long n[6];
    for (int k = 0; k < 6; ++k)
      if ((n[k] = numberUpTo(fields[k], 255)) < 0) return -1;
    const long port = n[4] * 256 + n[5];
    return port == 0 ? -1 : port;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto pasv = inet::parsePasvPort(text);
  const long expected = pasvPortOf(text);
  require(pasv.has_value() == (expected >= 0), "a 227 reply is read exactly when it is well formed");
  if (pasv) require(*pasv == expected, "the PASV port is the one the reply names");

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
