// Which TLS a server name asks for: "ftpes://host[:port]" explicit (AUTH TLS after the greeting),
// "ftps://host[:port]" implicit (TLS from the first byte, port 990 unless given), anything else none.
#pragma once

#include <cstdint>
#include <string_view>

namespace inet {

enum class TlsMode { None, Explicit, Implicit };

inline constexpr uint16_t kImplicitTlsPort = 990;

// Takes the scheme (any case) off the name, and a trailing "/" that a pasted address may carry.
TlsMode takeTlsScheme(std::string_view& name);

}  // namespace inet
