#include "ascii.h"

namespace inet {

size_t AsciiToLocal::convert(const char* in, size_t size, char* out) {
  size_t o = 0;
  for (size_t i = 0; i < size; ++i) {
    char c = in[i];
    if (heldCr_) {
      heldCr_ = false;
      if (c != '\n') out[o++] = '\r';
    }
    if (c == '\r')
      heldCr_ = true;
    else
      out[o++] = c;
  }
  return o;
}

size_t AsciiToLocal::finish(char* out) {
  if (!heldCr_) return 0;
  heldCr_ = false;
  out[0] = '\r';
  return 1;
}

size_t LocalToAscii::convert(const char* in, size_t size, char* out) {
  size_t o = 0;
  for (size_t i = 0; i < size; ++i) {
    char c = in[i];
    if (c == '\n' && !lastWasCr_) out[o++] = '\r';
    out[o++] = c;
    lastWasCr_ = c == '\r';
  }
  return o;
}

}  // namespace inet
