// The file commands without data: RNFR+RNTO, and the one-command ones (DELE, MKD, RMD).
#pragma once

#include <string>

#include "operation.h"

namespace inet {

class Rename final : public Operation {
 public:
  Rename(std::string from, std::string to) : from_(std::move(from)), to_(std::move(to)) {}
  Step start() override;
  Step onReply(const Reply& reply) override;

 private:
  enum class State { From, To };
  std::string from_;
  std::string to_;
  State state_ = State::From;
};

// One command that must end in a 2xx reply.
class SingleCommand final : public Operation {
 public:
  explicit SingleCommand(Command command) : command_(std::move(command)) {}
  Step start() override { return Step::send(command_); }
  Step onReply(const Reply& reply) override {
    return Step::done(reply.completion() ? Outcome::success() : Outcome::refused(reply));
  }

 private:
  Command command_;
};

}  // namespace inet
