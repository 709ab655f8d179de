#include "tls_mode.h"

namespace inet {
namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
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
