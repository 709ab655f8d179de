#include "fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace faultftp {
namespace {

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// An absolute path without ".", ".." or doubled slashes.
std::string normalize(const std::string& cwd, const std::string& path) {
  std::string full = path.empty() ? cwd : (path[0] == '/' ? path : cwd + "/" + path);
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= full.size()) {
    size_t j = full.find('/', i);
    if (j == std::string::npos) j = full.size();
    std::string part = full.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Waits until fd is ready or the server stops; false on stop or timeout.
bool waitReady(int fd, short events, int stop, int ms) {
  pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
  for (;;) {
    int r = ::poll(fds, 2, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (fds[1].revents) return false;
    return true;
  }
}

// Sleeps unless the server stops first.
void pause(int stop, Millis how) {
  if (how.count() <= 0) return;
  pollfd fd{stop, POLLIN, 0};
  ::poll(&fd, 1, static_cast<int>(how.count()));
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// One connection, in TLS or in the clear.
struct Link {
  int fd = -1;
  SSL* ssl = nullptr;
};

// Waits for what an SSL call asked for; false on stop or timeout.
bool waitTls(const Link& l, int result, int stop, int ms) {
  const int e = SSL_get_error(l.ssl, result);
  if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;
  return waitReady(l.fd, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, stop, ms);
}

bool sendAll(const Link& l, const char* data, size_t size, int stop) {
  while (size > 0) {
    if (l.ssl) {
      size_t n = 0;
      const int r = SSL_write_ex(l.ssl, data, size, &n);
      if (r == 1) {
        data += n;
        size -= n;
      } else if (!waitTls(l, r, stop, 30000)) {
        return false;
      }
      continue;
    }
    ssize_t n = ::send(l.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitReady(l.fd, POLLOUT, stop, 30000)) return false;
      continue;
    }
    return false;
  }
  return true;
}

enum class End { Data, Clean, Cut, Failed };

// Some bytes (Data, with *got), or how the peer ended: Clean is an end with a TLS close (or any end of
// a connection in the clear), Cut one without. Failed: an error, the stop, or no data within ms.
End receive(const Link& l, char* buffer, size_t size, size_t* got, int stop, int ms) {
  for (;;) {
    if (l.ssl) {
      const int r = SSL_read_ex(l.ssl, buffer, size, got);
      if (r == 1) return End::Data;
      const int e = SSL_get_error(l.ssl, r);
      if (e == SSL_ERROR_ZERO_RETURN) return End::Clean;
      if (e == SSL_ERROR_SYSCALL || (e == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) ==
                                                               SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        ERR_clear_error();
        return End::Cut;
      }
      if (!waitTls(l, r, stop, ms)) return End::Failed;
      continue;
    }
    const ssize_t n = ::recv(l.fd, buffer, size, MSG_DONTWAIT);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      return End::Data;
    }
    if (n == 0) return End::Clean;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return End::Failed;
    if (!waitReady(l.fd, POLLIN, stop, ms)) return End::Failed;
  }
}

// The server's side of a handshake; false when it failed or the server stopped first.
bool acceptTls(Link& l, SSL_CTX* ctx, int stop) {
  l.ssl = SSL_new(ctx);
  if (!l.ssl || SSL_set_fd(l.ssl, l.fd) != 1) return false;
  setNonBlocking(l.fd);
  for (;;) {
    const int r = SSL_accept(l.ssl);
    if (r == 1) return true;
    if (!waitTls(l, r, stop, 10000)) {
      ERR_clear_error();
      return false;
    }
  }
}

// Ends a connection: with a TLS close when asked (then waits briefly for the peer's, and tells whether
// it came), or by closing the socket alone. The link is closed and emptied.
bool closeLink(Link& l, bool tlsClose, int stop) {
  bool clean = true;
  if (l.ssl && tlsClose) {
    int r;
    while ((r = SSL_shutdown(l.ssl)) < 0 && waitTls(l, r, stop, 5000)) {
    }
    if (r == 0) {
      char scrap[4096];
      size_t got = 0;
      End e;
      while ((e = receive(l, scrap, sizeof scrap, &got, stop, 5000)) == End::Data) {
      }
      clean = e == End::Clean;
    }
  }
  if (l.ssl) SSL_free(l.ssl);
  if (l.fd >= 0) ::close(l.fd);
  l = Link{};
  ERR_clear_error();
  return clean;
}

// Takes what the client sends and answers nothing, until it goes or the server stops.
void ignoreUntilClosed(int fd, int stop) {
  char scrap[4096];
  while (waitReady(fd, POLLIN, stop, -1)) {
    const ssize_t n = ::recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

}  // namespace

struct FaultServer::Tls {
  SSL_CTX* ctx = nullptr;
  ~Tls() { SSL_CTX_free(ctx); }
};

class FaultServer::Session {
 public:
  Session(FaultServer& server, int fd) : s_(server), fd_(fd) { control_.fd = fd; }
  ~Session() {
    closeData();
    if (control_.ssl) SSL_free(control_.ssl);
    if (fd_ >= 0) ::close(fd_);
  }
  void run();

 private:
  bool reply(std::string text);
  bool readLine(std::string& line);
  bool handle(const std::string& verb, const std::string& arg, const Fault* fault);
  // The TLS handshake on the control connection, or a stall in it when the fault says so.
  bool startTls(const Fault* fault);
  int openData();
  // The data connection, in TLS when PROT P asked for it; fd -1 when it could not be opened.
  Link openDataLink();
  void closeData() {
    if (pasv_ >= 0) ::close(pasv_);
    pasv_ = -1;
  }
  // From byte `from` on (a REST before the RETR).
  bool sendData(const Fault* fault, const std::string* bytes, uint64_t patternSize, uint64_t from = 0);
  bool receiveData(const Fault* fault, const std::string& path);
  std::string listing(const std::string& dir, bool facts);
  bool listen(int family, std::string& hostText, uint16_t& port);

  FaultServer& s_;
  int fd_;
  Link control_;  // fd_, with its TLS once AUTH TLS is done
  bool protectData_ = false;
  std::string buffer_;
  std::string cwd_ = "/";
  int pasv_ = -1;
  sockaddr_storage active_{};
  socklen_t activeLength_ = 0;
  std::string renameFrom_;
  uint64_t restart_ = 0;  // the REST just given, for the RETR right after it
};

bool FaultServer::Session::reply(std::string text) {
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) text += "\r\n";
  if (!s_.options_.bytewise) return sendAll(control_, text.data(), text.size(), s_.stop_);
  for (char c : text) {
    if (!sendAll(control_, &c, 1, s_.stop_)) return false;
    pause(s_.stop_, Millis(1));
  }
  return true;
}

bool FaultServer::Session::readLine(std::string& line) {
  for (;;) {
    size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      line = buffer_.substr(0, lf);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      buffer_.erase(0, lf + 1);
      return true;
    }
    char chunk[4096];
    size_t n = 0;
    if (receive(control_, chunk, sizeof chunk, &n, s_.stop_, -1) != End::Data) return false;
    buffer_.append(chunk, n);
  }
}

bool FaultServer::Session::listen(int family, std::string& hostText, uint16_t& port) {
  closeData();
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
  if (local.ss_family != family) return false;
  if (family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&local)->sin6_port = 0;
  else
    reinterpret_cast<sockaddr_in*>(&local)->sin_port = 0;
  pasv_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (pasv_ < 0 || ::bind(pasv_, reinterpret_cast<sockaddr*>(&local), length) != 0 || ::listen(pasv_, 1) != 0)
    return false;
  length = sizeof local;
  ::getsockname(pasv_, reinterpret_cast<sockaddr*>(&local), &length);
  char text[INET6_ADDRSTRLEN] = {};
  if (family == AF_INET6) {
    port = ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof text);
  } else {
    port = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof text);
  }
  hostText = text;
  activeLength_ = 0;
  return true;
}

