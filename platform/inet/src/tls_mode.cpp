#include "tls_mode.h"

#include "kernel/ascii.h"

namespace inet {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         kernel::equalIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

TlsMode takeTlsScheme(std::string_view& name) {
  TlsMode mode = TlsMode::None;
  if (startsWithIgnoringCase(name, "ftpes://")) {
    mode = TlsMode::Explicit;
    name.remove_prefix(8);
  } else if (startsWithIgnoringCase(name, "ftps://")) {
    mode = TlsMode::Implicit;
    name.remove_prefix(7);
  } else {
    return mode;
  }
  if (!name.empty() && name.back() == '/') name.remove_suffix(1);
  return mode;
}

}  // namespace inet
