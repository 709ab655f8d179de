// Addresses in the texts users type and servers send: "host:port" server names, PASV and EPSV
// replies, EPRT and PORT arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "socket.h"

namespace inet {

struct HostPort {
  std::string host;  // without brackets
  std::optional<uint16_t> port;
};

// "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 address. Nothing for a malformed name
// (an empty host, a port that is not 1..65535, an unclosed bracket).
std::optional<HostPort> parseServerName(std::string_view name);

// The port of a 227 reply "(h1,h2,h3,h4,p1,p2)": six numbers of 0..255, each read whole; nothing for
// any other form. The address is checked for form only: the data connection goes to the control
// connection's peer whatever it says.
std::optional<uint16_t> parsePasvPort(std::string_view reply);
// The port of a 229 reply "(|||port|)", any delimiter character.
std::optional<uint16_t> parseEpsvPort(std::string_view reply);

std::string eprtArgument(const Endpoint& listening);
// PORT works for IPv4 only.
std::optional<std::string> portArgument(const Endpoint& listening);

// The directory of a 257 reply: the text between the first quote and its closing quote, "" standing
// for one quote.
std::optional<std::string> parseQuotedPath(std::string_view reply);

}  // namespace inet
