#include "last_response.h"

namespace inet {
namespace {
thread_local LastResponse t_last;
}

void setLastResponse(LastResponse response) { t_last = std::move(response); }
void clearLastResponse() {
  t_last.code = 0;
  t_last.text.clear();
}
const LastResponse& lastResponse() { return t_last; }

}  // namespace inet
