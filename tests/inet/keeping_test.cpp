// Logged-on connections kept between a handle's close and the next connect with the same logon,
// against the scripted server: what is taken again and what is not, what the server may do to an idle
// one meanwhile, and when the idle ones say goodbye.
#include <gtest/gtest.h>

#include <cstdlib>

#include "certificates.h"
#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "inet/certificates.h"
#include "process.h"
#include "timing.h"

namespace ts = testsupport;
using namespace inettest;
using faultftp::Fault;
using faultftp::FaultServer;

namespace {

int count(const std::vector<std::string>& verbs, const std::string& verb) {
  return static_cast<int>(std::count(verbs.begin(), verbs.end(), verb));
}

class Keeping : public testing::Test {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5)});
    inet::resetKeeping();
    client.closeKeptAtEnd = false;
  }
  void TearDown() override {
    inet::closeKeptConnections();
    inet::resetKeeping();
    inet::resetTimeouts();
    inet::setExtraAuthorities({});
  }
  // Connects, downloads `remote` when given, and closes the connection; true when all went well.
  bool session(const std::string& server, const std::string& user, const std::string& password,
               DWORD flags = INTERNET_FLAG_PASSIVE, const char* remote = nullptr, Client* on = nullptr) {
    Client& c = on ? *on : client;
    HINTERNET conn = c.connect(server, user, password, flags);
    if (!conn) return false;
    bool ok = true;
    if (remote) {
      const std::string target = winPath(local / "target");
      ok = c.await([&] {
              return FtpGetFileA(conn, remote, target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                                 c.recorder.context());
            }).error == 0;
    }
    InternetCloseHandle(conn);
    return c.recorder.waitForClosing(conn) && ok;
  }

  ts::TempDir local;
  Client client;
};

TEST_F(Keeping, AKeptConnectionIsTakenAgainAndItsCallersSeeTheSameCalls) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(3000));
  ASSERT_TRUE(session(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, "/f.bin"));
  // The close says what it always says, but no goodbye goes to the server.
  EXPECT_EQ(count(server.verbs(), "QUIT"), 0);
  EXPECT_EQ(inet::keptConnections(), 1);

  const size_t from = client.recorder.notes().size();
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  std::vector<DWORD> connectNotes;
  const std::vector<Note> notes = client.recorder.notes();
  for (size_t i = from; i < notes.size(); ++i) connectNotes.push_back(notes[i].status);
  EXPECT_EQ(connectNotes,
            (std::vector<DWORD>{INTERNET_STATUS_HANDLE_CREATED, INTERNET_STATUS_REQUEST_COMPLETE}));
  // A download still announces three exchanges before its data, though TYPE I is in force.
  const size_t getFrom = client.recorder.notes().size();
  const std::string target = winPath(local / "again");
  Completion get = client.await([&] {
    return FtpGetFileA(conn, "/f.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  ASSERT_EQ(get.error, 0u);
  EXPECT_EQ(ts::readFile(local / "again"), ts::randomBytes(3000));
  int repliesBeforeData = 0;
  const std::vector<Note> getNotes = client.recorder.notes();
  for (size_t i = getFrom; i < getNotes.size(); ++i) {
    const Note& n = getNotes[i];
    if (n.status == INTERNET_STATUS_RESPONSE_RECEIVED && n.count == 3000) break;
    if (n.status == INTERNET_STATUS_RESPONSE_RECEIVED) ++repliesBeforeData;
  }
  EXPECT_EQ(repliesBeforeData, 3);
  InternetCloseHandle(conn);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));

  // One logon, one connection, one TYPE for both sessions.
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.verbs(), (std::vector<std::string>{"USER", "PASS", "FEAT", "OPTS", "TYPE", "EPSV", "RETR",
                                                      "EPSV", "RETR"}));
}

