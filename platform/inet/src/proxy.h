// Proxy lists as InternetOpenA takes them, for the one kind FTP can use: a TIS-style gateway that the
// client logs on to as "user@host" and that relays the rest of the session.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inet/wininet.h"

namespace inet {

struct Gateway {
  std::string host;
  uint16_t port = 21;
};

struct ProxySettings {
  std::optional<Gateway> ftp;       // the gateway FTP goes through
  bool cernOnly = false;            // only an HTTP (CERN) proxy was given for every protocol
  std::vector<std::string> bypass;  // host patterns, lower case, '*' as wildcard
  bool bypassLoopback = true;       // loopback names go direct unless "<-loopback>" is listed
  bool bypassLocal = false;         // "<local>": names without a dot go direct
};

// Reads a proxy list ("ftp=ftp://gw:21 http=http://p:80", or a bare "gw[:port]") and a bypass list.
// Returns ERROR_SUCCESS, ERROR_INTERNET_INVALID_URL for a malformed entry or
// ERROR_INTERNET_UNRECOGNIZED_SCHEME for a scheme we do not know.
DWORD parseProxySettings(std::string_view list, std::string_view bypass, ProxySettings& out);
// The system's setting: the ftp_proxy environment variable when it names an ftp:// gateway.
ProxySettings preconfiguredProxy();
// The gateway a connection to `host` uses, or nothing when it goes direct.
std::optional<Gateway> gatewayFor(const ProxySettings& settings, std::string_view host);

}  // namespace inet
