#include "inet/options.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace inet {
namespace {

std::mutex& settingsMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::optional<Timeouts>& chosen() {
  static auto* t = new std::optional<Timeouts>;
  return *t;
}

}  // namespace

void setTimeouts(const Timeouts& timeouts) {
  std::lock_guard lock(settingsMutex());
  chosen() = timeouts;
}

void resetTimeouts() {
  std::lock_guard lock(settingsMutex());
  chosen().reset();
}

Timeouts currentTimeouts() {
  {
    std::lock_guard lock(settingsMutex());
    if (chosen()) return *chosen();
  }
  Timeouts t;
  if (const char* env = std::getenv("NIMBO_FTP_TIMEOUT_MS")) {
    char* end = nullptr;
    long ms = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && ms > 0) t.connect = t.reply = t.data = std::chrono::milliseconds(ms);
  }
  return t;
}

}  // namespace inet
