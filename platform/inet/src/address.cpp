#include "address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace inet {
namespace {

std::optional<uint16_t> portNumber(std::string_view text) {
  unsigned value = 0;
  if (text.empty() || text.size() > 5) return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535)
    return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<HostPort> parseServerName(std::string_view name) {
  HostPort out;
  if (!name.empty() && name.front() == '[') {
    size_t close = name.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host.assign(name.substr(1, close - 1));
    std::string_view rest = name.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      out.port = portNumber(rest.substr(1));
      if (!out.port) return std::nullopt;
    }
  } else if (size_t colon = name.find(':');
             colon != std::string_view::npos && name.find(':', colon + 1) == std::string_view::npos) {
    out.host.assign(name.substr(0, colon));
    out.port = portNumber(name.substr(colon + 1));
    if (!out.port) return std::nullopt;
  } else {
    out.host.assign(name);  // a name, or an IPv6 address without brackets (several colons)
  }
  if (out.host.empty()) return std::nullopt;
  return out;
}

std::optional<uint16_t> parsePasvPort(std::string_view reply) {
  // "h1,h2,h3,h4,p1,p2", with or without parentheses, somewhere after the code. The first run of
  // digits and commas that holds five commas or more is the address: it must be six numbers, each
  // read whole and each 0..255; anything else refuses the reply rather than guess at a port.
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = reply.size() > 3 ? 3 : reply.size();
  while (i < reply.size()) {
    if (!isDigit(reply[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < reply.size() && (isDigit(reply[end]) || reply[end] == ',')) ++end;
    std::string_view run = reply.substr(i, end - i);
    i = end;
    if (std::count(run.begin(), run.end(), ',') < 5) continue;
    unsigned n[6];
    for (int k = 0; k < 6; ++k) {
      const size_t comma = run.find(',');
      const std::string_view number = run.substr(0, comma);
      const bool last = k == 5;
      if (number.empty() || last != (comma == std::string_view::npos)) return std::nullopt;
      unsigned value = 0;
      for (char c : number) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return std::nullopt;
      }
      n[k] = value;
      run.remove_prefix(comma == std::string_view::npos ? run.size() : comma + 1);
    }
    const unsigned port = n[4] * 256 + n[5];
    if (port == 0) return std::nullopt;
    return static_cast<uint16_t>(port);
  }
  return std::nullopt;
}

std::optional<uint16_t> parseEpsvPort(std::string_view reply) {
  size_t open = reply.find('(');
  if (open == std::string_view::npos || open + 4 >= reply.size()) return std::nullopt;
  char d = reply[open + 1];
  if (d < 33 || d > 126 || reply[open + 2] != d || reply[open + 3] != d) return std::nullopt;
  size_t end = reply.find(d, open + 4);
  if (end == std::string_view::npos) return std::nullopt;
  return portNumber(reply.substr(open + 4, end - open - 4));
}

std::string eprtArgument(const Endpoint& e) {
  return std::string(e.family() == AF_INET6 ? "|2|" : "|1|") + e.host() + "|" + std::to_string(e.port()) +
         "|";
}

std::optional<std::string> portArgument(const Endpoint& e) {
  if (e.family() != AF_INET) return std::nullopt;
  std::string host = e.host();
  for (char& c : host)
    if (c == '.') c = ',';
  return host + "," + std::to_string(e.port() >> 8) + "," + std::to_string(e.port() & 0xff);
}

std::optional<std::string> parseQuotedPath(std::string_view reply) {
  size_t open = reply.find('"');
  if (open == std::string_view::npos) return std::nullopt;
  std::string path;
  for (size_t i = open + 1; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      path += reply[i];
    } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
      path += '"';
      ++i;
    } else {
      return path;
    }
  }
  return std::nullopt;
}

}  // namespace inet
