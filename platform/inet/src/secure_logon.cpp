#include "secure_logon.h"

#include "inet/certificates.h"

namespace inet {

Step AuthTls::start() {
  state_ = State::Greeting;
  return Step::awaitReply();
}

Step AuthTls::onReply(const Reply& r) {
  switch (state_) {
    case State::Greeting:
      if (r.preliminary()) return Step::awaitReply();  // 120: ready in a moment
      if (r.code != 220) return Step::done(Outcome::failure(ERROR_INTERNET_LOGIN_FAILURE, r));
      state_ = State::Auth;
      return Step::send({"AUTH", "TLS", false});
    case State::Auth:
      // Anything but 234 leaves the connection in clear, where no password may go.
      if (r.code == 234) return Step::done(Outcome::success());
      return Step::done(Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, r));
  }
  return Step::done(Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR));
}

Step ProtectData::start() {
  state_ = State::Pbsz;
  return Step::send({"PBSZ", "0", false});
}

Step ProtectData::onReply(const Reply& r) {
  // Data in clear beside a protected control connection is not what the user asked for.
  if (!r.completion()) return Step::done(Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, r));
  if (state_ == State::Prot) return Step::done(Outcome::success());
  state_ = State::Prot;
  return Step::send({"PROT", "P", false});
}

}  // namespace inet
