#include "arguments.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace cli {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool validHostName(std::string_view host) {
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-' || c == '_'; });
}

bool validAddress6(std::string_view inside) {
  if (inside.empty() || inside.find(':') == std::string_view::npos) return false;
  return std::all_of(inside.begin(), inside.end(),
                     [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

// The authority of a URL (between "://" and the path), or nothing when the text has no scheme.
std::optional<std::pair<std::size_t, std::size_t>> authorityOf(std::string_view text) {
  const std::size_t scheme = text.find("://");
  if (scheme == std::string_view::npos) return std::nullopt;
  const std::size_t start = scheme + 3;
  const std::size_t end = std::min(text.find('/', start), text.size());
  return std::pair{start, end};
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string Url::serverName() const {
  std::string name = host;
  if (!port.empty()) name += ":" + port;
  return scheme == "ftp" ? name : scheme + "://" + name;
}

std::string Url::machine() const {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char c = static_cast<char>(high * 16 + low);
    if (c == '\0' || c == '\r' || c == '\n') return std::nullopt;
    out += c;
    i += 2;
  }
  return out;
}

std::variant<Url, UrlError> parseUrl(std::string_view text) {
  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string_view::npos)
    return UrlError{"'" + std::string(text) +
                    "' is not a URL: it must begin with ftp://, ftpes:// or ftps://"};
  Url url;
  url.scheme = lowered(text.substr(0, schemeEnd));
  if (url.scheme != "ftp" && url.scheme != "ftpes" && url.scheme != "ftps")
    return UrlError{"unknown URL scheme '" + std::string(text.substr(0, schemeEnd)) +
                    "': use ftp://, ftpes:// (explicit TLS) or ftps:// (implicit TLS)"};
  if (text.find_first_of("?#") != std::string_view::npos)
    return UrlError{"the URL holds a '?' or '#': write them in a folder's name as %3F and %23"};
  const auto [start, end] = *authorityOf(text);
  std::string_view authority = text.substr(start, end - start);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    if (userInfo.find(':') != std::string_view::npos) return UrlError{"the URL holds a password", true};
    const auto user = percentDecode(userInfo);
    if (!user || user->empty()) return UrlError{"the user name in the URL is empty or malformed"};
    url.user = *user;
    authority.remove_prefix(at + 1);
  }
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || !validAddress6(authority.substr(1, close - 1)))
      return UrlError{"the URL's IPv6 address is malformed"};
    url.host = std::string(authority.substr(0, close + 1));
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return UrlError{"the URL's IPv6 address is malformed"};
    if (!after.empty()) port = after.substr(1);
    if (after == ":") return UrlError{"the URL's port is empty"};
  } else {
    const std::size_t colon = authority.find(':');
    url.host = std::string(authority.substr(0, colon));
    if (!validHostName(url.host)) return UrlError{"the URL names no host, or a malformed one"};
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return UrlError{"the URL's port is empty"};
    }
  }
  if (!port.empty()) {
    const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(),
                                                        [](unsigned char c) { return std::isdigit(c); });
    const long value = digits ? std::stol(std::string(port)) : 0;
    if (value < 1 || value > 65535) return UrlError{"the URL's port must be a number from 1 to 65535"};
    url.port = std::to_string(value);
  }
  const auto directory = percentDecode(text.substr(end));
  if (!directory) return UrlError{"the URL's folder holds a malformed %-escape, or a NUL, CR or LF"};
  url.directory = directory->empty() ? "/" : *directory;
  return url;
}

std::variant<Options, UsageError> parseArguments(const std::vector<std::string>& arguments) {
  Options o;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--upload") {
      o.upload = true;
    } else if (a == "--active") {
      o.active = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--report") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty())
        return UsageError{"--report needs a file name"};
      o.report = arguments[++i];
    } else if (a.rfind("--report=", 0) == 0) {
      o.report = a.substr(9);
      if (o.report.empty()) return UsageError{"--report needs a file name"};
    } else if (a == "--password" || a.rfind("--password=", 0) == 0) {
      return UsageError{"there is no --password option", true};
    } else {
      return UsageError{"unknown option '" + a + "'"};
    }
  }
  if (o.help || o.version) return o;
  if (positional.size() < 3) return UsageError{"expected URL LOCAL-DIR NAME[,NAME...]"};
  if (positional.size() > 3)
    return UsageError{"too many arguments: the names go in one argument, separated by commas"};
  o.url = positional[0];
  o.localDirectory = positional[1];
  o.names = positional[2];
  return o;
}

std::variant<std::vector<std::string>, std::string> splitNames(std::string_view list) {
  if (list.size() > kListLimit)
    return "the list of names is longer than the " + std::to_string(kListLimit) + " characters a batch takes";
  std::vector<std::string> names;
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view name = trimBlanks(list.substr(0, comma));
    if (name.empty()) return std::string("an empty name in the list (two commas in a row, or one at an end)");
    names.emplace_back(name);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return names;
}

std::optional<std::pair<std::size_t, std::size_t>> passwordSpan(std::string_view argument) {
  if (argument.rfind("--password=", 0) == 0)
    return std::pair<std::size_t, std::size_t>{11, argument.size() - 11};
  const auto authority = authorityOf(argument);
  if (!authority) return std::nullopt;
  const std::string_view text = argument.substr(authority->first, authority->second - authority->first);
  const std::size_t at = text.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon > at) return std::nullopt;
  return std::pair{authority->first + colon + 1, at - colon - 1};
}

void wipePasswords(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "--password" && i + 1 < argc) {
      ++i;
      std::memset(argv[i], '*', std::strlen(argv[i]));
    } else if (const auto span = passwordSpan(argument)) {
      std::memset(argv[i] + span->first, '*', span->second);
    }
  }
}

}  // namespace cli
