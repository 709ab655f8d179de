// The commands of FTP over TLS around the logon: AUTH TLS before it (explicit TLS, after the greeting;
// the driver makes the handshake once the server said 234), PBSZ 0 and PROT P after it, so that every
// data connection is protected too.
#pragma once

#include "operation.h"

namespace inet {

class AuthTls final : public Operation {
 public:
  Step start() override;
  Step onReply(const Reply& reply) override;
  // Nothing is logged on yet: a server that goes away now refused the logon.
  DWORD droppedError() const override { return ERROR_INTERNET_LOGIN_FAILURE; }
  DWORD closedError() const override { return ERROR_INTERNET_CONNECTION_ABORTED; }
};

class ProtectData final : public Operation {
 public:
  Step start() override;
  Step onReply(const Reply& reply) override;

 private:
  enum class State { Pbsz, Prot };
  State state_ = State::Pbsz;
};

}  // namespace inet
