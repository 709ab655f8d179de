// Logged-in control connections kept between requests. The calls stay as callers make them (a connect,
// the FTP call, a close), but a connection whose handle closed after a clean end waits here, idle, and
// a later connect with the same server, port, user, password, gateway, passive setting, TLS mode and
// timeouts takes it instead of logging on again. A kept connection the server closed meanwhile is
// found out when it is taken, and a fresh logon stands in for it.
//
// Idle ones go with QUIT when their idle time runs out, when no session has been open for a moment
// (the session that made them is gone and nothing else could take them), when more than a few wait
// for one server, and when the process ends.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ftp.h"
#include "worker.h"

namespace inet {

// A logged-in control connection and the thread that serves it: they stay together.
struct Link {
  std::unique_ptr<Ftp> ftp;
  std::shared_ptr<Worker> worker;
};

// What a connection may be taken again for. The password enters only as a salted hash: the key may
// be compared and traced, it never tells the password.
std::string linkKey(const ConnectParams& params);
// The server a connection goes to (through its gateway, when there is one): idle ones are bounded
// per server.
std::string serverKey(const ConnectParams& params);

class KeptConnections {
 public:
  static KeptConnections& instance();

  // Whether connections are kept now (NIMBO_FTP_KEEP=0 or inet::setKeeping turn it off).
  bool enabled() const;
  // Files an idle, sound, logged-on link. Closes it at once instead when keeping is off.
  void keep(Link link);
  // The newest idle link for `key` that is still sound; the dead ones met on the way are closed.
  std::optional<Link> take(const std::string& key, uint32_t handleId);
  // Closes the oldest idle link to `server` (QUIT): a server refused a fresh logon because of too many
  // connections from us. False when none was idle.
  bool closeOne(const std::string& server);

  void sessionOpened();
  void sessionClosed();
  // Every idle link goes now, with QUIT.
  void closeAll();
  int idle() const;
  // At the process's end: closes the idle ones, and every connection that finishes later is closed
  // rather than kept.
  void closeAllForGood();

 private:
  KeptConnections() = default;
  struct State;
  State& state() const;
  void ensureReaper();
  void reap();
};

}  // namespace inet
