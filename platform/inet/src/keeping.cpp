#include "keeping.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "inet/options.h"
#include "threads.h"

namespace inet {
namespace {

using Clock = std::chrono::steady_clock;

// Drawn once per process: the same password gives another hash in every run.
const unsigned char* salt() {
  static unsigned char bytes[16];
  static std::once_flag drawn;
  std::call_once(drawn, [] {
    if (RAND_bytes(bytes, sizeof bytes) != 1)
      for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(std::rand());
  });
  return bytes;
}

std::string hashed(const std::string& secret) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, salt(), 16) == 1 &&
            EVP_DigestUpdate(ctx, secret.data(), secret.size()) == 1 &&
            EVP_DigestFinal_ex(ctx, digest, &length) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) return {};
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

}  // namespace

void closeKeptConnections() { KeptConnections::instance().closeAll(); }

int keptConnections() { return KeptConnections::instance().idle(); }

std::string serverKey(const ConnectParams& p) {
  std::string key = p.host + '\n' + std::to_string(p.port);
  if (p.gateway) key += "\nvia " + p.gateway->host + ':' + std::to_string(p.gateway->port);
  return key;
}

std::string linkKey(const ConnectParams& p) {
  const std::string secret = hashed(p.password);
  // No hash, no keeping: an empty key matches nothing.
  if (secret.empty()) return {};
  return serverKey(p) + '\n' + p.user + '\n' + secret + '\n' + (p.passive ? "passive" : "active") + '\n' +
         std::to_string(static_cast<int>(p.tls)) + '\n' + std::to_string(p.timeouts.connect.count()) + ',' +
         std::to_string(p.timeouts.reply.count()) + ',' + std::to_string(p.timeouts.data.count());
}

struct KeptConnections::State {
  struct Idle {
    Link link;
    Clock::time_point since;
  };
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<Idle> idle;  // oldest first
  int sessions = 0;
  Clock::time_point lastSessionClosed{};
  bool reaping = false;
  bool ending = false;  // the process is ending: a connection that finishes now is closed, not kept
};

KeptConnections& KeptConnections::instance() {
  // Never destroyed, so that a thread still ending at exit finds it; the idle ones say goodbye first.
  static auto* kept = [] {
    auto* k = new KeptConnections;
    // OpenSSL cleans up at exit too; started first, its cleanup runs after ours (handlers run in
    // reverse), so the kept TLS connections are freed while it still can free them.
    OPENSSL_init_ssl(0, nullptr);
    std::atexit([] { KeptConnections::instance().closeAllForGood(); });
    return k;
  }();
  return *kept;
}

KeptConnections::State& KeptConnections::state() const {
  static auto* s = new State;
  return *s;
}

bool KeptConnections::enabled() const { return currentKeeping().on; }

namespace {

void closeLink(Link& link, std::string_view why) {
  link.ftp->trace().note(std::string("kept connection closed: ") + std::string(why));
  link.ftp->bind(nullptr, nullptr);
  link.ftp->close();
  link.worker->stop();
}

}  // namespace

void KeptConnections::keep(Link link) {
  const Keeping settings = currentKeeping();
  if (!settings.on || link.ftp->key().empty()) {
    closeLink(link, "keeping is off");
    return;
  }
  std::vector<Link> surplus;
  {
    State& s = state();
    std::unique_lock lock(s.mutex);
    if (s.ending) {
      // Kept now, it would outlive the goodbyes said at exit and go without its QUIT. Looked at under
      // the same lock as the pool, so the exit's goodbyes cannot pass between the look and the keep.
      lock.unlock();
      closeLink(link, "the process is ending");
      return;
    }
    const std::string server = link.ftp->server();
    link.ftp->trace().note("kept, idle, for the next connect with the same logon");
    s.idle.push_back({std::move(link), Clock::now()});
    // The oldest beyond the bound go: a server that limits connections per address would count them.
    int count = 0;
    for (auto it = s.idle.rbegin(); it != s.idle.rend(); ++it)
      if (it->link.ftp->server() == server) ++count;
    for (auto it = s.idle.begin(); it != s.idle.end() && count > settings.perServer;) {
      if (it->link.ftp->server() == server) {
        surplus.push_back(std::move(it->link));
        it = s.idle.erase(it);
        --count;
      } else {
        ++it;
      }
    }
  }
  for (Link& l : surplus) closeLink(l, "more idle ones than kept for one server");
  ensureReaper();
}