int FaultServer::Session::openData() {
  if (pasv_ >= 0) {
    int listener = pasv_;
    pasv_ = -1;
    int fd = -1;
    if (waitReady(listener, POLLIN, s_.stop_, 10000))
      fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    return fd;
  }
  if (activeLength_ > 0) {
    int fd = ::socket(active_.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&active_), activeLength_) == 0) {
      activeLength_ = 0;
      return fd;
    }
    if (fd >= 0) ::close(fd);
  }
  return -1;
}

Link FaultServer::Session::openDataLink() {
  Link data;
  data.fd = openData();
  if (data.fd < 0 || !protectData_) return data;
  if (!acceptTls(data, s_.tls_->ctx, s_.stop_)) closeLink(data, false, s_.stop_);
  return data;
}

bool FaultServer::Session::startTls(const Fault* f) {
  if (f && f->stallHandshake) {
    ignoreUntilClosed(fd_, s_.stop_);
    return false;
  }
  return acceptTls(control_, s_.tls_->ctx, s_.stop_);
}

bool FaultServer::Session::sendData(const Fault* f, const std::string* bytes, uint64_t patternSize,
                                    uint64_t from) {
  const int code = f ? f->preliminaryCode : 150;
  const uint64_t total = bytes ? bytes->size() : patternSize;
  const std::string size = f && f->sizeInPreliminary ? " (" + std::to_string(total) + " bytes)." : "";
  if (!reply(
          std::to_string(code) +
          (code == 125 ? " Data connection already open; transfer starting." : " Opening data connection.") +
          size))
    return false;
  if (f && f->closeAfterPreliminary) return false;
  Link data = openDataLink();
  if (data.fd < 0) return reply("425 Cannot open data connection.");
  // A cut counts the bytes of this transfer, wherever it began.
  const uint64_t limit = f && f->dataLimit ? std::min<uint64_t>(from + *f->dataLimit, total) : total;
  const size_t chunk = f && f->dataChunk ? f->dataChunk : 65536;
  std::string block;
  bool ok = true;
  for (uint64_t at = from; at < limit && ok;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, limit - at));
    if (bytes) {
      ok = sendAll(data, bytes->data() + at, n, s_.stop_);
    } else {
      block.resize(n);
      for (size_t i = 0; i < n; ++i) block[i] = patternByte(at + i);
      ok = sendAll(data, block.data(), n, s_.stop_);
    }
    if (ok) {
      at += n;
      s_.dataSent_ += n;
      if (f) pause(s_.stop_, f->dataPause);
    }
  }
  // Like a strict server, a download counts only when the client ends it with a TLS close of its own.
  const bool clean = closeLink(data, !(f && f->noTlsClose), s_.stop_);
  if (!ok) return reply("426 Connection closed; transfer aborted.");
  if (!clean) return reply("426 The data connection ended without a TLS close.");
  const bool sent = reply(f && f->finalReply ? *f->finalReply : "226 Transfer complete.");
  return sent && !(f && f->close);
}

