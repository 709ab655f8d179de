// The trace of the control dialogue, for users who must see why a server refuses them: appended to
// the file that NIMBO_FTP_TRACE names, one line per command, reply line and data count. Passwords
// never reach it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "outcome.h"

namespace inet {

class TraceFile;

class Trace {
 public:
  // Off when the variable is unset or the file cannot be opened.
  static Trace forConnection(uint32_t connectionId);
  Trace() = default;

  bool on() const { return file_ != nullptr; }
  void command(const Command& command) const;
  void reply(const Reply& reply) const;
  void note(std::string_view text) const;

 private:
  void line(char direction, std::string_view text) const;

  std::shared_ptr<TraceFile> file_;
  uint32_t id_ = 0;
};

}  // namespace inet
