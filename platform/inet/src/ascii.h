// Line ends of ASCII (TYPE A) transfers: CRLF on the wire, LF in local files. Both directions work on
// blocks, so a CR that ends one block and the LF that starts the next still make one line end.
#pragma once

#include <cstddef>

namespace inet {

// Wire to local: CRLF becomes LF; a CR not followed by LF stays.
class AsciiToLocal {
 public:
  // Writes at most size + 1 bytes to out; returns how many.
  size_t convert(const char* in, size_t size, char* out);
  // The CR held back at the end of the last block, if any.
  size_t finish(char* out);

 private:
  bool heldCr_ = false;
};

// Local to wire: a bare LF becomes CRLF; a CRLF already there is kept as it is.
class LocalToAscii {
 public:
  // Writes at most 2 * size bytes to out; returns how many.
  size_t convert(const char* in, size_t size, char* out);

 private:
  bool lastWasCr_ = false;
};

}  // namespace inet
