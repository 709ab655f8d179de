// The values that travel inside the layer: a server reply, a command, and how a step ended.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "inet/wininet.h"

namespace inet {

struct Reply {
  int code = 0;          // 100..599
  std::string text;      // every line with its code, joined by CRLF, without the last CRLF
  size_t wireBytes = 0;  // what it took on the connection, line ends included

  bool preliminary() const { return code >= 100 && code < 200; }
  bool completion() const { return code >= 200 && code < 300; }
  bool failure() const { return code >= 400; }
};

struct Command {
  std::string verb;
  std::string argument;  // empty: the command goes without one
  bool secret = false;   // the argument is kept out of the trace
};

// How a step ended: ERROR_SUCCESS or a WinINet/Win32 error number, with the server's reply when the
// server is the reason (ERROR_INTERNET_EXTENDED_ERROR and the logon errors).
struct [[nodiscard]] Outcome {
  DWORD error = ERROR_SUCCESS;
  std::optional<Reply> reply;

  bool ok() const { return error == ERROR_SUCCESS; }
  static Outcome success() { return {}; }
  static Outcome failure(DWORD error) { return {error, std::nullopt}; }
  static Outcome failure(DWORD error, Reply reply) { return {error, std::move(reply)}; }
  // The server said no: the caller reads why through InternetGetLastResponseInfoA.
  static Outcome refused(Reply reply) { return {ERROR_INTERNET_EXTENDED_ERROR, std::move(reply)}; }
};

}  // namespace inet
