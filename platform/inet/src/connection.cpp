#include "connection.h"

#include <cstring>

#include "notifier.h"
#include "session.h"
#include "tree.h"
#include "ui/text.h"

namespace inet {

void fillFindData(const RemoteEntry& entry, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  // Directories get exactly FILE_ATTRIBUTE_DIRECTORY: callers compare with ==.
  data.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  const uint64_t ticks = static_cast<uint64_t>(entry.modified);
  FILETIME t{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
  data.ftCreationTime = t;
  data.ftLastAccessTime = t;
  data.ftLastWriteTime = t;
  if (!entry.directory && entry.size) {
    data.nFileSizeHigh = static_cast<DWORD>(*entry.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(*entry.size & 0xffffffffu);
  }
  const std::string_view name = ui::utf8Fit(entry.name, MAX_PATH - 1);
  std::memcpy(data.cFileName, name.data(), name.size());
  data.cFileName[name.size()] = '\0';
}

Connection::Connection(std::shared_ptr<Handle> root, DWORD_PTR context, ConnectParams params)
    : Handle(HandleKind::Connection, context, std::move(root)),
      ftp_(std::make_unique<Ftp>(std::move(params))) {}

void Connection::takeKept() {
  std::optional<Link> kept = KeptConnections::instance().take(ftp_->key(), id());
  if (!kept) return;
  ftp_ = std::move(kept->ftp);
  worker_ = std::move(kept->worker);
  reused_ = true;
}

Outcome Connection::logOn(bool proxyRefuses) {
  if (proxyRefuses) return Outcome::failure(ERROR_INTERNET_NOT_PROXY_REQUEST);
  if (reused_) return Outcome{ERROR_SUCCESS, ftp_->logonReply()};
  Outcome o = ftp_->open(id());
  if (!o.ok() && o.reply && o.reply->code == 421 && KeptConnections::instance().closeOne(ftp_->server())) {
    ftp_->trace().note(
        "the server refused one more connection: an idle kept one went, the logon is tried again");
    ftp_->drop();
    o = ftp_->open(id());
  }
  ftp_->forgetPassword();
  return o;
}

bool Connection::hasOpenFindLocked() const {
  for (const auto& child : children)
    if (child->kind == HandleKind::Find && !child->life.ended()) return true;
  return false;
}

DWORD Connection::reserve(bool opens, std::shared_ptr<Handle> target) {
  std::lock_guard lock(HandleTable::instance().mutex());
  if (!life.open()) return ERROR_INVALID_HANDLE;
  if (DWORD e = requests_.reserve(opens, std::move(target)); e != ERROR_SUCCESS) return e;
  if (!cancel_.usable()) {
    (void)requests_.unreserve();
    return ERROR_INTERNET_OUT_OF_HANDLES;
  }
  cancel_.reset();
  return ERROR_SUCCESS;
}

void Connection::unreserve() {
  bool finalizeNow;
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    finalizeNow = requests_.unreserve();
  }
  if (finalizeNow) finalize();
}

Connection::Result Connection::start(Request r) {
  const bool async = session().async && r.target->callsBack();
  if (!async) return execute(r, false);

  std::shared_ptr<Connection> me = self();
  auto job = [me, r]() mutable { (void)me->execute(r, true); };
  auto start = [me, r, job]() mutable {
    if (!me->worker_->post(job)) {
      Notifier notifier(r.target, r.context);
      me->finish(r, Outcome::failure(ERROR_INTERNET_ASYNC_THREAD_FAILED), true, notifier);
    }
  };
  // A request made from inside a callback starts once that callback has returned.
  Delivery& delivery = session().delivery();
  if (delivery.delivering())
    delivery.defer(std::move(start));
  else
    start();
  return {r.opens ? reinterpret_cast<DWORD_PTR>(value()) : 0, ERROR_IO_PENDING, {}};
}

Connection::Result Connection::execute(Request& r, bool async) {
  Notifier notifier(r.target, r.context);
  ftp_->bind(&notifier, &cancel_);
  Outcome o = r.body(*ftp_);
  ftp_->bind(nullptr, nullptr);
  if (cancel_.cancelled()) o = Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
  return finish(r, std::move(o), async, notifier);
}

Connection::Result Connection::finish(Request& r, Outcome o, bool async, const Notifier& notifier) {
  Result result;
  result.error = o.error;
  const Reply reply = o.reply ? *o.reply : ftp_->lastReply();
  // Kept at the close only after a clean end: the server's last word on the request a success (an
  // empty listing included; a listing whose links were probed ends with the listing's own), nothing
  // owed, no fault.
  const bool clean = (o.ok() || o.error == ERROR_NO_MORE_FILES) && reply.completion();
  result.response.code = static_cast<DWORD>(reply.code);
  result.response.text = reply.text;
  const bool isFind = r.target->kind == HandleKind::Find;
  if (o.ok()) result.value = (isFind || r.opens) ? reinterpret_cast<DWORD_PTR>(r.target->value()) : TRUE;

  bool finalizeNow = false;
  bool endFind = false;
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    finalizeNow = requests_.finish(o.ok());
    clean_ = clean;
    if (r.opens && !o.ok()) {
      // A handle that failed to connect stays until it is closed (callers retry without closing):
      // it keeps no socket and no descriptor meanwhile.
      ftp_->drop();
      cancel_.release();
    }
    // A find that failed or was closed meanwhile ends here: nobody else will close it.
    if (isFind) endFind = !o.ok() || !r.target->life.open();
  }
  if (async) notifier.complete(result.value, result.error, result.response);
  if (endFind) endHandle(r.target);
  if (finalizeNow) finalize();
  return result;
}

bool Connection::close() {
  std::vector<std::shared_ptr<Handle>> finds;
  ConnectionLife::Closing closing;
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    life.close();
    table.eraseLocked(*this);
    closing = requests_.close();
    if (closing.cancel) cancel_.cancel();
    for (auto& child : children) {
      child->life.close();
      table.eraseLocked(*child);
      // The find whose listing is running ends with its request.
      if (child != requests_.target()) finds.push_back(child);
    }
  }
  for (auto& f : finds) endHandle(f);
  if (closing.finalize) {
    // The goodbye to the server may take a moment: an asynchronous session does not wait for it.
    // Keeping a session says nothing to the server, so it is done at once.
    std::shared_ptr<Connection> me = self();
    if (!session().async || keepable() || !worker_->post([me] { me->finalize(); })) finalize();
  }
  return closing.cancel;
}

bool Connection::closeFind(const std::shared_ptr<Handle>& find) {
  bool pending;
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    find->life.close();
    table.eraseLocked(*find);
    pending = requests_.serving(find);
    if (pending) cancel_.cancel();
  }
  if (!pending) endHandle(find);
  return pending;
}

void Connection::finalize() {
  std::vector<std::shared_ptr<Handle>> finds;
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    finds = children;
  }
  for (auto& f : finds) endHandle(f);
  Notifier notifier(shared_from_this(), context);
  if (ftp_ && keepable()) {
    // The handle's connection closes as far as its caller can tell; the session waits for the next.
    notifier.status(INTERNET_STATUS_CLOSING_CONNECTION);
    KeptConnections::instance().keep({std::move(ftp_), std::move(worker_)});
    notifier.status(INTERNET_STATUS_CONNECTION_CLOSED);
  } else if (ftp_) {
    ftp_->bind(&notifier, nullptr);
    ftp_->close();
    ftp_->bind(nullptr, nullptr);
    worker_->stop();
  }
  endHandle(shared_from_this());
}

bool Connection::keepable() const {
  bool clean;
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    clean = clean_;
  }
  return clean && ftp_ && ftp_->settled() && KeptConnections::instance().enabled();
}

}  // namespace inet
