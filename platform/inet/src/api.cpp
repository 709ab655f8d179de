// The WinINet calls: arguments checked, handles looked up, requests handed to their connection.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "address.h"
#include "commands.h"
#include "connection.h"
#include "find.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "keeping.h"
#include "notifier.h"
#include "session.h"
#include "tls_mode.h"
#include "transfer.h"
#include "tree.h"
#include "trust_question.h"
#include "ui/text.h"

using namespace inet;

namespace {

// Every call but InternetGetLastResponseInfoA begins by forgetting the thread's last response.
struct Call {
  Call() { clearLastResponse(); }
};

template <typename T = BOOL>
T fail(DWORD error, T value = T{}) {
  SetLastError(error);
  return value;
}

std::shared_ptr<Handle> lookUp(HINTERNET h) {
  HandleTable& table = HandleTable::instance();
  std::lock_guard lock(table.mutex());
  return table.findLocked(INET_HANDLE_ID(h));
}

// The connection h names, or nothing with the last error set.
std::shared_ptr<Connection> connectionOf(HINTERNET h) {
  std::shared_ptr<Handle> handle = lookUp(h);
  if (!handle) return fail<std::shared_ptr<Connection>>(ERROR_INVALID_HANDLE);
  if (handle->kind == HandleKind::Root)
    return fail<std::shared_ptr<Connection>>(ERROR_INTERNET_INVALID_OPERATION);
  if (handle->kind != HandleKind::Connection)
    return fail<std::shared_ptr<Connection>>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return std::static_pointer_cast<Connection>(handle);
}

// What a request's end means for the call that started it.
BOOL report(const Connection::Result& r) {
  if (r.error == ERROR_IO_PENDING) return fail(ERROR_IO_PENDING);
  setLastResponse(r.response);
  if (r.error != ERROR_SUCCESS) return fail(r.error);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// A request on an existing connection, with no handle of its own. Every one but a download may change
// files, so the size a find looked up no longer holds after it.
BOOL request(HINTERNET hConnect, DWORD_PTR context, std::function<Outcome(Ftp&)> body,
             bool download = false) {
  std::shared_ptr<Connection> conn = connectionOf(hConnect);
  if (!conn) return FALSE;
  if (DWORD e = conn->reserve(false, conn); e != ERROR_SUCCESS) return fail(e);
  auto run = [body = std::move(body), download](Ftp& ftp) {
    if (!download) ftp.forgetSize();
    return body(ftp);
  };
  return report(conn->start({conn, context ? context : conn->context, std::move(run), false}));
}

std::optional<bool> asciiType(DWORD flags) {
  switch (flags & FTP_TRANSFER_TYPE_MASK) {
    case FTP_TRANSFER_TYPE_ASCII:
      return true;
    case FTP_TRANSFER_TYPE_BINARY:
    case FTP_TRANSFER_TYPE_UNKNOWN:
      return false;
    default:
      return std::nullopt;
  }
}

}  // namespace

extern "C" {

HINTERNET InternetOpenA(LPCSTR /*agent*/, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD flags) {
  Call call;
  if (flags & INTERNET_FLAG_OFFLINE) return fail<HINTERNET>(ERROR_INVALID_PARAMETER);  // there is no cache
  ProxySettings settings;
  switch (accessType) {
    case INTERNET_OPEN_TYPE_DIRECT:
      break;
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
      settings = preconfiguredProxy();
      break;
    case INTERNET_OPEN_TYPE_PROXY:
      if (!proxy) return fail<HINTERNET>(ERROR_INVALID_PARAMETER);
      if (DWORD e = parseProxySettings(proxy, proxyBypass ? proxyBypass : "", settings); e != ERROR_SUCCESS)
        return fail<HINTERNET>(e);
      break;
    default:
      return fail<HINTERNET>(ERROR_INVALID_PARAMETER);
  }
  const bool async = (flags & INTERNET_FLAG_ASYNC) != 0;
  std::shared_ptr<Delivery> delivery = Delivery::make(async);
  if (!delivery) return fail<HINTERNET>(ERROR_INTERNET_ASYNC_THREAD_FAILED);
  auto session = std::make_shared<Session>(async, std::move(settings), delivery);
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    if (!table.insertLocked(session)) {
      delivery->finish();
      return fail<HINTERNET>(ERROR_INTERNET_OUT_OF_HANDLES);
    }
  }
  KeptConnections::instance().sessionOpened();
  SetLastError(ERROR_SUCCESS);
  return session->value();
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET hInternet, INTERNET_STATUS_CALLBACK callback) {
  Call call;
  std::shared_ptr<Handle> h = lookUp(hInternet);
  if (!h) return fail(ERROR_INVALID_HANDLE, INTERNET_INVALID_STATUS_CALLBACK);
  SetLastError(ERROR_SUCCESS);
  return h->callback.exchange(callback);
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR serverName, INTERNET_PORT serverPort, LPCSTR userName,
                           LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context) {
  Call call;
  std::shared_ptr<Handle> h = lookUp(hInternet);
  if (!h) return fail<HINTERNET>(ERROR_INVALID_HANDLE);
  if (h->kind != HandleKind::Root) return fail<HINTERNET>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  if (!serverName || (!userName && password)) return fail<HINTERNET>(ERROR_INVALID_PARAMETER);
  if (service != INTERNET_SERVICE_FTP) return fail<HINTERNET>(ERROR_INTERNET_PROTOCOL_NOT_FOUND);
  auto root = std::static_pointer_cast<Session>(h);

  ConnectParams params;
  // TLS is asked for by the name's scheme, so that callers and their signatures stay as they are.
  std::string_view name = serverName;
  params.tls = takeTlsScheme(name);
  const INTERNET_PORT defaultPort = serverPort                        ? serverPort
                                    : params.tls == TlsMode::Implicit ? kImplicitTlsPort
                                                                      : INTERNET_DEFAULT_FTP_PORT;
  // What the name holds is checked by the request: a name that makes no sense fails to resolve.
  if (auto hostPort = parseServerName(name)) {
    params.host = hostPort->host;
    params.port = hostPort->port.value_or(defaultPort);
  } else {
    params.host = name;
    params.port = defaultPort;
  }
  if (params.tls != TlsMode::None) params.trustQuestion = trustQuestionOf(root->id());
  // No user name (or an empty one) is an anonymous logon; a user without a password has an empty one.
  if (!userName || !*userName) {
    params.user = "anonymous";
    params.password = password && *password ? password : "guest@";
  } else {
    params.user = userName;
    params.password = password ? password : "";
  }
  params.passive = (flags & INTERNET_FLAG_PASSIVE) != 0;
  params.timeouts = currentTimeouts();
  params.gateway = gatewayFor(root->proxy, params.host);
  // FTP cannot go through a CERN proxy, nor TLS through a TIS gateway (it would end TLS itself).
  const bool proxyRefuses = root->proxy.cernOnly || (params.gateway && params.tls != TlsMode::None);

  auto conn = std::make_shared<Connection>(root, context, std::move(params));
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    if (!root->life.open()) return fail<HINTERNET>(ERROR_INVALID_HANDLE);
    if (!table.insertLocked(conn)) return fail<HINTERNET>(ERROR_INTERNET_OUT_OF_HANDLES);
  }
  (void)conn->reserve(true, conn);  // a new connection is always idle
  if (!proxyRefuses) conn->takeKept();
  // Announced at once, so that another thread can close a slow connect.
  Notifier(conn, context).created();
  Connection* self = conn.get();  // the request holds the handle while it runs
  Connection::Result r =
      conn->start({conn, context, [self, proxyRefuses](Ftp&) { return self->logOn(proxyRefuses); }, true});
  if (r.error == ERROR_IO_PENDING) {
    SetLastError(ERROR_IO_PENDING);
    return conn->value();  // usable once REQUEST_COMPLETE has come, closable at once
  }
  if (r.error != ERROR_SUCCESS) {
    (void)closeHandle(conn);  // nobody will hold a handle that failed to connect
    report(r);
    return nullptr;
  }
  report(r);
  return conn->value();
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
  Call call;
  std::shared_ptr<Handle> h = lookUp(hInternet);
  if (!h) return fail(ERROR_INVALID_HANDLE);
  if (h->kind == HandleKind::Root) forgetTrustQuestion(h->id());
  const bool inFlight = closeHandle(h);
  SetLastError(inFlight ? ERROR_IO_PENDING : ERROR_SUCCESS);
  return TRUE;
}

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, LPCSTR searchFile, LPWIN32_FIND_DATAA findFileData,
                            DWORD /*flags*/, DWORD_PTR context) {
  Call call;
  std::shared_ptr<Connection> conn = connectionOf(hConnect);
  if (!conn) return nullptr;
  if (!findFileData) return fail<HINTERNET>(ERROR_INVALID_PARAMETER);
  auto find = std::make_shared<FindHandle>(conn, context);
  {
    std::lock_guard lock(HandleTable::instance().mutex());
    if (conn->hasOpenFindLocked()) return fail<HINTERNET>(ERROR_FTP_TRANSFER_IN_PROGRESS);
  }
  if (DWORD e = conn->reserve(false, find); e != ERROR_SUCCESS) return fail<HINTERNET>(e);
  DWORD refused = ERROR_SUCCESS;
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    // Closed by another thread since the reservation, or no id left for the find handle.
    if (!conn->life.open())
      refused = ERROR_INVALID_HANDLE;
    else if (!table.insertLocked(find))
      refused = ERROR_INTERNET_OUT_OF_HANDLES;
  }
  if (refused != ERROR_SUCCESS) {
    conn->unreserve();  // takes the table's lock itself
    return fail<HINTERNET>(refused);
  }
  Notifier(find, context).created();
  SearchPlan plan = planSearch(searchFile ? searchFile : "");
  Connection::Result r = conn->start({find, context,
                                      [find, plan, findFileData](Ftp& ftp) {
                                        std::vector<RemoteEntry> entries;
                                        Outcome o = inet::find(ftp, plan, entries);
                                        if (!o.ok()) return o;
                                        // The caller's buffer is written only while the handle is open.
                                        std::lock_guard lock(HandleTable::instance().mutex());
                                        if (!find->life.open())
                                          return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
                                        fillFindData(entries.front(), *findFileData);
                                        std::lock_guard entriesLock(find->mutex);
                                        find->entries = std::move(entries);
                                        find->next = 1;
                                        find->ready = true;
                                        return o;
                                      },
                                      false});
  if (r.error == ERROR_IO_PENDING) return fail<HINTERNET>(ERROR_IO_PENDING);
  report(r);
  return r.error == ERROR_SUCCESS ? find->value() : nullptr;
}