bool FaultServer::Session::receiveData(const Fault* f, const std::string& path) {
  const int code = f ? f->preliminaryCode : 150;
  if (!reply(std::to_string(code) + " Ok to send data.")) return false;
  if (f && f->closeAfterPreliminary) return false;
  Link data = openDataLink();
  if (data.fd < 0) return reply("425 Cannot open data connection.");
  std::string received;
  bool cut = false;
  char chunk[65536];
  const size_t readSize = f && f->dataChunk ? std::min(f->dataChunk, sizeof chunk) : sizeof chunk;
  End end;
  size_t n = 0;
  while ((end = receive(data, chunk, readSize, &n, s_.stop_, 30000)) == End::Data) {
    received.append(chunk, n);
    if (f && f->dataLimit && received.size() >= *f->dataLimit) {
      cut = true;
      break;
    }
    if (f) pause(s_.stop_, f->dataPause);  // a slow reader: the client feels it through TCP
  }
  // An upload in TLS that ends without a TLS close may have been cut by anyone: it does not count.
  if (end == End::Cut) cut = true;
  closeLink(data, !(f && f->noTlsClose), s_.stop_);
  {
    std::lock_guard lock(s_.mutex_);
    Node node;
    node.bytes = std::move(received);
    s_.tree_[path] = std::move(node);
  }
  if (f && f->finalReply) return reply(*f->finalReply);
  return reply(cut ? "426 Connection closed; transfer aborted." : "226 Transfer complete.");
}

