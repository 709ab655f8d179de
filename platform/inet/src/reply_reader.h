// Framing of control-connection replies: bytes in, whole replies out.
//
// A reply is one line "ddd text", or several lines from "ddd-text" to the first line that begins with
// the same code and a blank. Lines end in LF (a CR before it is dropped). Every line and every reply
// is capped, so a server that never ends a line costs bounded memory.
#pragma once

#include <string>

#include "outcome.h"

namespace inet {

class ReplyReader {
 public:
  static constexpr size_t kMaxLine = 8192;
  static constexpr size_t kMaxReply = 65536;

  enum class State { Incomplete, Ready, Malformed };

  void feed(const char* data, size_t size);
  // Moves the next whole reply into `out` when there is one. Once Malformed, always Malformed.
  State next(Reply& out);
  // The whole reply that next() would return, left in place; nullptr when there is none yet.
  const Reply* peek();
  // The bytes can no longer be read as replies.
  bool malformed() const { return broken_; }
  // Bytes have come that no reply taken yet holds.
  bool holdsBytes() const { return !buffer_.empty(); }
  // What was wrong, for the trace and the last response.
  const std::string& problem() const { return problem_; }

 private:
  State scan();
  State fail(std::string why);

  std::string buffer_;     // bytes not yet consumed
  size_t searched_ = 0;    // bytes of buffer_ already known to hold no LF
  Reply pending_;          // reply being assembled
  bool open_ = false;      // a multi-line reply has begun
  bool complete_ = false;  // pending_ is whole
  bool broken_ = false;
  std::string problem_;
};

}  // namespace inet
