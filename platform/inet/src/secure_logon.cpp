#include "secure_logon.h"

#include "inet/certificates.h"

namespace inet {

Step AuthTls::start() { return Step::send({"AUTH", "TLS", false}); }

Step AuthTls::onReply(const Reply& r) {
  // Anything but 234 leaves the connection in clear, where no password may go.
  if (r.code == 234) return Step::done(Outcome::success());
  return Step::done(Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, r));
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