std::string FaultServer::Session::listing(const std::string& dir, bool facts) {
  std::lock_guard lock(s_.mutex_);
  std::string out = facts ? "" : "total 8\r\n";
  const std::string prefix = dir == "/" ? "/" : dir + "/";
  for (const auto& [path, node] : s_.tree_) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    if (path.find('/', prefix.size()) != std::string::npos) continue;
    const std::string name = path.substr(prefix.size());
    const uint64_t size = node.patternSize ? *node.patternSize : node.bytes.size();
    if (facts)
      out += node.directory
                 ? "type=dir;modify=20200102030405; " + name + "\r\n"
                 : "type=file;size=" + std::to_string(size) + ";modify=20200102030405; " + name + "\r\n";
    else
      out +=
          (node.directory ? "drwxr-xr-x   2 ftp      ftp          4096 Jan  2  2020 "
                          : "-rw-r--r--   1 ftp      ftp      " + std::to_string(size) + " Jan  2  2020 ") +
          name + "\r\n";
  }
  return out;
}

bool FaultServer::Session::handle(const std::string& verb, const std::string& arg, const Fault* f) {
  auto node = [&](const std::string& path) -> std::optional<Node> {
    std::lock_guard lock(s_.mutex_);
    auto it = s_.tree_.find(path);
    if (it == s_.tree_.end()) return std::nullopt;
    return it->second;
  };
  if (verb == "AUTH") {
    if (!s_.tls_) return reply("502 TLS is not offered here.");
    if (upper(arg) != "TLS" && upper(arg) != "TLS-C") return reply("504 Only AUTH TLS.");
    if (control_.ssl) return reply("503 TLS is already on.");
    return reply("234 Proceed with negotiation.") && startTls(f);
  }
  if (verb == "PBSZ") return reply(control_.ssl ? "200 PBSZ=0" : "503 AUTH TLS first.");
  if (verb == "PROT") {
    if (!control_.ssl) return reply("503 AUTH TLS first.");
    if (upper(arg) != "P" && upper(arg) != "C") return reply("536 Only C or P.");
    protectData_ = upper(arg) == "P";
    return reply("200 Protection level set.");
  }
  if (verb == "USER") return reply("331 Password required.");
  if (verb == "PASS")
    return reply(s_.options_.password.empty() || arg == s_.options_.password ? "230 Logged in."
                                                                             : "530 Login incorrect.");
  if (verb == "FEAT") {
    std::string features = "211-Features:\r\n EPRT\r\n EPSV\r\n PASV\r\n SIZE\r\n MDTM\r\n";
    if (s_.options_.rest) features += " REST STREAM\r\n";
    if (s_.options_.mlsd) features += " MLST type*;size*;modify*;\r\n";
    if (s_.options_.utf8) features += " UTF8\r\n";
    return reply(features + "211 End");
  }
  if (verb == "OPTS" || verb == "TYPE" || verb == "NOOP" || verb == "MODE" || verb == "STRU")
    return reply("200 OK.");
  if (verb == "SYST") return reply("215 UNIX Type: L8");
  if (verb == "PWD") return reply("257 \"" + cwd_ + "\" is the current directory.");
  if (verb == "CWD" || verb == "CDUP") {
    std::string path = normalize(cwd_, verb == "CDUP" ? ".." : arg);
    auto n = node(path);
    if (path != "/" && (!n || !n->directory)) return reply("550 No such directory.");
    cwd_ = path;
    return reply("250 Directory changed.");
  }
  if (verb == "EPSV" || verb == "PASV") {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    std::string host;
    uint16_t port = 0;
    if (verb == "PASV" && local.ss_family != AF_INET) return reply("500 PASV is for IPv4; use EPSV.");
    if (!listen(local.ss_family, host, port)) return reply("425 Cannot listen.");
    if (verb == "EPSV") return reply("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
    std::string numbers = f && f->pasvHost ? *f->pasvHost : host;
    std::replace(numbers.begin(), numbers.end(), '.', ',');
    return reply("227 Entering Passive Mode (" + numbers + "," + std::to_string(port >> 8) + "," +
                 std::to_string(port & 0xff) + ").");
  }
  if (verb == "EPRT" || verb == "PORT") {
    closeData();
    sockaddr_storage to{};
    socklen_t length = 0;
    if (verb == "EPRT" && arg.size() > 4) {
      char d = arg[0];
      std::vector<std::string> parts;
      size_t i = 1;
      while (i < arg.size()) {
        size_t j = arg.find(d, i);
        if (j == std::string::npos) break;
        parts.push_back(arg.substr(i, j - i));
        i = j + 1;
      }
      if (parts.size() == 3 && parts[0] == "1") {
        auto* in = reinterpret_cast<sockaddr_in*>(&to);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(std::atoi(parts[2].c_str())));
        if (::inet_pton(AF_INET, parts[1].c_str(), &in->sin_addr) == 1) length = sizeof *in;
      } else if (parts.size() == 3 && parts[0] == "2") {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&to);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(std::atoi(parts[2].c_str())));
        if (::inet_pton(AF_INET6, parts[1].c_str(), &in6->sin6_addr) == 1) length = sizeof *in6;
      }
    } else if (verb == "PORT") {
      unsigned n[6];
      if (std::sscanf(arg.c_str(), "%u,%u,%u,%u,%u,%u", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) == 6) {
        auto* in = reinterpret_cast<sockaddr_in*>(&to);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(n[4] * 256 + n[5]));
        in->sin_addr.s_addr = htonl((n[0] << 24) | (n[1] << 16) | (n[2] << 8) | n[3]);
        length = sizeof *in;
      }
    }
    if (length == 0) return reply("501 Bad address.");
    active_ = to;
    activeLength_ = length;
    return reply("200 " + verb + " command successful.");
  }
  if (verb == "LIST" || verb == "NLST" || verb == "MLSD") {
    std::string target = arg;
    if (!target.empty() && target[0] == '-') target.clear();  // options of ls
    std::string dir = normalize(cwd_, target);
    std::string raw;
    {
      std::lock_guard lock(s_.mutex_);
      auto it = s_.listings_.find(dir);
      if (it != s_.listings_.end()) raw = it->second;
    }
    if (raw.empty()) {
      auto n = node(dir);
      if (dir != "/" && (!n || !n->directory)) return reply("550 No such directory.");
      raw = listing(dir, verb == "MLSD");
    }
    return sendData(f, &raw, 0);
  }
  if (verb == "MLST") {
    std::string path = normalize(cwd_, arg);
    auto n = node(path);
    if (!n && path != "/") return reply("550 No such file or directory.");
    std::string facts =
        !n || n->directory
            ? "type=dir;modify=20200102030405;"
            : "type=file;size=" + std::to_string(n->patternSize ? *n->patternSize : n->bytes.size()) +
                  ";modify=" + n->modified + ";";
    return reply("250-Listing " + path + "\r\n " + facts + " " + path + "\r\n250 End.");
  }
  if (verb == "SIZE" || verb == "MDTM") {
    auto n = node(normalize(cwd_, arg));
    if (!n || n->directory) return reply("550 Not a plain file.");
    if (verb == "MDTM") return reply("213 " + n->modified);
    return reply("213 " + std::to_string(n->patternSize ? *n->patternSize : n->bytes.size()));
  }
  if (verb == "REST" && s_.options_.rest) {
    char* end = nullptr;
    const unsigned long long at = std::strtoull(arg.c_str(), &end, 10);
    if (arg.empty() || *end != '\0') return reply("501 REST needs a byte count.");
    restart_ = at;
    return reply("350 Restarting at " + arg + ". Send RETR to resume.");
  }
  if (verb == "RETR") {
    auto n = node(normalize(cwd_, arg));
    if (!n || n->directory) return reply("550 No such file.");
    const uint64_t size = n->patternSize ? *n->patternSize : n->bytes.size();
    if (restart_ > size) return reply("554 Restart position beyond the end of the file.");
    if (n->patternSize) return sendData(f, nullptr, *n->patternSize, restart_);
    return sendData(f, &n->bytes, 0, restart_);
  }
  if (verb == "STOR") {
    std::string path = normalize(cwd_, arg);
    auto parent = node(parentOf(path));
    if (parentOf(path) != "/" && (!parent || !parent->directory)) return reply("553 No such directory.");
    return receiveData(f, path);
  }
  if (verb == "RNFR") {
    renameFrom_ = normalize(cwd_, arg);
    if (!node(renameFrom_)) return reply("550 No such file.");
    return reply("350 Ready for RNTO.");
  }
  if (verb == "RNTO") {
    std::string to = normalize(cwd_, arg);
    std::lock_guard lock(s_.mutex_);
    auto it = s_.tree_.find(renameFrom_);
    if (it == s_.tree_.end()) return reply("503 RNFR first.");
    std::map<std::string, Node> moved;
    for (auto i = s_.tree_.begin(); i != s_.tree_.end();) {
      if (i->first == renameFrom_ || i->first.rfind(renameFrom_ + "/", 0) == 0) {
        moved[to + i->first.substr(renameFrom_.size())] = i->second;
        i = s_.tree_.erase(i);
      } else {
        ++i;
      }
    }
    s_.tree_.insert(moved.begin(), moved.end());
    return reply("250 Renamed.");
  }
  if (verb == "DELE" || verb == "RMD") {
    std::string path = normalize(cwd_, arg);
    std::lock_guard lock(s_.mutex_);
    auto it = s_.tree_.find(path);
    if (it == s_.tree_.end() || it->second.directory != (verb == "RMD")) return reply("550 Not found.");
    auto next = std::next(it);
    if (verb == "RMD" && next != s_.tree_.end() && next->first.rfind(path + "/", 0) == 0)
      return reply("550 Directory not empty.");
    s_.tree_.erase(it);
    return reply("250 Removed.");
  }
  if (verb == "MKD") {
    std::string path = normalize(cwd_, arg);
    std::lock_guard lock(s_.mutex_);
    if (s_.tree_.count(path)) return reply("550 Exists.");
    s_.tree_[path].directory = true;
    return reply("257 \"" + path + "\" created.");
  }
  if (verb == "QUIT") {
    reply("221 Goodbye.");
    return false;
  }
  return reply("502 Command not implemented.");
}

