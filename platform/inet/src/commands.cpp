#include "commands.h"

namespace inet {

Step Rename::start() {
  state_ = State::From;
  return Step::send({"RNFR", from_, false});
}

Step Rename::onReply(const Reply& r) {
  if (state_ == State::From) {
    if (r.code != 350) return Step::done(Outcome::refused(r));
    state_ = State::To;
    return Step::send({"RNTO", to_, false});
  }
  return Step::done(r.completion() ? Outcome::success() : Outcome::refused(r));
}

}  // namespace inet
