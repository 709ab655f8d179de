// Logon: the greeting, USER and PASS, then FEAT (and UTF8 when the server offers it).
#pragma once

#include <string>

#include "ftp.h"
#include "operation.h"

namespace inet {

class Logon final : public Operation {
 public:
  // `greeted`: the greeting was read already (before AUTH TLS), so the logon begins with USER.
  Logon(std::string user, std::string password, Features& features, bool greeted = false);

  Step start() override;
  Step onReply(const Reply& reply) override;
  DWORD droppedError() const override;
  DWORD closedError() const override;

 private:
  enum class State { Greeting, User, Pass, Feat, Utf8 };
  Step afterLogon();

  std::string user_;
  std::string password_;
  Features& features_;
  State state_ = State::Greeting;
  bool greeted_;
};

// Reads a FEAT reply.
Features parseFeatures(const Reply& reply);

}  // namespace inet