// A listed link is probed on the listing's connection: SIZE, then CWD into it and back to the logon
// folder, which PWD names once per connection. One that cannot come back is not kept: the callers'
// relative paths would start somewhere else.
TEST_F(Keeping, AListingsLinkProbesComeBackOrTheConnectionIsNotKept) {
  FaultServer server;
  server.setListing("/pub", "lrwxrwxrwx 1 u g 5 Jan  1  2020 folder -> there\r\n");
  server.add(Fault::on("CWD", 1).replying("250 In it."));
  server.add(Fault::on("CWD", 3).replying("250 In it."));
  server.add(Fault::on("CWD", 4).replying("550 Not going back."));
  auto listOnce = [&] {
    HINTERNET conn = client.connect(server.address(), "ann", "pw");
    if (!conn) return DWORD(0);
    WIN32_FIND_DATAA data{};
    Completion c = client.await(
        [&] { return FtpFindFirstFileA(conn, "/pub/*.*", &data, 0, client.recorder.context()) != nullptr; });
    if (c.error == 0) InternetCloseHandle(reinterpret_cast<HINTERNET>(c.result));
    InternetCloseHandle(conn);
    EXPECT_TRUE(client.recorder.waitForClosing(conn));
    return c.error == 0 ? data.dwFileAttributes : DWORD(0);
  };
  EXPECT_EQ(listOnce(), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(inet::keptConnections(), 1);
  EXPECT_EQ(listOnce(), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(inet::keptConnections(), 0);
  EXPECT_EQ(count(server.verbs(), "QUIT"), 1);
  const std::vector<std::string> commands = server.commands();
  const std::vector<std::string> probes(commands.begin() + 4, commands.end());
  EXPECT_EQ(probes,
            (std::vector<std::string>{"TYPE A", "EPSV", "LIST /pub", "TYPE I", "SIZE /pub/folder", "PWD",
                                      "CWD /pub/folder", "CWD /", "TYPE A", "EPSV", "LIST /pub", "TYPE I",
                                      "SIZE /pub/folder", "CWD /pub/folder", "CWD /", "QUIT"}));
}

TEST_F(Keeping, ADifferentLogonModeOrServerNeverGetsAnothersConnection) {
  faultftp::Options tls;
  tls.tlsCertificate = ts::testCertificates().server.string();
  inet::setExtraAuthorities(ts::testCertificates().authority);
  FaultServer server(tls), other;
  server.putFile("/f.bin", "secured");
  const std::string address = server.address();
  inet::Keeping many;
  many.perServer = 8;
  inet::setKeeping(many);
  ASSERT_TRUE(session(address, "ann", "pw"));
  ASSERT_TRUE(session(address, "bob", "pw"));
  ASSERT_TRUE(session(address, "ann", "other"));
  ASSERT_TRUE(session(address, "ann", "pw", 0));
  ASSERT_TRUE(session("ftpes://" + address, "ann", "pw", INTERNET_FLAG_PASSIVE, "/f.bin"));
  EXPECT_EQ(server.connections(), 5);
  ASSERT_TRUE(session(other.address(), "ann", "pw"));
  EXPECT_EQ(other.connections(), 1);
  // Each of them is taken by its own kind again.
  ASSERT_TRUE(session(address, "bob", "pw"));
  // The kept TLS connection's next data connection resumes a TLS session of its own.
  ASSERT_TRUE(session("ftpes://" + address, "ann", "pw", INTERNET_FLAG_PASSIVE, "/f.bin"));
  EXPECT_EQ(ts::readFile(local / "target"), "secured");
  EXPECT_EQ(server.connections(), 5);
  EXPECT_EQ(count(server.verbs(), "USER"), 5);
  EXPECT_EQ(count(server.verbs(), "PBSZ"), 1);
  // Beyond the bound for one server the oldest idle ones go; other servers keep theirs.
  inet::resetKeeping();
  ASSERT_TRUE(session(address, "carol", "pw"));
  EXPECT_EQ(inet::keptConnections(), 2 + 1);
  EXPECT_EQ(count(server.verbs(), "QUIT"), 4);
}

TEST_F(Keeping, AKeptConnectionTheServerEndedIsReplacedUnseen) {
  // 421 while idle, then a close without a word: either way the next connect logs on afresh and
  // the caller sees one clean request.
  for (const std::string goodbye : {"421 Timeout.", ""}) {
    SCOPED_TRACE(goodbye);
    FaultServer server;
    server.putFile("/f.bin", "kept");
    server.add(Fault::on("RETR", 1).dropsWhenIdle(faultftp::Millis(50), goodbye));
    ASSERT_TRUE(session(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, "/f.bin"));
    const auto deadline = std::chrono::steady_clock::now() + ts::scaled(std::chrono::seconds(5));
    while (server.openConnections() > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.openConnections(), 0);
    ASSERT_TRUE(session(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, "/f.bin"));
    EXPECT_EQ(ts::readFile(local / "target"), "kept");
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(count(server.verbs(), "USER"), 2);
  }
}

TEST_F(Keeping, AConnectionThatEndedInAnErrorIsNeverKept) {
  FaultServer server;
  server.putFile("/f.bin", "x");
  ASSERT_FALSE(session(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, "/missing"));
  EXPECT_EQ(inet::keptConnections(), 0);
  // A transfer cut short by its close leaves a reply owed: that one goes too.
  server.add(Fault::on("RETR").chunks(100, faultftp::Millis(20)));
  server.putFile("/slow.bin", std::string(100000, 's'));
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  const std::string target = winPath(local / "slow");
  FtpGetFileA(conn, "/slow.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
              client.recorder.context());
  ASSERT_TRUE(server.waitFor("RETR", 2));
  InternetCloseHandle(conn);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));
  EXPECT_EQ(inet::keptConnections(), 0);
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  EXPECT_EQ(server.connections(), 3);
}

