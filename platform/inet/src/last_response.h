// The server's last response, per thread, as InternetGetLastResponseInfoA returns it. Every call of the
// layer but that one clears it; a request's end sets it on the thread that hears of the end (the
// caller after a synchronous call, the delivery thread just before REQUEST_COMPLETE).
#pragma once

#include <string>

#include "inet/wininet.h"

namespace inet {

struct LastResponse {
  DWORD code = 0;    // the reply code, e.g. 550; 0 when no reply came
  std::string text;  // the whole reply, lines joined by CRLF
};

void setLastResponse(LastResponse response);
void clearLastResponse();
const LastResponse& lastResponse();

}  // namespace inet
