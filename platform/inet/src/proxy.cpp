#include "proxy.h"

#include <cstdlib>

#include "address.h"
#include "kernel/ascii.h"
#include "kernel/names.h"

namespace inet {
namespace {

std::vector<std::string_view> split(std::string_view s, std::string_view separators) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = s.find_first_of(separators, i);
    if (j == std::string_view::npos) j = s.size();
    if (j > i) parts.push_back(s.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

enum class Scheme { None, Ftp, Http, Unknown };

// "scheme://host[:port][/]" or "host[:port]".
DWORD parseTarget(std::string_view value, Scheme& scheme, Gateway& gateway) {
  scheme = Scheme::None;
  if (size_t sep = value.find("://"); sep != std::string_view::npos) {
    std::string name = kernel::asciiLowered(value.substr(0, sep));
    scheme = name == "ftp"                         ? Scheme::Ftp
             : (name == "http" || name == "https") ? Scheme::Http
                                                   : Scheme::Unknown;
    value.remove_prefix(sep + 3);
  }
  if (scheme == Scheme::Unknown) return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  if (size_t at = value.rfind('@'); at != std::string_view::npos) value.remove_prefix(at + 1);
  auto hostPort = parseServerName(value);
  if (!hostPort || hostPort->host.empty()) return ERROR_INTERNET_INVALID_URL;
  gateway.host = hostPort->host;
  gateway.port = hostPort->port.value_or(21);
  return ERROR_SUCCESS;
}

bool loopbackName(std::string_view host) {
  std::string h = kernel::asciiLowered(host);
  return h == "localhost" || h == "loopback" || h == "::1" || h.rfind("127.", 0) == 0;
}

}  // namespace

DWORD parseProxySettings(std::string_view list, std::string_view bypass, ProxySettings& out) {
  out = ProxySettings{};
  std::optional<Gateway> keyed, bare;
  for (std::string_view entry : split(list, " \t;")) {
    std::string_view value = entry;
    std::string key;
    if (size_t eq = entry.find('='); eq != std::string_view::npos) {
      key = kernel::asciiLowered(entry.substr(0, eq));
      value = entry.substr(eq + 1);
      if (key != "ftp" && key != "http" && key != "https" && key != "gopher" && key != "socks")
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    }
    Scheme scheme;
    Gateway gateway;
    if (DWORD e = parseTarget(value, scheme, gateway); e != ERROR_SUCCESS) return e;
    if (key == "ftp") {
      if (scheme == Scheme::Http)
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;  // FTP cannot go through a CERN proxy
      keyed = gateway;
    } else if (key.empty()) {
      if (scheme == Scheme::Http)
        out.cernOnly = true;
      else
        bare = gateway;
    }
  }
  out.ftp = keyed ? keyed : bare;
  if (out.ftp) out.cernOnly = false;

  for (std::string_view entry : split(bypass, " \t;,")) {
    std::string e = kernel::asciiLowered(entry);
    if (e == "<local>")
      out.bypassLocal = true;
    else if (e == "<-loopback>")
      out.bypassLoopback = false;
    else
      out.bypass.push_back(std::move(e));
  }
  return ERROR_SUCCESS;
}

ProxySettings preconfiguredProxy() {
  ProxySettings settings;
  const char* env = std::getenv("ftp_proxy");
  if (!env || !*env) return settings;
  std::string_view value(env);
  if (kernel::asciiLowered(value.substr(0, 6)) != "ftp://") return settings;
  Scheme scheme;
  Gateway gateway;
  if (parseTarget(value, scheme, gateway) == ERROR_SUCCESS) settings.ftp = gateway;
  return settings;
}

std::optional<Gateway> gatewayFor(const ProxySettings& settings, std::string_view host) {
  if (!settings.ftp) return std::nullopt;
  if (settings.bypassLoopback && loopbackName(host)) return std::nullopt;
  if (settings.bypassLocal && host.find('.') == std::string_view::npos &&
      host.find(':') == std::string_view::npos)
    return std::nullopt;
  for (const std::string& pattern : settings.bypass)
    if (kernel::names::globMatch(pattern, host)) return std::nullopt;
  return settings.ftp;
}

}  // namespace inet
