// FTP over TLS against real servers: vsftpd (explicit and implicit, requiring every data connection to
// resume the control connection's session and to end with a TLS close) and pyftpdlib's TLS handler
// (explicit), in passive and active mode; the trust question against a server with its own certificate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "certificates.h"
#include "client.h"
#include "ftp_servers.h"
#include "inet/certificates.h"

namespace ts = testsupport;
using namespace inettest;

namespace {

struct Setup {
  std::string server;  // "pyftpdlib" or "vsftpd"
  ts::Tls tls;
  bool passive;
};

std::string readAll(const std::filesystem::path& file) { return ts::readFile(file).value_or(""); }

class TlsFixture {
 protected:
  TlsFixture() {
    inet::setTimeouts({std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)});
    inet::setExtraAuthorities(ts::testCertificates().authority);
    inet::setTrustFile(local / "config" / "trusted");
  }
  ~TlsFixture() {
    inet::resetTimeouts();
    inet::setExtraAuthorities({});
    inet::setTrustFile({});
  }
  Completion get(Client& client, HINTERNET conn, const std::string& remote, const std::filesystem::path& to,
                 DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    const std::string target = winPath(to);
    return client.await([&] {
      return FtpGetFileA(conn, remote.c_str(), target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL, type,
                         client.recorder.context());
    });
  }
  Completion put(Client& client, HINTERNET conn, const std::filesystem::path& from, const std::string& remote,
                 DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    const std::string source = winPath(from);
    return client.await(
        [&] { return FtpPutFileA(conn, source.c_str(), remote.c_str(), type, client.recorder.context()); });
  }
  std::set<std::string> names(Client& client, HINTERNET conn) {
    std::set<std::string> out;
    WIN32_FIND_DATAA data{};
    Completion c = client.await(
        [&] { return FtpFindFirstFileA(conn, "*.*", &data, 0, client.recorder.context()) != nullptr; });
    if (c.error != 0) return out;
    HINTERNET find = reinterpret_cast<HINTERNET>(c.result);
    do out.insert(data.cFileName);
    while (InternetFindNextFileA(find, &data));
    InternetCloseHandle(find);
    return out;
  }
  ts::TempDir local{"nimbo-tls-servers"};
};

class TlsServers : public TlsFixture, public testing::TestWithParam<Setup> {
 protected:
  ts::StartedServer start() {
    ts::ServerOptions o;
    o.tls = GetParam().tls;
    return GetParam().server == "vsftpd" ? ts::startVsftpd(o) : ts::startPyftpdlib(o);
  }
  std::string name(const ts::FtpServer& server) const {
    return (GetParam().tls == ts::Tls::Implicit ? "ftps://" : "ftpes://") + server.address();
  }
  DWORD flags() const { return GetParam().passive ? INTERNET_FLAG_PASSIVE : 0; }
};

