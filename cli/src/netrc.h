// Logins from a netrc file (~/.netrc, or the file NETRC names), read as ftp(1) and curl read them:
// "machine HOST login USER password SECRET" entries and a "default" entry, tokens separated by blanks,
// tabs or line ends, a token in double quotes may hold blanks (\" and \\ inside), "#" at the start of a
// token comments out the rest of its line, and "macdef NAME" skips its macro up to the next empty line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

struct NetrcLogin {
  std::string login;
  std::string password;
  bool hasPassword = false;
};

// The login for `machine`: its first entry whose login is `user` (any login when `user` is empty),
// else the default entry when it fits that user. Nothing when no entry fits.
std::optional<NetrcLogin> netrcLookup(std::string_view text, std::string_view machine, std::string_view user);

}  // namespace cli
