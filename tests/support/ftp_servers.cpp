#include "ftp_servers.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <shadow.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "certificates.h"
#include "process.h"
#include "timing.h"

#ifndef NIMBO_PYFTPD_SERVER
#error "NIMBO_PYFTPD_SERVER must name pyftpd_server.py"
#endif

namespace fs = std::filesystem;

namespace testsupport {

struct FtpServer::Process {
  ChildProcess child;
  SpawnRequest request;  // how it was started, for a restart
  bool v6 = false;
  bool tlsFirst = false;
  bool quietStart = false;  // up once it listens (proftpd), not once it greets
};

namespace {

using Clock = std::chrono::steady_clock;
// Starting takes well under a second; a loaded machine or a sanitizer build may take several.
const auto kStartLimit = scaled(std::chrono::seconds(10));
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
#ifndef NIMBO_TEST_SERVERS_DIR
#define NIMBO_TEST_SERVERS_DIR "/opt/nimbo-test-servers"
#endif
constexpr const char* kTestUserHome = "/var/lib/nimbotest";

// ---- Sockets ----

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool fillAddress(bool v6, std::uint16_t port, sockaddr_storage& ss, socklen_t& len) {
  std::memset(&ss, 0, sizeof ss);
  if (v6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  }
  return true;
}

// Binds the loopback port (0: any) and returns the port bound, or 0 when it is taken.
std::uint16_t tryBind(bool v6, std::uint16_t port) {
  Socket s(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (s.get() < 0) return 0;
  if (v6) {
    int one = 1;
    ::setsockopt(s.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  }
  sockaddr_storage ss;
  socklen_t len;
  fillAddress(v6, port, ss, len);
  if (::bind(s.get(), reinterpret_cast<sockaddr*>(&ss), len) != 0) return 0;
  if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
  return ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                  : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

// A port free right now on 127.0.0.1 (and on ::1 when asked). Someone may take it before the server
// binds it; callers retry on that.
std::uint16_t freePort(bool v6too) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::uint16_t port = tryBind(false, 0);
    if (port != 0 && (!v6too || tryBind(true, port) != 0)) return port;
  }
  return 0;
}

// n consecutive ports free right now, away from the kernel's ephemeral range.
std::pair<int, int> freePortRange(int n, bool v6too) {
  static std::mutex m;
  static std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                             static_cast<unsigned>(Clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    int base;
    {
      std::lock_guard lock(m);
      base = std::uniform_int_distribution<int>(20000, 32000 - n)(random);
    }
    bool allFree = true;
    for (int p = base; p < base + n && allFree; ++p)
      allFree = tryBind(false, static_cast<std::uint16_t>(p)) != 0 &&
                (!v6too || tryBind(true, static_cast<std::uint16_t>(p)) != 0);
    if (allFree) return {base, base + n - 1};
  }
  return {0, 0};
}

// Connects to the server and reads its greeting: an empty text once "220" came, else what went wrong.
// A server that speaks TLS from the first byte is ready once it takes the connection.
std::string greeting(bool v6, std::uint16_t port, Clock::time_point deadline, bool tlsFirst) {
  Socket s(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (s.get() < 0) return std::strerror(errno);
  sockaddr_storage ss;
  socklen_t len;
  fillAddress(v6, port, ss, len);
  if (::connect(s.get(), reinterpret_cast<sockaddr*>(&ss), len) != 0 && errno != EINPROGRESS)
    return std::strerror(errno);
  if (tlsFirst) {
    pollfd p{s.get(), POLLOUT, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) return "no connection";
    int e = 0;
    socklen_t el = sizeof e;
    ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &e, &el);
    return e ? std::strerror(e) : std::string();
  }
  std::string got;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return got.empty() ? "no greeting" : "greeting \"" + got + "\"";
    pollfd p{s.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[256];
    const ssize_t n = ::recv(s.get(), buf, sizeof buf, 0);
    if (n <= 0) {
      int e = 0;
      socklen_t el = sizeof e;
      ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &e, &el);
      return e ? std::strerror(e) : "connection closed";
    }
    got.append(buf, static_cast<size_t>(n));
    if (got.find('\n') != std::string::npos) {
      if (got.rfind("220", 0) == 0) {
        ::send(s.get(), "QUIT\r\n", 6, MSG_NOSIGNAL);
        return {};
      }
      return "greeting \"" + got.substr(0, got.find('\r')) + "\"";
    }
  }
}

// Waits until the server greets on the port (each address asked for), or the process ended, or time ran out.
std::string awaitGreeting(ChildProcess& child, std::uint16_t port, bool v6, Clock::time_point deadline,
                          bool tlsFirst = false) {
  std::string last;
  for (;;) {
    if (!child.running())
      return "the server process ended (exit " + std::to_string(child.status().value_or(-1)) + ")";
    last = greeting(v6, port, std::min(deadline, Clock::now() + std::chrono::seconds(1)), tlsFirst);
    if (last.empty()) return {};
    if (Clock::now() >= deadline)
      return "not accepting connections on port " + std::to_string(port) + ": " + last;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Whether a socket listens on the loopback port, as the kernel's table shows it: a way to wait for a
// server that must not be spoken to before the test does (proftpd sleeps 0.2 s after every session
// that ends, taking no connection meanwhile).
bool listensOn(std::uint16_t port, bool v6) {
  std::ifstream table(v6 ? "/proc/net/tcp6" : "/proc/net/tcp");
  char portHex[8];
  std::snprintf(portHex, sizeof portHex, ":%04X", port);
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, portHex) == 0) return true;
  }
  return false;
}

std::string awaitListening(ChildProcess& child, std::uint16_t port, bool v6, Clock::time_point deadline) {
  for (;;) {
    if (!child.running())
      return "the server process ended (exit " + std::to_string(child.status().value_or(-1)) + ")";
    if (listensOn(port, v6)) return {};
    if (Clock::now() >= deadline) return "not listening on port " + std::to_string(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// ---- Temporary directories ----

std::optional<fs::path> makeTempDir(std::string_view prefix) {
  std::error_code ec;
  fs::path tmp = fs::temp_directory_path(ec);
  if (ec) tmp = "/tmp";
  std::string pattern = (tmp / (std::string(prefix) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return std::nullopt;
  return fs::path(pattern);
}

std::string readWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string relativeClean(std::string_view relative) {
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  return std::string(relative);
}

// ---- The local user vsftpd logs in ----

std::optional<std::pair<uid_t, gid_t>> lookUpUser(const char* name, std::string* shell = nullptr) {
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwnam_r(name, &pw, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
  if (shell) *shell = pw.pw_shell ? pw.pw_shell : "";
  return std::pair{pw.pw_uid, pw.pw_gid};
}

bool passwordMatches(const std::string& user, std::string_view password) {
  spwd sp{};
  spwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getspnam_r(user.c_str(), &sp, buf.data(), buf.size(), &found) != 0 || !found || !sp.sp_pwdp)
    return false;
  const std::string hash = sp.sp_pwdp;
  if (hash.empty() || hash[0] == '!' || hash[0] == '*') return false;
  crypt_data data{};
  const char* again = ::crypt_r(std::string(password).c_str(), hash.c_str(), &data);
  return again && hash == again;
}

// Creates the test user when missing and makes sure of its password and shell (PAM's pam_shells wants a
// shell from /etc/shells). Serialised across test processes, which may start vsftpd at the same time.
std::string provisionTestUser() {
  static std::mutex inProcess;
  std::lock_guard lock(inProcess);
  const char* lockFile =
      fs::is_directory("/run/lock") ? "/run/lock/nimbo-ftp-test-user.lock" : "/tmp/nimbo-ftp-test-user.lock";
  const int lockFd = ::open(lockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd >= 0) ::flock(lockFd, LOCK_EX);
  struct Unlock {
    int fd;
    ~Unlock() {
      if (fd >= 0) ::close(fd);
    }
  } unlock{lockFd};

  const std::string user(kTestUser);
  std::string shell;
  if (!lookUpUser(user.c_str(), &shell)) {
    const int rc = runCommand({"/usr/sbin/useradd", "--system", "--no-create-home", "--home-dir",
                               kTestUserHome, "--shell", "/bin/bash", "--comment", "nimbo FTP tests", user});
    if (rc != 0 || !lookUpUser(user.c_str(), &shell))
      return "cannot create the local user " + user + " (useradd exit " + std::to_string(rc) + ")";
  }
  if (shell != "/bin/bash" && runCommand({"/usr/sbin/usermod", "--shell", "/bin/bash", user}) != 0)
    return "cannot give " + user + " a login shell";
  const auto ids = lookUpUser(user.c_str());
  std::error_code ec;
  fs::create_directories(kTestUserHome, ec);
  if (ids && ::chown(kTestUserHome, ids->first, ids->second) != 0)
    return "cannot chown " + std::string(kTestUserHome);
  if (!passwordMatches(user, kTestPassword)) {
    const int rc = runCommand({"/usr/sbin/chpasswd"}, user + ":" + std::string(kTestPassword) + "\n");
    if (rc != 0 || !passwordMatches(user, kTestPassword))
      return "cannot set the password of " + user + " (chpasswd exit " + std::to_string(rc) + ")";
  }
  return {};
}

// A private PAM service: Debian's /etc/pam.d/vsftpd stacks pam_unix without "nodelay", so every
// refused password would cost a test 2 s. This one checks the password and the account, and no more.
std::string pamService() {
  static std::mutex m;
  std::lock_guard lock(m);
  const char* name = "nimbo-ftp-test";
  const std::string text =
      "# Written by the nimbo test fixtures: password logon of the local test user for vsftpd.\n"
      "auth\trequired\tpam_unix.so nodelay\n"
      "account\trequired\tpam_unix.so\n"
      "session\trequired\tpam_permit.so\n";
  const fs::path file = fs::path("/etc/pam.d") / name;
  if (readWhole(file) != text) {
    // Written beside and renamed, so that a vsftpd of another test never reads half a file.
    const fs::path part = file.string() + "." + std::to_string(::getpid());
    std::ofstream(part) << text;
    std::error_code ec;
    fs::rename(part, file, ec);
    if (ec) return {};
  }
  return name;
}

// Where scripts/setup.sh unpacked the servers that conflict with vsftpd as packages.
fs::path unpackedServers() {
  const char* dir = std::getenv("NIMBO_TEST_SERVERS");
  return dir && *dir ? fs::path(dir) : fs::path(NIMBO_TEST_SERVERS_DIR);
}

// A password hash as crypt(3) writes it (SHA-512, a fresh salt), for the servers' own user files.
std::string passwordHash(std::string_view password) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";
  std::random_device random;
  std::string setting = "$6$";
  for (int i = 0; i < 16; ++i) setting += alphabet[random() % 64];
  crypt_data data{};
  const char* hash = ::crypt_r(std::string(password).c_str(), setting.c_str(), &data);
  return hash && hash[0] == '$' ? hash : std::string();
}

std::string groupName(gid_t gid) {
  group gr{};
  group* found = nullptr;
  std::vector<char> buf(16384);
  if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return std::to_string(gid);
  return gr.gr_name;
}

void writeText(const fs::path& file, const std::string& text, fs::perms perms) {
  std::ofstream(file, std::ios::trunc) << text;
  std::error_code ec;
  fs::permissions(file, perms, ec);
}

}  // namespace

// ---- Starting ----

class ServerStarter {
 public:
  static StartedServer pyftpdlib(const ServerOptions& o);
  static StartedServer vsftpd(const ServerOptions& o);
  static StartedServer proftpd(const ServerOptions& o);
  static StartedServer pureFtpd(const ServerOptions& o);

 private:
  // One server process to start, and the loopbacks it must greet on before the server counts as up.
  struct Launch {
    SpawnRequest request;
    std::vector<bool> families;  // false: 127.0.0.1, true: ::1
    bool quietStart = false;     // up once it listens, without a session to greet
  };
  // Writes what the processes need for this port into `launches`; an error text when it cannot.
  using Prepare =
      std::function<std::string(FtpServer& server, std::uint16_t port, std::vector<Launch>& launches)>;

  static std::unique_ptr<FtpServer> prepare(const char* kind, std::string& error);
  // The servers that run as root and serve the local test user: that user, and the server ready for it.
  static std::unique_ptr<FtpServer> prepareForTestUser(const char* kind, const ServerOptions& o,
                                                       std::string& error);
  // Starts the processes on a free port. Another test may take the port between our probe and the
  // server's bind: then the server exits saying so (one of `portTaken` in its log) and we try again
  // with a new port.
  static StartedServer launch(std::unique_ptr<FtpServer> server, const ServerOptions& o,
                              const Prepare& prepare, std::initializer_list<const char*> portTaken);
};

std::unique_ptr<FtpServer> ServerStarter::prepare(const char* kind, std::string& error) {
  auto base = makeTempDir(std::string("nimbo-") + kind);
  if (!base) {
    error = "cannot make a temporary directory: " + std::string(std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<FtpServer> server(new FtpServer());
  server->kind_ = kind;
  server->base_ = *base;
  server->root_ = *base / "root";
  std::error_code ec;
  fs::create_directory(server->root_, ec);
  // Servers drop to other users, who must reach the root through the base.
  fs::permissions(*base, fs::perms(0755), ec);
  fs::permissions(server->root_, fs::perms(0755), ec);
  if (ec) {
    error = "cannot prepare " + server->root_.string() + ": " + ec.message();
    return nullptr;
  }
  return server;
}

StartedServer ServerStarter::pyftpdlib(const ServerOptions& o) {
  // A missing server fails loudly: the machine lacks what scripts/setup.sh installs.
  if (!fs::exists(kPython))
    return StartedServer::failed(std::string(kPython) + " is missing (apt-get install python3)");
  std::string error;
  auto server = prepare("pyftpdlib", error);
  if (!server) return StartedServer::failed(error);
  server->user_ = o.user.empty() ? std::string(kTestUser) : o.user;
  server->password_ = o.user.empty() && o.password.empty() ? std::string(kTestPassword) : o.password;
  server->ipv6_ = o.ipv6;

  std::vector<std::string> argv = {kPython,
                                   "-B",
                                   NIMBO_PYFTPD_SERVER,
                                   "--root",
                                   server->root_.string(),
                                   "--user",
                                   server->user_,
                                   "--password",
                                   server->password_,
                                   "--log",
                                   (server->base_ / "server.log").string()};
  if (o.readOnly) argv.push_back("--read-only");
  if (o.anonymous) argv.push_back("--anonymous");
  if (o.ipv6) argv.push_back("--ipv6");
  if (!o.mlsd) argv.push_back("--no-mlsd");
  if (o.idleTimeoutSeconds > 0)
    argv.insert(argv.end(), {"--idle-timeout", std::to_string(o.idleTimeoutSeconds)});
  if (!o.banner.empty()) argv.insert(argv.end(), {"--banner", o.banner});
  if (o.tls == Tls::Implicit) return StartedServer::failed("pyftpdlib speaks explicit TLS only");
  if (o.tls == Tls::Explicit)
    argv.insert(argv.end(), {"--tls-certificate",
                             o.certificate.empty() ? testCertificates().server.string() : o.certificate});
  if (o.passivePorts > 0) {
    server->passiveRange_ = freePortRange(o.passivePorts, o.ipv6);
    if (server->passiveRange_.first == 0) return StartedServer::failed("no free passive port range");
    argv.insert(argv.end(), {"--passive-ports", std::to_string(server->passiveRange_.first) + "-" +
                                                    std::to_string(server->passiveRange_.second)});
  }

  auto process = std::make_unique<FtpServer::Process>();
  SpawnRequest request;
  request.argv = argv;
  request.pipeStdout = true;
  request.stderrFile = (server->base_ / "server.log").string();
  process->request = request;
  if (auto e = process->child.start(request)) return StartedServer::failed("cannot start pyftpdlib: " + *e);
  const auto deadline = Clock::now() + kStartLimit;
  // The launcher binds a port of the kernel's choosing and names it: no race with other tests.
  std::optional<std::string> line;
  while ((line = process->child.readLine(deadline)) && line->rfind("PORT ", 0) != 0) {
  }
  process->child.closePipe();
  if (!line) {
    process->child.stop();
    const std::string log = server->log();
    if (log.find("No module named 'pyftpdlib'") != std::string::npos)
      return StartedServer::failed("pyftpdlib is not installed (apt-get install python3-pyftpdlib)");
    return StartedServer::failed("pyftpdlib did not start within " + std::to_string(kStartLimit.count()) +
                                 " ms; its log:\n" + log);
  }
  server->port_ = static_cast<std::uint16_t>(std::stoi(line->substr(5)));
  std::string why = awaitGreeting(process->child, server->port_, false, deadline);
  if (why.empty() && o.ipv6) why = awaitGreeting(process->child, server->port_, true, deadline);
  server->processes_.push_back(std::move(process));
  if (!why.empty()) return StartedServer::failed("pyftpdlib: " + why + "; its log:\n" + server->log());
  return StartedServer(std::move(server));
}

StartedServer ServerStarter::vsftpd(const ServerOptions& o) {
  if (::geteuid() != 0)
    return StartedServer::failed("vsftpd logs in real local users and needs root to switch to them (uid " +
                                     std::to_string(::geteuid()) + ")",
                                 true);
  if (!fs::exists(kVsftpd))
    return StartedServer::failed(std::string(kVsftpd) + " is missing (apt-get install vsftpd)");
  const auto ftpIds = lookUpUser("ftp");
  if (o.anonymous && !ftpIds) return StartedServer::failed("no local user \"ftp\" for anonymous logon");

  std::string error;
  auto server = prepareForTestUser("vsftpd", o, error);
  if (!server) return StartedServer::failed(error);
  const fs::path empty = server->base_ / "empty";
  std::error_code ec;
  fs::create_directory(empty, ec);
  fs::permissions(empty, fs::perms(0555), ec);
  if (o.anonymous) {
    const fs::path incoming = server->root_ / "incoming";
    fs::create_directory(incoming, ec);
    if (::chown(incoming.c_str(), ftpIds->first, ftpIds->second) != 0)
      return StartedServer::failed("cannot give incoming/ to the ftp user");
  }
  const std::string pam = pamService();
  if (pam.empty()) return StartedServer::failed("cannot write the PAM service /etc/pam.d/nimbo-ftp-test");

  const Prepare writeConfigurations = [&](FtpServer& server, std::uint16_t port,
                                          std::vector<Launch>& launches) {
    for (bool v6 : {false, true}) {
      if (v6 && !o.ipv6) break;
      const fs::path conf = server.base_ / (v6 ? "vsftpd6.conf" : "vsftpd.conf");
      std::ofstream out(conf);
      // vsftpd listens on one address family per process, so ::1 gets a second one.
      out << (v6 ? "listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n"
                 : "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n")
          << "listen_port=" << port << "\n"
          << "background=NO\n"
             "seccomp_sandbox=NO\n"
             "run_as_launching_user=NO\n"
          << "pam_service_name=" << pam << "\n"
          << "secure_chroot_dir=" << empty.string() << "\n"
          << "local_enable=YES\n"
             "write_enable="
          << (o.readOnly ? "NO" : "YES") << "\n"
          << "local_root=" << server.root_.string() << "\n"
          << "chroot_local_user=YES\n"
             "allow_writeable_chroot=YES\n"
             "local_umask=022\n"
             "delay_failed_login=0\n"
             "delay_successful_login=0\n"
          << "anonymous_enable=" << (o.anonymous ? "YES" : "NO") << "\n"
          << "anon_root=" << server.root_.string() << "\n"
          << "no_anon_password=YES\n"
             "anon_upload_enable=YES\n"
             "anon_mkdir_write_enable=YES\n"
             "anon_umask=022\n"
             "pasv_enable=YES\n"
             "port_enable=YES\n"
          << "ascii_upload_enable=" << (o.asciiConversion ? "YES" : "NO") << "\n"
          << "ascii_download_enable=" << (o.asciiConversion ? "YES" : "NO") << "\n"
          << "utf8_filesystem=" << (o.utf8 ? "YES" : "NO") << "\n"
          << "xferlog_enable=YES\n"
             "log_ftp_protocol=YES\n"
          << "vsftpd_log_file=" << (server.base_ / (v6 ? "vsftpd6.log" : "vsftpd.log")).string() << "\n";
      if (server.passiveRange_.first != 0)
        out << "pasv_min_port=" << server.passiveRange_.first
            << "\npasv_max_port=" << server.passiveRange_.second << "\n";
      if (o.idleTimeoutSeconds > 0) out << "idle_session_timeout=" << o.idleTimeoutSeconds << "\n";
      if (!o.banner.empty()) out << "ftpd_banner=" << o.banner << "\n";
      if (o.tls != Tls::Off) {
        const std::string pem = o.certificate.empty() ? testCertificates().server.string() : o.certificate;
        // Strict, as a careful administrator sets it: every data connection resumes the control
        // connection's session and (unless asked otherwise) ends with a TLS close, both ways.
        out << "ssl_enable=YES\n"
            << "rsa_cert_file=" << pem << "\nrsa_private_key_file=" << pem << "\n"
            << "ssl_ciphers=HIGH\n"
               "ssl_request_cert=NO\n"
               "require_ssl_reuse=YES\n"
               "force_local_logins_ssl=YES\n"
               "force_local_data_ssl=YES\n"
            << "allow_anon_ssl=" << (o.anonymous ? "YES" : "NO") << "\n"
            << "implicit_ssl=" << (o.tls == Tls::Implicit ? "YES" : "NO") << "\n"
            << "strict_ssl_read_eof=" << (o.strictTlsClose ? "YES" : "NO") << "\n"
            << "strict_ssl_write_shutdown=" << (o.strictTlsClose ? "YES" : "NO") << "\n";
      }
      out.close();
      if (!out) return "cannot write " + conf.string();
      Launch l;
      l.request.argv = {kVsftpd, conf.string()};
      l.request.stdoutFile = (server.base_ / "server.log").string();
      l.families = {v6};
      launches.push_back(std::move(l));
    }
    return std::string();
  };
  return launch(std::move(server), o, writeConfigurations, {"could not bind listening"});
}

StartedServer ServerStarter::launch(std::unique_ptr<FtpServer> server, const ServerOptions& o,
                                    const Prepare& prepare, std::initializer_list<const char*> portTaken) {
  const std::string kind = server->kind_;
  std::string why;
  for (int attempt = 0; attempt < 8; ++attempt) {
    server->processes_.clear();
    const std::uint16_t port = freePort(o.ipv6);
    if (port == 0) return StartedServer::failed("no free port on the loopback interface");
    std::vector<Launch> launches;
    if (std::string e = prepare(*server, port, launches); !e.empty())
      return StartedServer::failed(kind + ": " + e);
    const auto deadline = Clock::now() + kStartLimit;
    why.clear();
    for (Launch& l : launches) {
      auto process = std::make_unique<FtpServer::Process>();
      process->request = l.request;
      process->v6 = !l.families.empty() && l.families.front();
      process->tlsFirst = o.tls == Tls::Implicit;
      process->quietStart = l.quietStart;
      if (auto e = process->child.start(l.request))
        return StartedServer::failed("cannot start " + kind + ": " + *e);
      for (bool v6 : l.families) {
        why = l.quietStart ? awaitListening(process->child, port, v6, deadline)
                           : awaitGreeting(process->child, port, v6, deadline, o.tls == Tls::Implicit);
        if (!why.empty()) break;
      }
      server->processes_.push_back(std::move(process));
      if (!why.empty()) break;
    }
    if (why.empty()) {
      server->port_ = port;
      return StartedServer(std::move(server));
    }
    const std::string log = server->log();
    if (std::none_of(portTaken.begin(), portTaken.end(),
                     [&](const char* sign) { return log.find(sign) != std::string::npos; }))
      break;
    server->processes_.clear();
    std::error_code ec;
    for (const char* name : {"server.log", "proftpd.log"}) fs::remove(server->base_ / name, ec);
  }
  return StartedServer::failed(kind + ": " + why + "; its log:\n" + server->log());
}

std::unique_ptr<FtpServer> ServerStarter::prepareForTestUser(const char* kind, const ServerOptions& o,
                                                             std::string& error) {
  if ((!o.user.empty() && o.user != kTestUser) || (!o.password.empty() && o.password != kTestPassword)) {
    error = std::string(kind) + " serves only the local test user; user and password are pyftpdlib's options";
    return nullptr;
  }
  if (error = provisionTestUser(); !error.empty()) return nullptr;
  auto server = prepare(kind, error);
  if (!server) return nullptr;
  server->user_ = std::string(kTestUser);
  server->password_ = std::string(kTestPassword);
  server->ipv6_ = o.ipv6;
  // A read-only user owns nothing under the root: the server's user may then read and never write.
  if (!o.readOnly) server->owner_ = lookUpUser(std::string(kTestUser).c_str());
  server->chownToServerUser(server->root_);
  if (o.passivePorts > 0) {
    server->passiveRange_ = freePortRange(o.passivePorts, o.ipv6);
    if (server->passiveRange_.first == 0) {
      error = "no free passive port range";
      return nullptr;
    }
  }
  return server;
}

StartedServer ServerStarter::proftpd(const ServerOptions& o) {
  const fs::path program = unpackedServers() / "proftpd-core/usr/sbin/proftpd";
  if (::geteuid() != 0)
    return StartedServer::failed(
        "proftpd switches to the test user and needs root for it (uid " + std::to_string(::geteuid()) + ")",
        true);
  if (!fs::exists(program))
    return StartedServer::failed(program.string() + " is missing (scripts/setup.sh unpacks it)");
  if (o.tls != Tls::Off) return StartedServer::failed("the proftpd fixture does not offer TLS");
  const auto ftpIds = lookUpUser("ftp");
  if (o.anonymous && !ftpIds) return StartedServer::failed("no local user \"ftp\" for anonymous logon");
  std::string error;
  auto server = prepareForTestUser("proftpd", o, error);
  if (!server) return StartedServer::failed(error);
  const auto ids = lookUpUser(std::string(kTestUser).c_str());
  const fs::path& base = server->base_;
  std::error_code ec;
  if (o.anonymous) {
    const fs::path incoming = server->root_ / "incoming";
    fs::create_directory(incoming, ec);
    if (::chown(incoming.c_str(), ftpIds->first, ftpIds->second) != 0)
      return StartedServer::failed("cannot give incoming/ to the ftp user");
  }
  // Its own user file: the test user with its password, at home in the root, which becomes its "/".
  const std::string hash = passwordHash(kTestPassword);
  if (hash.empty()) return StartedServer::failed("cannot hash the test user's password");
  writeText(base / "passwd",
            std::string(kTestUser) + ":" + hash + ":" + std::to_string(ids->first) + ":" +
                std::to_string(ids->second) + "::" + server->root_.string() + ":/bin/sh\n",
            fs::perms(0600));
  writeText(base / "group", groupName(ids->second) + ":x:" + std::to_string(ids->second) + ":\n",
            fs::perms(0644));

  const Prepare writeConfiguration = [&](FtpServer& server, std::uint16_t port,
                                         std::vector<Launch>& launches) {
    const fs::path conf = base / "proftpd.conf";
    std::ofstream out(conf);
    out << "ServerType standalone\n"
           "ServerName \"nimbo tests\"\n"
        << "ServerIdent on \"" << (o.banner.empty() ? "ProFTPD ready" : o.banner) << "\"\n"
        << (o.ipv6 ? "UseIPv6 on\nDefaultAddress 127.0.0.1 ::1\n" : "UseIPv6 off\nDefaultAddress 127.0.0.1\n")
        // Only the loopback addresses named, not every interface's.
        << "SocketBindTight on\n"
        << "Port " << port << "\n"
        << "User nobody\nGroup nogroup\n"
        << "PidFile " << (base / "proftpd.pid").string() << "\n"
        << "ScoreboardFile " << (base / "proftpd.scoreboard").string()
        << "\n"
        // No delay after a refused password, no lookups: logon tests must not crawl.
        << "DelayEngine off\n"
           "UseReverseDNS off\n"
           "WtmpLog off\n"
           "AuthPAM off\n"
           "AuthOrder mod_auth_file.c mod_auth_unix.c\n"
        << "AuthUserFile " << (base / "passwd").string() << "\n"
        << "AuthGroupFile " << (base / "group").string() << "\n"
        << "RequireValidShell off\n"
           "DefaultRoot ~\n"
           "AllowOverwrite on\n"
           "AllowStoreRestart on\n"
           "Umask 022\n"
           "MaxInstances 200\n"
        << "TimeoutIdle " << (o.idleTimeoutSeconds > 0 ? o.idleTimeoutSeconds : 300) << "\n"
        << "TransferLog " << (base / "transfer.log").string() << "\n"
        << "SystemLog " << (base / "proftpd.log").string() << "\n"
        << "LogFormat dialogue \"%m %J -> %s %S\"\n"
        << "ExtendedLog " << (base / "dialogue.log").string() << " ALL dialogue\n";
    if (!o.mlsd) out << "FactsAdvertise off\n";
    if (server.passiveRange_.first != 0)
      out << "PassivePorts " << server.passiveRange_.first << " " << server.passiveRange_.second << "\n";
    if (o.readOnly) out << "<Limit WRITE SITE_CHMOD>\n  DenyAll\n</Limit>\n";
    if (o.anonymous)
      out << "<Anonymous " << server.root_.string() << ">\n"
          << "  User ftp\n  Group nogroup\n  UserAlias anonymous ftp\n  RequireValidShell off\n"
             "  <Limit WRITE SITE_CHMOD>\n    DenyAll\n  </Limit>\n"
             "  <Directory incoming>\n    <Limit WRITE>\n      AllowAll\n    </Limit>\n  </Directory>\n"
             "</Anonymous>\n";
    out.close();
    if (!out) return "cannot write " + conf.string();
    Launch l;
    l.request.argv = {program.string(), "--nodaemon", "--config", conf.string()};
    l.request.stdoutFile = (base / "server.log").string();
    l.request.killAtOnce = true;  // it spends 0.2 to 0.4 s over SIGTERM, and has nothing to save
    l.quietStart = true;
    l.families = {false};
    if (o.ipv6) l.families.push_back(true);
    launches.push_back(std::move(l));
    return std::string();
  };
  return launch(std::move(server), o, writeConfiguration, {"Address already in use"});
}

StartedServer ServerStarter::pureFtpd(const ServerOptions& o) {
  const fs::path program = unpackedServers() / "pure-ftpd/usr/sbin/pure-ftpd";
  const fs::path pw = unpackedServers() / "pure-ftpd/usr/bin/pure-pw";
  if (::geteuid() != 0)
    return StartedServer::failed(
        "pure-ftpd switches to the test user and needs root for it (uid " + std::to_string(::geteuid()) + ")",
        true);
  if (!fs::exists(program) || !fs::exists(pw))
    return StartedServer::failed(program.string() + " is missing (scripts/setup.sh unpacks it)");
  if (o.anonymous)
    return StartedServer::failed(
        "pure-ftpd serves anonymous users from the home of the system's ftp user only", true);
  if (o.tls != Tls::Off) return StartedServer::failed("the pure-ftpd fixture does not offer TLS");
  if (!o.mlsd) return StartedServer::failed("pure-ftpd always offers MLSD");
  std::string error;
  auto server = prepareForTestUser("pure-ftpd", o, error);
  if (!server) return StartedServer::failed(error);
  const auto ids = lookUpUser(std::string(kTestUser).c_str());
  const fs::path& base = server->base_;
  // A virtual user of its own database, mapped onto the local test user, chrooted into the root ("/./").
  const std::string hash = passwordHash(kTestPassword);
  if (hash.empty()) return StartedServer::failed("cannot hash the test user's password");
  writeText(base / "passwd",
            std::string(kTestUser) + ":" + hash + ":" + std::to_string(ids->first) + ":" +
                std::to_string(ids->second) + "::" + server->root_.string() + "/./::::::::::::\n",
            fs::perms(0600));
  const fs::path database = base / "users.pdb";
  if (runCommand({pw.string(), "mkdb", database.string(), "-f", (base / "passwd").string()}) != 0)
    return StartedServer::failed("pure-pw mkdb failed");
  if (!o.banner.empty()) writeText(base / "banner", o.banner + "\n", fs::perms(0644));

  const Prepare arguments = [&](FtpServer& server, std::uint16_t port, std::vector<Launch>& launches) {
    // One process per address, as with vsftpd: "-S host,port" binds one.
    for (bool v6 : {false, true}) {
      if (v6 && !o.ipv6) break;
      Launch l;
      l.request.argv = {program.string(),
                        "--bind",
                        std::string(v6 ? "::1" : "127.0.0.1") + "," + std::to_string(port),
                        "--login",
                        "puredb:" + database.string(),
                        "--noanonymous",
                        "--chrooteveryone",
                        "--minuid",
                        "1",
                        "--dontresolve",
                        "--displaydotfiles",
                        "--syslogfacility",
                        "none",
                        "--maxclientsnumber",
                        "200",
                        "--altlog",
                        "clf:" + (base / "transfer.log").string(),
                        "--pidfile",
                        (base / (v6 ? "pure-ftpd6.pid" : "pure-ftpd.pid")).string()};
      if (server.passiveRange_.first != 0)
        l.request.argv.insert(l.request.argv.end(),
                              {"--passiveportrange", std::to_string(server.passiveRange_.first) + ":" +
                                                         std::to_string(server.passiveRange_.second)});
      // Its idle limit is in minutes.
      if (o.idleTimeoutSeconds > 0)
        l.request.argv.insert(l.request.argv.end(),
                              {"--maxidletime", std::to_string((o.idleTimeoutSeconds + 59) / 60)});
      if (!o.banner.empty())
        l.request.argv.insert(l.request.argv.end(), {"--fortunesfile", (base / "banner").string()});
      l.request.stdoutFile = (base / "server.log").string();
      l.families = {v6};
      launches.push_back(std::move(l));
    }
    return std::string();
  };
  return launch(std::move(server), o, arguments, {"Address already in use"});
}

StartedServer startPyftpdlib(const ServerOptions& options) { return ServerStarter::pyftpdlib(options); }
StartedServer startVsftpd(const ServerOptions& options) { return ServerStarter::vsftpd(options); }
StartedServer startProftpd(const ServerOptions& options) { return ServerStarter::proftpd(options); }
StartedServer startPureFtpd(const ServerOptions& options) { return ServerStarter::pureFtpd(options); }

StartedServer startServer(std::string_view kind, const ServerOptions& options) {
  if (kind == "pyftpdlib") return startPyftpdlib(options);
  if (kind == "vsftpd") return startVsftpd(options);
  if (kind == "proftpd") return startProftpd(options);
  if (kind == "pure-ftpd") return startPureFtpd(options);
  return StartedServer::failed("no FTP server of the kind \"" + std::string(kind) + "\"");
}

const std::vector<std::string>& serverKinds() {
  static const std::vector<std::string> kinds = {"pyftpdlib", "vsftpd", "proftpd", "pure-ftpd"};
  return kinds;
}

std::string testNameOf(std::string_view kind) {
  std::string name;
  for (char c : kind)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

StartedServer StartedServer::failed(std::string why, bool skip) {
  StartedServer s;
  s.error_ = std::move(why);
  s.skipped_ = skip;
  return s;
}

// ---- The running server ----

FtpServer::~FtpServer() {
  processes_.clear();  // stops them
  std::error_code ec;
  if (!base_.empty()) fs::remove_all(base_, ec);
}

std::string FtpServer::address() const { return host() + ":" + std::to_string(port_); }

std::string FtpServer::address6() const { return ipv6_ ? "[::1]:" + std::to_string(port_) : std::string(); }

fs::path FtpServer::pathOf(std::string_view relative) const {
  return root_ / fs::path(relativeClean(relative));
}

void FtpServer::chownToServerUser(const fs::path& path) const {
  if (!owner_) return;
  if (::lchown(path.c_str(), owner_->first, owner_->second) != 0) {
    // Left as it is: the test will see the server refuse to change that file.
  }
}

void FtpServer::makeDirectory(std::string_view relative) const {
  const std::string rel = relativeClean(relative);
  fs::path at = root_;
  for (const auto& part : fs::path(rel)) {
    if (part.empty()) continue;
    at /= part;
    std::error_code ec;
    if (fs::create_directory(at, ec)) chownToServerUser(at);
  }
}

void FtpServer::put(std::string_view relative, std::string_view bytes) const {
  const fs::path file = pathOf(relative);
  const fs::path parent = fs::path(relativeClean(relative)).parent_path();
  if (!parent.empty()) makeDirectory(parent.string());
  writeFile(file, bytes);
  chownToServerUser(file);
}

std::optional<std::string> FtpServer::read(std::string_view relative) const {
  return readFile(pathOf(relative));
}

bool FtpServer::exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(pathOf(relative), ec);
}

void FtpServer::link(std::string_view relative, std::string_view target) const {
  const fs::path at = pathOf(relative);
  const fs::path parent = fs::path(relativeClean(relative)).parent_path();
  if (!parent.empty()) makeDirectory(parent.string());
  std::error_code ec;
  fs::create_symlink(fs::path(target), at, ec);
  chownToServerUser(at);
}

void FtpServer::handOver() const {
  if (!owner_) return;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    // incoming/ stays the anonymous user's.
    if (it->path() == root_ / "incoming") {
      it.disable_recursion_pending();
      continue;
    }
    chownToServerUser(it->path());
  }
}

std::string FtpServer::log() const {
  std::string all;
  for (const char* name :
       {"server.log", "vsftpd.log", "vsftpd6.log", "proftpd.log", "dialogue.log", "transfer.log"}) {
    const fs::path file = base_ / name;
    std::error_code ec;
    if (!fs::exists(file, ec)) continue;
    all += readWhole(file);
  }
  return all;
}

namespace {

// Every process below `root`: vsftpd's sessions run in sessions of their own, out of its group.
std::vector<pid_t> descendantsOf(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // pid, ppid
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = readWhole(entry.path() / "stat");
    const size_t close = stat.rfind(')');  // the command name may hold blanks and parentheses
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t ppid = 0;
    if (rest >> state >> ppid) parents.emplace_back(static_cast<pid_t>(std::stol(name)), ppid);
  }
  std::vector<pid_t> found{root};
  for (size_t i = 0; i < found.size(); ++i)
    for (const auto& [pid, ppid] : parents)
      if (ppid == found[i]) found.push_back(pid);
  found.erase(found.begin());
  return found;
}

}  // namespace

std::string FtpServer::restart() {
  std::vector<std::unique_ptr<Process>> stopped = std::move(processes_);
  processes_.clear();
  for (auto& p : stopped) {
    // Its sessions end at once, as when the machine's server crashes, before the server itself goes.
    for (pid_t session : descendantsOf(p->child.pid())) ::kill(session, SIGKILL);
    p->child.stop();
  }
  const auto deadline = Clock::now() + kStartLimit;
  for (auto& old : stopped) {
    auto process = std::make_unique<Process>();
    process->request = old->request;
    process->v6 = old->v6;
    process->tlsFirst = old->tlsFirst;
    SpawnRequest request = old->request;
    // pyftpdlib picked its port the first time; it takes the same one again.
    if (kind_ == "pyftpdlib") request.argv.insert(request.argv.end(), {"--port", std::to_string(port_)});
    if (auto e = process->child.start(request)) return "cannot start " + kind_ + " again: " + *e;
    if (request.pipeStdout) {
      std::optional<std::string> line;
      while ((line = process->child.readLine(deadline)) && line->rfind("PORT ", 0) != 0) {
      }
      process->child.closePipe();
    }
    process->quietStart = old->quietStart;
    std::string why = process->quietStart
                          ? awaitListening(process->child, port_, process->v6, deadline)
                          : awaitGreeting(process->child, port_, process->v6, deadline, process->tlsFirst);
    if (why.empty() && kind_ == "pyftpdlib" && ipv6_)
      why = awaitGreeting(process->child, port_, true, deadline);
    processes_.push_back(std::move(process));
    if (!why.empty()) return kind_ + " did not start again: " + why + "; its log:\n" + log();
  }
  return {};
}

bool FtpServer::running() const {
  if (processes_.empty()) return false;
  for (const auto& p : processes_)
    if (!p->child.running()) return false;
  return true;
}

// ---- Files ----

std::string randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(engine() & 0xFF);
  return bytes;
}

std::vector<TreeEntry> sampleTree() {
  return {
      {"plain.txt", "plain text\nsecond line\n"},
      {"name with blanks.txt", "blanks in the name\n"},
      {"!how to upload.txt", "a name that starts with a bang\n"},
      {"Gr\xC3\xBC\xC3\x9F\x65 \xC3\xA4\xC3\xB6\xC3\xBC.txt", "non-ASCII name\n"},
      {"UPPER.TXT", "upper case name\n"},
      {"lower.txt", "lower case name\n"},
      {".hidden", "a dot-file\n"},
      {"empty.bin", ""},
      {"one.bin", randomBytes(1, 11)},
      {"k1023.bin", randomBytes(1023, 12)},
      {"k1024.bin", randomBytes(1024, 13)},
      {"block plus one.bin", randomBytes(65537, 14)},
      {"empty dir/", ""},
      {"sub/", ""},
      {"sub/inner.bin", randomBytes(10000, 15)},
      {"sub/deeper/deep file.txt", "two levels down\n"},
  };
}

void writeTree(const fs::path& dir, const std::vector<TreeEntry>& entries) {
  for (const auto& e : entries) {
    std::error_code ec;
    if (!e.path.empty() && e.path.back() == '/') {
      fs::create_directories(dir / fs::path(e.path.substr(0, e.path.size() - 1)), ec);
      continue;
    }
    const fs::path file = dir / fs::path(e.path);
    fs::create_directories(file.parent_path(), ec);
    writeFile(file, e.bytes);
  }
}

std::vector<std::string> listTree(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = fs::relative(it->path(), dir, ec).generic_string();
    if (it->is_directory(ec)) rel += '/';
    out.push_back(std::move(rel));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void writeFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::string> readFile(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TempDir::TempDir(std::string_view prefix) {
  if (auto made = makeTempDir(prefix)) path_ = *made;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

}  // namespace testsupport
