#include "inet/options.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>

namespace inet {
namespace {

std::mutex& settingsMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// What a setter chose, until its reset; nothing means the environment or the defaults decide.
template <typename T>
std::optional<T>& chosen() {
  static auto* value = new std::optional<T>;
  return *value;
}
template <typename T>
void choose(std::optional<T> value) {
  std::lock_guard lock(settingsMutex());
  chosen<T>() = std::move(value);
}
template <typename T>
std::optional<T> choice() {
  std::lock_guard lock(settingsMutex());
  return chosen<T>();
}

}  // namespace

void setTimeouts(const Timeouts& timeouts) { choose<Timeouts>(timeouts); }
void resetTimeouts() { choose<Timeouts>(std::nullopt); }

Timeouts currentTimeouts() {
  if (auto c = choice<Timeouts>()) return *c;
  Timeouts t;
  if (const char* env = std::getenv("NIMBO_FTP_TIMEOUT_MS")) {
    char* end = nullptr;
    long ms = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && ms > 0) t.connect = t.reply = t.data = std::chrono::milliseconds(ms);
  }
  return t;
}

void setKeeping(const Keeping& keeping) { choose<Keeping>(keeping); }
void resetKeeping() { choose<Keeping>(std::nullopt); }

Keeping currentKeeping() {
  if (auto c = choice<Keeping>()) return *c;
  Keeping k;
  if (const char* env = std::getenv("NIMBO_FTP_KEEP")) k.on = std::string_view(env) != "0";
  return k;
}

}  // namespace inet