void FaultServer::Session::run() {
  ++s_.open_;
  std::optional<Fault> greeting = s_.faultFor("GREETING");
  bool alive = true;
  setNonBlocking(fd_);
  if (s_.options_.implicitTls && s_.tls_) alive = startTls(greeting ? &*greeting : nullptr);
  if (!alive) {
  } else if (greeting) {
    pause(s_.stop_, greeting->delay);
    if (greeting->reply) alive = reply(*greeting->reply);
    if (greeting->close) alive = false;
    if (greeting->silent) {
      std::string ignored;
      while (readLine(ignored)) s_.record(ignored);
      alive = false;
    }
  } else {
    alive = reply("220 Fault server ready.");
  }
  std::string line;
  while (alive && readLine(line)) {
    s_.record(line);
    size_t space = line.find(' ');
    std::string verb = upper(line.substr(0, space));
    std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    std::optional<Fault> f = s_.faultFor(verb);
    if (f) {
      pause(s_.stop_, f->delay);
      // A command answered by the fault instead of the server is still a command after the REST.
      if ((f->silent || f->reply) && verb != "REST") restart_ = 0;
      if (f->silent) continue;
      if (f->reply) {
        alive = reply(*f->reply) && !f->close;
        continue;
      }
      // A transfer with `close` runs, and the connection closes after its final reply.
      const bool transfer =
          verb == "RETR" || verb == "STOR" || verb == "LIST" || verb == "NLST" || verb == "MLSD";
      if (f->close && !transfer) break;
    }
    alive = handle(verb, arg, f ? &*f : nullptr);
    if (verb != "REST") restart_ = 0;
    // A server that ends sessions left idle: the client hears of it only when it next looks.
    if (alive && f && f->idleLimit && buffer_.empty() &&
        !waitReady(fd_, POLLIN, s_.stop_, static_cast<int>(f->idleLimit->count()))) {
      if (!f->idleGoodbye.empty()) reply(f->idleGoodbye);
      break;
    }
  }
  closeData();
  closeLink(control_, true, s_.stop_);
  fd_ = -1;
  --s_.open_;
}