TEST_F(Keeping, IdleOnesSayGoodbyeAtTheirTimeOrWhenNoSessionIsLeft) {
  inet::Keeping brief;
  brief.idle = std::chrono::milliseconds(200);
  inet::setKeeping(brief);
  FaultServer server;
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  // The session stays open: only the idle time ends it.
  EXPECT_TRUE(server.waitFor("QUIT", 1, ts::scaled(std::chrono::seconds(3))));
  EXPECT_EQ(inet::keptConnections(), 0);

  inet::resetKeeping();
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  EXPECT_EQ(inet::keptConnections(), 1);
  // A session closed and the next opened at once (as the client's listing does) keeps it.
  InternetCloseHandle(client.root);
  Client next;
  next.closeKeptAtEnd = false;
  client.root = nullptr;
  ASSERT_TRUE(session(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, nullptr, &next));
  EXPECT_EQ(server.connections(), 2);
  InternetCloseHandle(next.root);
  next.root = nullptr;
  EXPECT_TRUE(server.waitFor("QUIT", 2, ts::scaled(std::chrono::seconds(3))));
}

TEST_F(Keeping, IdleOnesSayGoodbyeWhenTheProcessEnds) {
  FaultServer server;
  // The probe connects, closes its connection and returns from main with its session open.
  const int status = ts::runCommand({KEEP_EXIT_PROBE, server.address()}, {}, std::chrono::seconds(20));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(server.waitFor("QUIT", 1, ts::scaled(std::chrono::seconds(3))));
  EXPECT_EQ(server.verbs().back(), "QUIT");
}

TEST_F(Keeping, AServerAtItsLimitOfConnectionsGetsAnIdleOneBack) {
  FaultServer server;
  // The second logon is refused as a server with a limit per address refuses it.
  server.add(Fault::on("GREETING", 2).replying("421 Too many connections from your address.").hangsUp());
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  ASSERT_TRUE(session(server.address(), "bob", "pw"));
  const auto verbs = server.verbs();
  EXPECT_EQ(verbs, (std::vector<std::string>{"USER", "PASS", "FEAT", "OPTS", "QUIT", "USER", "PASS", "FEAT",
                                             "OPTS"}));
}

TEST_F(Keeping, ACommandSentBehindEpsvEndsTheSessionWhenEpsvFailsAfterAll) {
  FaultServer server;
  server.putFile("/f.bin", "x");
  server.add(Fault::on("EPSV", 2).replying("500 Not now."));
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  const std::string target = winPath(local / "target");
  auto get = [&] {
    return client.await([&] {
      return FtpGetFileA(conn, "/f.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                         client.recorder.context());
    });
  };
  EXPECT_EQ(get().error, 0u);
  EXPECT_EQ(get().error, static_cast<DWORD>(ERROR_FTP_DROPPED));
  EXPECT_EQ(get().error, static_cast<DWORD>(ERROR_FTP_DROPPED));  // nothing more goes over it
  InternetCloseHandle(conn);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));
  EXPECT_EQ(inet::keptConnections(), 0);
  const auto verbs = server.verbs();
  EXPECT_EQ(std::vector<std::string>(verbs.begin() + 4, verbs.end()),
            (std::vector<std::string>{"TYPE", "EPSV", "RETR", "EPSV", "RETR"}));
}

TEST_F(Keeping, AnEnvironmentVariableTurnsItOff) {
  ::setenv("NIMBO_FTP_KEEP", "0", 1);
  FaultServer server;
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  ASSERT_TRUE(session(server.address(), "ann", "pw"));
  ::unsetenv("NIMBO_FTP_KEEP");
  EXPECT_EQ(server.connections(), 2);
  EXPECT_EQ(count(server.verbs(), "QUIT"), 2);
}

}  // namespace
