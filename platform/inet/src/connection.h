// The handle made by InternetConnectA: one FTP session and the requests made on it, one at a time.
//
// A request completes by notification when its session is asynchronous and its handle calls back
// (a context and a callback): it then runs on the connection's worker and the call returns
// ERROR_IO_PENDING. Otherwise it runs on the calling thread. Either way the same code runs.
//
// The handle's FTP session is either logged on afresh by its connect or a kept one taken again
// (keeping.h); at the close, a session whose last request ended cleanly is kept rather than ended.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "cancel.h"
#include "ftp.h"
#include "handles.h"
#include "keeping.h"
#include "last_response.h"
#include "listing_parser.h"
#include "worker.h"

namespace inet {

class FindHandle final : public Handle {
 public:
  FindHandle(std::shared_ptr<Handle> connection, DWORD_PTR context)
      : Handle(HandleKind::Find, context, std::move(connection)) {}

  // Written by the request before it completes, read by InternetFindNextFileA after.
  std::mutex mutex;
  std::vector<RemoteEntry> entries;
  size_t next = 0;
  bool ready = false;
};

void fillFindData(const RemoteEntry& entry, WIN32_FIND_DATAA& data);

class Connection final : public Handle {
 public:
  Connection(std::shared_ptr<Handle> root, DWORD_PTR context, ConnectParams params);

  // Where the latest download on this connection began in its file: the offset it resumed at, or 0.
  std::atomic<uint64_t> resumedFrom{0};

  struct Request {
    std::shared_ptr<Handle> target;  // receives the notifications: this connection or a new find handle
    DWORD_PTR context = 0;           // 0: no notifications, and the call completes before it returns
    std::function<Outcome(Ftp&)> body;
    bool opens = false;  // the connect and logon
  };
  struct Result {
    DWORD_PTR value = 0;  // what the call returns: TRUE or a handle, 0 on failure or when pending
    DWORD error = ERROR_SUCCESS;
    LastResponse response;
  };

  // A request is first reserved (the connection must be ready and idle; it is then busy), so that a
  // handle it creates is announced only when the request will run, then started.
  DWORD reserve(bool opens, std::shared_ptr<Handle> target);
  // A reserved request that will not start after all; a connection closed meanwhile finalizes.
  void unreserve();
  Result start(Request request);
  // InternetCloseHandle on this connection (or on its root). True when a request was in flight.
  bool close();
  // InternetCloseHandle on a find handle of this connection.
  bool closeFind(const std::shared_ptr<Handle>& find);
  // A find handle of this connection is still open: FTP allows one listing at a time.
  bool hasOpenFindLocked() const;
  // Before the connect starts: takes a kept session with this handle's logon, when one is idle and
  // sound. The connect then logs on to nothing and reports the kept session's logon.
  void takeKept();
  // The connect's work: the kept session's logon, or a fresh one (tried once more when the server
  // refuses it for too many connections while we keep idle ones there).
  Outcome logOn(bool proxyRefuses);

 private:
  Result execute(Request& request, bool async);
  Result finish(Request& request, Outcome outcome, bool async, const Notifier& notifier);
  void finalize();
  bool keepable() const;
  std::shared_ptr<Connection> self() { return std::static_pointer_cast<Connection>(shared_from_this()); }

  ConnectionLife requests_;  // guarded by HandleTable::mutex()

  Canceller cancel_;
  // Used only by the thread serving the request in flight, and by the close once none runs; both go
  // to the kept connections when the session is kept.
  std::shared_ptr<Worker> worker_ = std::make_shared<Worker>();
  std::unique_ptr<Ftp> ftp_;
  bool reused_ = false;
  bool clean_ = false;  // the last request ended well (guarded by HandleTable::mutex())
};

}  // namespace inet