FaultServer::FaultServer(Options options) : options_(std::move(options)) {
  stop_ = ::eventfd(0, EFD_CLOEXEC);
  const int family = options_.ipv6 ? AF_INET6 : AF_INET;
  listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address{};
  socklen_t length;
  if (options_.ipv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = in6addr_loopback;
    length = sizeof *in6;
  } else {
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *in;
  }
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 16) != 0)
    throw std::runtime_error(std::string("fault server: cannot listen: ") + std::strerror(errno));
  length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = options_.ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                        : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  tree_["/"].directory = true;
  if (!options_.tlsCertificate.empty()) {
    tls_ = std::make_unique<Tls>();
    tls_->ctx = SSL_CTX_new(TLS_server_method());
    const char* pem = options_.tlsCertificate.c_str();
    if (!tls_->ctx || SSL_CTX_use_certificate_chain_file(tls_->ctx, pem) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_->ctx, pem, SSL_FILETYPE_PEM) != 1)
      throw std::runtime_error("fault server: cannot load " + options_.tlsCertificate);
    // Data connections may resume the control connection's session, as RFC 4217 clients do.
    static const unsigned char kSessionContext[] = "fault-ftp";
    SSL_CTX_set_session_id_context(tls_->ctx, kSessionContext, sizeof kSessionContext - 1);
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
}