BOOL InternetFindNextFileA(HINTERNET hFind, LPVOID findData) {
  Call call;
  std::shared_ptr<Handle> h = lookUp(hFind);
  if (!h) return fail(ERROR_INVALID_HANDLE);
  if (h->kind != HandleKind::Find) return fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  if (!findData) return fail(ERROR_INVALID_PARAMETER);
  auto find = std::static_pointer_cast<FindHandle>(h);
  std::lock_guard lock(find->mutex);
  if (!find->ready) return fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (find->next >= find->entries.size()) return fail(ERROR_NO_MORE_FILES);
  fillFindData(find->entries[find->next++], *static_cast<WIN32_FIND_DATAA*>(findData));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL FtpGetFileA(HINTERNET hConnect, LPCSTR remoteFile, LPCSTR newFile, BOOL failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context) {
  Call call;
  if (!remoteFile || !newFile) return fail(ERROR_INVALID_PARAMETER);
  auto ascii = asciiType(flags);
  if (!ascii) return fail(ERROR_INVALID_PARAMETER);
  std::shared_ptr<Connection> conn = connectionOf(hConnect);
  if (!conn) return FALSE;
  // The request holds the connection until it ends, so the counter outlives every write to it.
  Download download{remoteFile,
                    newFile,
                    failIfExists != FALSE,
                    (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0,
                    *ascii,
                    &conn->resumedFrom};
  return request(
      hConnect, context, [download](Ftp& ftp) { return retrieve(ftp, download); }, true);
}

BOOL FtpPutFileA(HINTERNET hConnect, LPCSTR localFile, LPCSTR newRemoteFile, DWORD flags, DWORD_PTR context) {
  Call call;
  if (!localFile || !newRemoteFile) return fail(ERROR_INVALID_PARAMETER);
  auto ascii = asciiType(flags);
  if (!ascii) return fail(ERROR_INVALID_PARAMETER);
  Upload upload{localFile, newRemoteFile, *ascii};
  return request(hConnect, context, [upload](Ftp& ftp) { return store(ftp, upload); });
}

BOOL FtpRenameFileA(HINTERNET hConnect, LPCSTR existing, LPCSTR newName) {
  Call call;
  if (!existing || !newName) return fail(ERROR_INVALID_PARAMETER);
  return request(hConnect, 0, [from = std::string(existing), to = std::string(newName)](Ftp& ftp) {
    Rename rename(from, to);
    return ftp.run(rename);
  });
}

namespace {
BOOL single(HINTERNET hConnect, const char* verb, LPCSTR argument) {
  Call call;
  if (!argument) return fail(ERROR_INVALID_PARAMETER);
  return request(hConnect, 0, [command = Command{verb, argument, false}](Ftp& ftp) {
    SingleCommand op(command);
    return ftp.run(op);
  });
}
}  // namespace

BOOL FtpDeleteFileA(HINTERNET hConnect, LPCSTR fileName) { return single(hConnect, "DELE", fileName); }
BOOL FtpCreateDirectoryA(HINTERNET hConnect, LPCSTR directory) { return single(hConnect, "MKD", directory); }
BOOL FtpRemoveDirectoryA(HINTERNET hConnect, LPCSTR directory) { return single(hConnect, "RMD", directory); }

BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD bufferLength) {
  if (!bufferLength) return fail(ERROR_INVALID_PARAMETER);
  const LastResponse& last = lastResponse();
  if (error) *error = last.code;
  const size_t need = last.text.size();
  if (!buffer || *bufferLength <= need) {
    // What fits goes in anyway, cut and NUL-ended: callers that pass a fixed buffer still get the start.
    if (buffer && *bufferLength > 0) {
      const std::string_view fits = ui::utf8Fit(last.text, *bufferLength - 1);
      std::memcpy(buffer, fits.data(), fits.size());
      buffer[fits.size()] = '\0';
    }
    *bufferLength = static_cast<DWORD>(need);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, last.text.data(), need);
  buffer[need] = '\0';
  *bufferLength = static_cast<DWORD>(need);
  return TRUE;
}

}  // extern "C"

uint64_t inet::resumedFrom(HINTERNET connection) {
  std::shared_ptr<Handle> handle = lookUp(connection);
  if (!handle || handle->kind != HandleKind::Connection) return 0;
  return std::static_pointer_cast<Connection>(handle)->resumedFrom.load();
}