// One connection does it all, as a user's session would: a listing, binary and ASCII both ways.
TEST_P(TlsServers, ListsAndMovesBinaryAndAsciiFilesOverProtectedData) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  const std::string bytes = ts::randomBytes(700001, 3);
  std::string text;  // line ends across TLS records and transfer blocks
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  server->put("dir/data.bin", bytes);
  server->put("unix.txt", text);
  const std::filesystem::path trace = local / "trace.txt";
  ::setenv("NIMBO_FTP_TRACE", trace.c_str(), 1);

  Client client;
  HINTERNET conn = client.connect(name(*server), server->user(), server->password(), flags());
  ASSERT_NE(conn, nullptr) << server->log();
  EXPECT_EQ(names(client, conn), (std::set<std::string>{"dir", "unix.txt"}));

  Completion c = get(client, conn, "/dir/data.bin", local / "data.bin");
  ASSERT_EQ(c.error, 0u) << c.response << server->log();
  EXPECT_TRUE(ts::readFile(local / "data.bin") == bytes);
  c = get(client, conn, "/unix.txt", local / "unix.txt", FTP_TRANSFER_TYPE_ASCII);
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_TRUE(ts::readFile(local / "unix.txt") == text);

  ts::writeFile(local / "up.bin", bytes);
  c = put(client, conn, local / "up.bin", "/up.bin");
  ASSERT_EQ(c.error, 0u) << c.response << server->log();
  EXPECT_TRUE(server->read("up.bin") == bytes);
  ts::writeFile(local / "mixed.txt", "one\ntwo\r\nthree\n");
  c = put(client, conn, local / "mixed.txt", "/mixed.txt", FTP_TRANSFER_TYPE_ASCII);
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(server->read("mixed.txt"), "one\ntwo\nthree\n");
  InternetCloseHandle(conn);
  ::unsetenv("NIMBO_FTP_TRACE");

  // The trace shows each connection's TLS: version, cipher, certificate; data connections resumed.
  const std::string log = readAll(trace);
  EXPECT_NE(log.find("= TLS 1."), std::string::npos) << log;
  EXPECT_NE(log.find("certificate SHA-256 " + ts::testCertificates().serverFingerprint), std::string::npos);
  EXPECT_NE(log.find("session resumed"), std::string::npos) << log;
  EXPECT_EQ(log.find(server->password()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Inet, TlsServers,
                         testing::Values(Setup{"vsftpd", ts::Tls::Explicit, true},
                                         Setup{"vsftpd", ts::Tls::Explicit, false},
                                         Setup{"vsftpd", ts::Tls::Implicit, true},
                                         Setup{"vsftpd", ts::Tls::Implicit, false},
                                         Setup{"pyftpdlib", ts::Tls::Explicit, true},
                                         Setup{"pyftpdlib", ts::Tls::Explicit, false}),
                         [](const testing::TestParamInfo<Setup>& info) {
                           return info.param.server +
                                  (info.param.tls == ts::Tls::Implicit ? "_implicit" : "_explicit") +
                                  (info.param.passive ? "_passive" : "_active");
                         });

class TlsTrust : public TlsFixture, public testing::Test {};

TEST_F(TlsTrust, AServerWithItsOwnCertificateIsAskedAboutOnceAndThenRemembered) {
  ts::ServerOptions o;
  o.tls = ts::Tls::Explicit;
  o.certificate = ts::testCertificates().selfSigned.string();
  auto server = ts::startVsftpd(o);
  REQUIRE_FTP_SERVER(server);
  server->put("a.txt", "hello");
  const std::string target = "ftpes://" + server->address();

  // No question: refused, and no password went out.
  Client plain;
  Completion c;
  EXPECT_EQ(plain.connect(target, server->user(), server->password(), INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
  EXPECT_EQ(server->log().find("PASS"), std::string::npos);

  // Asked, and refused.
  std::vector<inet::CertificateFacts> asked;
  Client refusing;
  inet::setTrustQuestion(refusing.root, [&](const inet::CertificateFacts& facts, inet::TrustAnswer answer) {
    asked.push_back(facts);
    answer(inet::TrustDecision::Refuse);
  });
  EXPECT_EQ(refusing.connect(target, server->user(), server->password(), INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].fingerprint, ts::testCertificates().selfSignedFingerprint);

  // Asked, and trusted: the connect goes on, and the next one needs no question.
  Client trusting;
  inet::setTrustQuestion(trusting.root, [&](const inet::CertificateFacts& facts, inet::TrustAnswer answer) {
    asked.push_back(facts);
    answer(inet::TrustDecision::TrustAndRemember);
  });
  HINTERNET conn = trusting.connect(target, server->user(), server->password(), INTERNET_FLAG_PASSIVE);
  ASSERT_NE(conn, nullptr) << server->log();
  EXPECT_EQ(get(trusting, conn, "/a.txt", local / "a.txt").error, 0u);
  EXPECT_EQ(ts::readFile(local / "a.txt"), "hello");
  EXPECT_EQ(asked.size(), 2u);

  Client later;
  EXPECT_NE(later.connect(target, server->user(), server->password(), INTERNET_FLAG_PASSIVE), nullptr);
  EXPECT_EQ(asked.size(), 2u);
}

}  // namespace
