// Real FTP servers for the tests: pyftpdlib, vsftpd, proftpd and pure-ftpd, each started on an
// ephemeral loopback port over a fresh temporary root, stopped and removed again when the test lets go
// of it.
//
// Use (link the target `test_support`: nimbo_add_test(my_test SOURCES ... LIBS test_support ...)):
//
//   #include "ftp_servers.h"
//
//   TEST(Download, KeepsEveryByte) {
//     auto server = testsupport::startPyftpdlib();   // or startVsftpd(), startProftpd(), startPureFtpd(),
//     REQUIRE_FTP_SERVER(server);                    // or startServer("proftpd"); all take ServerOptions
//     server->put("sub dir/a file.bin", testsupport::randomBytes(70000));
//     ... InternetConnectA(hOpen, server->address().c_str(), 0, server->user().c_str(),
//                          server->password().c_str(), INTERNET_SERVICE_FTP, 0, 1) ...
//     EXPECT_EQ(server->read("sub dir/a file.bin"), ...);
//   }                                                // server stopped, root removed
//
// What you get from every server:
// - host 127.0.0.1 (and ::1 on the same port with ServerOptions::ipv6), port(), address() as
//   "127.0.0.1:PORT", the form the FTP layer takes as a server name; address6() as "[::1]:PORT".
// - a user with a password who may read and write the whole root, and sees the root as "/". The root
//   is empty at start, except for "incoming/" when anonymous logon is on (anonymous may read everything
//   and write only there, as on a public server; not pure-ftpd, below).
// - passive and active mode; passive data ports are any free port unless ServerOptions::passivePorts
//   asks for a range (picked free, never fixed).
// - log(): the server's own log (the control dialogue, where the server writes one), worth printing
//   when a test fails.
// - symbolic links made with link(), as a user of the server would find them.
//
// The servers differ as real ones do:
// - pyftpdlib offers MLSD/MLST (turn off with mlsd = false to force LIST parsing), answers transfers
//   with 125, refuses SIZE in ASCII mode, resolves links itself (a link to a folder lists as a folder)
//   and leaves dangling ones out of MLSD.
// - vsftpd has no MLSD, answers 150, lists in Unix "ls -l" form (links as "l... name -> target"), and
//   leaves dot-files out of LIST.
// - proftpd offers MLSD/MLST (mlsd = false hides them from FEAT), lists a link in MLSD as
//   "type=OS.unix=symlink" with the link's own size, answers MLST of one with its target's type but its
//   own size, leaves dangling links out of MLSD, and refuses SIZE in ASCII mode.
// - pure-ftpd offers MLSD/MLST always, lists and looks up links as "type=OS.unix=slink:" with the link's
//   own size (dangling ones too), and waits 4 to 5 s before it refuses a wrong password. It serves
//   anonymous users from the system's ftp account only, so anonymous = true is not offered (skipped).
//   It hides dot-files by default; here it shows them.
// All speak EPSV/PASV, EPRT/PORT, UTF8, REST, SIZE, MDTM; SIZE follows links on all.
//
// vsftpd, proftpd and pure-ftpd log in real local users or map virtual ones onto one, so they need
// root: the fixture then creates (once, idempotently) the local user `nimbotest` with a known password
// (and for vsftpd the PAM service /etc/pam.d/nimbo-ftp-test, password only, no delay after a refused
// one); the server runs the user's session as that user. Without root these starts report skipped()
// and REQUIRE_FTP_SERVER skips the test with the reason; a server that is not installed is a failure,
// naming what installs it. proftpd and pure-ftpd conflict with vsftpd as Debian packages, so
// scripts/setup.sh unpacks them into /opt/nimbo-test-servers (NIMBO_TEST_SERVERS names another folder).
// Because of that, change the root of those servers through put()/makeDirectory()/link() (or call
// handOver() after writing into root() yourself): they give the files to the server's user, so the
// server may overwrite, rename or delete them.
//
// With ServerOptions::tls the servers require TLS before logon and on every data connection (vsftpd
// and pyftpdlib; the other two fixtures do not offer it); the layer's tests make it trust the tests'
// authority (inet::setExtraAuthorities).
//
// Starting costs ~0.2 s for pyftpdlib (a Python process), ~0.05 s for vsftpd, proftpd and pure-ftpd.
// A suite that needs many tests against one server may start it once in SetUpTestSuite and keep the
// StartedServer.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// FTP over TLS: explicit (AUTH TLS on the usual port) or implicit (TLS from the first byte).
enum class Tls { Off, Explicit, Implicit };

struct ServerOptions {
  bool ipv6 = false;       // also listen on ::1, on the same port
  bool anonymous = false;  // allow "anonymous" (any password): read all, write into incoming/
  bool readOnly = false;   // the test user may list and download, nothing else
  bool mlsd = true;        // pyftpdlib, proftpd: offer MLSD and MLST (vsftpd never does, pure-ftpd always)
  bool asciiConversion = true;  // vsftpd: convert line ends in TYPE A as RFC 959 says (pyftpdlib always)
  bool utf8 = true;             // vsftpd: announce UTF8 in FEAT (pyftpdlib always does)
  int passivePorts = 0;         // 0: any free port per transfer; n > 0: a range of n ports free at start
  int idleTimeoutSeconds = 0;   // control connection idle limit; 0 keeps the server's default (300 s)
  std::string banner;           // text of the 220 greeting; empty for the server's own
  std::string user;             // pyftpdlib only: user and password instead of the defaults
  std::string password;
  // TLS required for logon and data (vsftpd: both kinds, data connections must resume the control
  // connection's session and end with a TLS close; pyftpdlib: explicit only). The server shows
  // `certificate` (a PEM with certificate and key), or the tests' good one (certificates.h).
  Tls tls = Tls::Off;
  std::string certificate;
  // vsftpd: data connections must end with a TLS close both ways (uploads too, which curl does not do).
  bool strictTlsClose = true;
};

