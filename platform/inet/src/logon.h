// Logon: the server's greeting, then USER and PASS, then FEAT (and UTF8 when the server offers it).
#pragma once

#include <string>

#include "ftp.h"
#include "operation.h"

namespace inet {

// The server's greeting, the first reply of every connection: 120 asks to wait for the next one, 220
// lets the dialogue begin, anything else refuses the logon. Read before USER, or before AUTH TLS where
// the logon waits for the handshake.
class Greeting final : public Operation {
 public:
  Step start() override { return Step::awaitReply(); }
  Step onReply(const Reply& reply) override;
  // Nothing is logged on yet: a server that goes away now refused the logon.
  DWORD droppedError() const override { return ERROR_INTERNET_LOGIN_FAILURE; }
  DWORD closedError() const override { return ERROR_INTERNET_CONNECTION_ABORTED; }
};

// USER and PASS on a greeted connection, then FEAT (and UTF8).
class Logon final : public Operation {
 public:
  Logon(std::string user, std::string password, Features& features);

  Step start() override;
  Step onReply(const Reply& reply) override;
  DWORD droppedError() const override;
  DWORD closedError() const override;

 private:
  enum class State { User, Pass, Feat, Utf8 };
  Step afterLogon();

  std::string user_;
  std::string password_;
  Features& features_;
  State state_ = State::User;
};

// Reads a FEAT reply.
Features parseFeatures(const Reply& reply);

}  // namespace inet