FaultServer::~FaultServer() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
  acceptor_.join();
  std::vector<std::thread> sessions;
  {
    std::lock_guard lock(mutex_);
    sessions.swap(sessions_);
  }
  for (auto& t : sessions) t.join();
  ::close(listener_);
  ::close(stop_);
}

void FaultServer::acceptLoop() {
  for (;;) {
    if (!waitReady(listener_, POLLIN, stop_, -1)) return;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    std::lock_guard lock(mutex_);
    sessions_.emplace_back([this, fd] {
      // A client that hangs up mid-write must not end the test process: the write fails instead.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      Session session(*this, fd);
      session.run();
    });
  }
}

std::string FaultServer::address() const {
  return (options_.ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
}

void FaultServer::add(Fault fault) {
  std::lock_guard lock(mutex_);
  fault.verb = upper(fault.verb);
  faults_.push_back(std::move(fault));
}

std::optional<Fault> FaultServer::faultFor(const std::string& verb) {
  std::lock_guard lock(mutex_);
  int times = verb == "GREETING" ? ++seen_[verb] : seen_[verb];
  for (const Fault& f : faults_)
    if (f.verb == verb && (f.occurrence == 0 || f.occurrence == times)) return f;
  return std::nullopt;
}

void FaultServer::record(const std::string& line) {
  std::lock_guard lock(mutex_);
  commands_.push_back(line);
  arrivals_.push_back(std::chrono::steady_clock::now());
  ++seen_[upper(line.substr(0, line.find(' ')))];
  changed_.notify_all();
}

void FaultServer::putFile(const std::string& path, std::string bytes) {
  std::lock_guard lock(mutex_);
  Node node;
  node.bytes = std::move(bytes);
  const std::string at = normalize("/", path);
  for (std::string dir = parentOf(at); dir != "/"; dir = parentOf(dir)) tree_[dir].directory = true;
  tree_[at] = std::move(node);
}

void FaultServer::setModified(const std::string& path, std::string stamp) {
  std::lock_guard lock(mutex_);
  tree_[normalize("/", path)].modified = std::move(stamp);
}

void FaultServer::putPatternFile(const std::string& path, uint64_t size) {
  std::lock_guard lock(mutex_);
  Node node;
  node.patternSize = size;
  const std::string at = normalize("/", path);
  for (std::string dir = parentOf(at); dir != "/"; dir = parentOf(dir)) tree_[dir].directory = true;
  tree_[at] = std::move(node);
}

void FaultServer::makeDirectory(const std::string& path) {
  std::lock_guard lock(mutex_);
  tree_[normalize("/", path)].directory = true;
}

void FaultServer::setListing(const std::string& directory, std::string raw) {
  std::lock_guard lock(mutex_);
  listings_[normalize("/", directory)] = std::move(raw);
}

std::optional<std::string> FaultServer::file(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = tree_.find(normalize("/", path));
  if (it == tree_.end() || it->second.directory) return std::nullopt;
  return it->second.bytes;
}

bool FaultServer::exists(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return tree_.count(normalize("/", path)) > 0;
}

std::vector<std::string> FaultServer::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

std::vector<std::string> FaultServer::verbs() const {
  std::vector<std::string> out;
  for (const std::string& c : commands()) out.push_back(upper(c.substr(0, c.find(' '))));
  return out;
}

std::vector<std::chrono::steady_clock::time_point> FaultServer::arrivals() const {
  std::lock_guard lock(mutex_);
  return arrivals_;
}

bool FaultServer::waitFor(const std::string& verb, int times, Millis limit) const {
  std::unique_lock lock(mutex_);
  const std::string v = upper(verb);
  return changed_.wait_for(lock, limit, [&] {
    auto it = seen_.find(v);
    return it != seen_.end() && it->second >= times;
  });
}

}  // namespace faultftp