// The test user's name and password when no other is asked for (always these but for pyftpdlib).
inline constexpr std::string_view kTestUser = "nimbotest";
inline constexpr std::string_view kTestPassword = "nimbo-Test-2pw";

class FtpServer {
 public:
  struct Process;  // a started server process (ipv4 and, for vsftpd with ipv6, a second one)

  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  const std::string& kind() const { return kind_; }  // "pyftpdlib", "vsftpd", "proftpd" or "pure-ftpd"
  std::string host() const { return "127.0.0.1"; }
  std::uint16_t port() const { return port_; }
  std::string address() const;   // "127.0.0.1:PORT"
  std::string address6() const;  // "[::1]:PORT", or empty when not listening on ::1
  const std::filesystem::path& root() const { return root_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // First and last port of the passive range, or 0, 0 when the server picks any.
  std::pair<int, int> passiveRange() const { return passiveRange_; }

  // The host path of a path relative to the root ("a/b.txt"; a leading "/" is allowed).
  std::filesystem::path pathOf(std::string_view relative) const;
  // Writes a file (parents made as needed) or makes a directory, owned by the server's user.
  void put(std::string_view relative, std::string_view bytes) const;
  void makeDirectory(std::string_view relative) const;
  // The bytes of a file in the root, or nothing when it cannot be read.
  std::optional<std::string> read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  // A symbolic link at `relative` to `target`, written as given (relative targets stay inside the
  // root, which the servers make the user's "/"), owned by the server's user.
  void link(std::string_view relative, std::string_view target) const;
  // Gives everything under the root to the server's user (after writing into root() directly).
  void handOver() const;

  // The server's log so far (its control dialogue and its errors).
  std::string log() const;
  // False once the server process has ended.
  bool running() const;
  // Stops the server (its sessions end at once, as when it crashes or is shut down) and starts it
  // again on the same port over the same root. Empty when it runs again, else why not.
  std::string restart();

 private:
  friend class ServerStarter;
  FtpServer() = default;
  void chownToServerUser(const std::filesystem::path& path) const;

  std::string kind_;
  std::uint16_t port_ = 0;
  bool ipv6_ = false;
  std::filesystem::path base_;  // temporary directory holding root/, logs and configuration
  std::filesystem::path root_;
  std::string user_;
  std::string password_;
  std::pair<int, int> passiveRange_{0, 0};
  std::optional<std::pair<uid_t, gid_t>> owner_;  // the server's user, when files must be given to it
  std::vector<std::unique_ptr<Process>> processes_;
};

// What a start gives: a running server, or why not (an error, or a reason to skip).
class StartedServer {
 public:
  StartedServer() = default;
  explicit StartedServer(std::unique_ptr<FtpServer> server) : server_(std::move(server)) {}
  static StartedServer failed(std::string why, bool skip = false);

  bool ok() const { return server_ != nullptr; }
  bool skipped() const { return skipped_; }
  const std::string& error() const { return error_; }
  FtpServer* operator->() const { return server_.get(); }
  FtpServer& operator*() const { return *server_; }
  FtpServer* get() const { return server_.get(); }
  void reset() { server_.reset(); }  // stops the server now

 private:
  std::unique_ptr<FtpServer> server_;
  std::string error_;
  bool skipped_ = false;
};

StartedServer startPyftpdlib(const ServerOptions& options = {});
StartedServer startVsftpd(const ServerOptions& options = {});
StartedServer startProftpd(const ServerOptions& options = {});
StartedServer startPureFtpd(const ServerOptions& options = {});
// The server of that kind(); an unknown kind fails.
StartedServer startServer(std::string_view kind, const ServerOptions& options = {});
// Every kind, for tests that run on all of them: "pyftpdlib", "vsftpd", "proftpd", "pure-ftpd".
const std::vector<std::string>& serverKinds();
// A kind as a GoogleTest parameter name ("pure-ftpd" -> "pureftpd").
std::string testNameOf(std::string_view kind);

// Fails the current test (or skips it, for a server this machine cannot run) unless the start worked.
#define REQUIRE_FTP_SERVER(started)                                     \
  do {                                                                  \
    if ((started).skipped()) GTEST_SKIP() << (started).error();         \
    ASSERT_TRUE((started).ok()) << "FTP server: " << (started).error(); \
  } while (0)

// ---- Files for the tests ----

// Bytes that look random (all 256 values), the same for the same size and seed.
std::string randomBytes(std::size_t size, std::uint32_t seed = 1);

// One entry of a tree: a file with its bytes, or a directory when the path ends in "/".
struct TreeEntry {
  std::string path;  // relative, "/" separators, UTF-8
  std::string bytes;
};

// A tree with what trips up file transfer code: names with blanks, non-ASCII names, upper and lower
// case, a dot-file, an empty file, an empty directory, nested directories, a file that is not a whole
// number of 64 KiB blocks, and sizes 0, 1, 1023, 1024 and 65537.
std::vector<TreeEntry> sampleTree();

// Writes the entries under dir (directories made as needed).
void writeTree(const std::filesystem::path& dir, const std::vector<TreeEntry>& entries);
// Every file and directory under dir as relative paths with "/", directories ending in "/", sorted.
std::vector<std::string> listTree(const std::filesystem::path& dir);

void writeFile(const std::filesystem::path& file, std::string_view bytes);
std::optional<std::string> readFile(const std::filesystem::path& file);

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "nimbo-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