std::optional<Link> KeptConnections::take(const std::string& key, uint32_t handleId) {
  if (key.empty() || !enabled()) return std::nullopt;
  State& s = state();
  for (;;) {
    std::optional<Link> found;
    {
      std::lock_guard lock(s.mutex);
      for (auto it = s.idle.rbegin(); it != s.idle.rend(); ++it) {
        if (it->link.ftp->key() != key || !it->link.ftp->trustedWithoutAsking()) continue;
        found = std::move(it->link);
        s.idle.erase(std::next(it).base());
        break;
      }
    }
    if (!found) return std::nullopt;
    std::string why;
    found->ftp->refreshTrace();
    if (found->ftp->stillSound(why)) {
      found->ftp->trace().note("taken again, for handle #" + std::to_string(handleId));
      return found;
    }
    found->ftp->trace().note("kept connection found dead (" + why + "): a fresh logon takes its place");
    found->ftp->drop();
    found->worker->stop();
  }
}

bool KeptConnections::closeOne(const std::string& server) {
  std::optional<Link> oldest;
  {
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto it = s.idle.begin(); it != s.idle.end(); ++it) {
      if (it->link.ftp->server() != server) continue;
      oldest = std::move(it->link);
      s.idle.erase(it);
      break;
    }
  }
  if (!oldest) return false;
  closeLink(*oldest, "the server refused a further connection");
  return true;
}

void KeptConnections::sessionOpened() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  ++s.sessions;
}

void KeptConnections::sessionClosed() {
  State& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (s.sessions > 0) --s.sessions;
    s.lastSessionClosed = Clock::now();
  }
  s.changed.notify_all();
}

void KeptConnections::closeAll() {
  std::deque<State::Idle> all;
  {
    State& s = state();
    std::lock_guard lock(s.mutex);
    all.swap(s.idle);
  }
  state().changed.notify_all();
  for (auto& i : all) closeLink(i.link, "closing them all");
}

void KeptConnections::closeAllForGood() {
  {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.ending = true;
  }
  closeAll();
  // Their threads end by themselves now; OpenSSL frees a thread's own state only when it ends, so a
  // program that returns from main right after its last transfer waits for them, briefly.
  waitForThreads(0, std::chrono::milliseconds(500));
}

int KeptConnections::idle() const {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return static_cast<int>(s.idle.size());
}

void KeptConnections::ensureReaper() {
  State& s = state();
  {
    std::lock_guard lock(s.mutex);
    if (s.reaping || s.idle.empty()) return;
    s.reaping = true;
  }
  if (!spawn([this] { reap(); })) {
    // No thread for the timing: nothing may wait unseen, so nothing is kept.
    {
      std::lock_guard lock(s.mutex);
      s.reaping = false;
    }
    closeAll();
  }
}

void KeptConnections::reap() {
  State& s = state();
  std::unique_lock lock(s.mutex);
  while (!s.idle.empty()) {
    const Keeping settings = currentKeeping();
    const Clock::time_point now = Clock::now();
    std::vector<Link> due;
    std::string why;
    if (s.sessions == 0 && now >= s.lastSessionClosed + settings.orphaned) {
      for (auto& i : s.idle) due.push_back(std::move(i.link));
      s.idle.clear();
      why = "no session is open any more";
    } else {
      while (!s.idle.empty() && now >= s.idle.front().since + settings.idle) {
        due.push_back(std::move(s.idle.front().link));
        s.idle.pop_front();
      }
      why = "idle for " + std::to_string(settings.idle.count()) + " ms";
    }
    if (!due.empty()) {
      lock.unlock();
      for (Link& l : due) closeLink(l, why);
      due.clear();
      lock.lock();
      continue;
    }
    Clock::time_point next = s.idle.front().since + settings.idle;
    if (s.sessions == 0) next = std::min(next, s.lastSessionClosed + settings.orphaned);
    s.changed.wait_until(lock, next);
  }
  s.reaping = false;
}

}  // namespace inet
