// FTP over TLS against the scripted server: the exact commands (no password ever before TLS), and what
// goes wrong on cue: AUTH TLS refused, bad certificates, a stalled handshake, plain text where TLS was
// expected, a data connection cut without a TLS close, a close of the handle mid-handshake.
#include <gtest/gtest.h>

#include <thread>

#include "certificates.h"
#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "inet/certificates.h"

namespace ts = testsupport;
using faultftp::Fault;
using faultftp::FaultServer;
using namespace inettest;

namespace {

faultftp::Options tlsOptions(const std::filesystem::path& certificate, bool implicit = false) {
  faultftp::Options o;
  o.tlsCertificate = certificate.string();
  o.implicitTls = implicit;
  return o;
}

class TlsFaults : public testing::Test {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5)});
    inet::setExtraAuthorities(ts::testCertificates().authority);
    inet::setTrustFile(local / "trusted");
  }
  void TearDown() override {
    inet::resetTimeouts();
    inet::setExtraAuthorities({});
    inet::setTrustFile({});
  }
  static std::string explicitName(const FaultServer& s) { return "ftpes://" + s.address(); }
  Completion get(Client& client, HINTERNET conn, const std::string& remote, const std::filesystem::path& to) {
    const std::string target = winPath(to);
    return client.await([&] {
      return FtpGetFileA(conn, remote.c_str(), target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                         FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
    });
  }
  ts::TempDir local{"nimbo-tls-faults"};
};

TEST_F(TlsFaults, TlsComesFirstAndProtectsTheDataThatFollows) {
  FaultServer server(tlsOptions(ts::testCertificates().server));
  server.putFile("/a.bin", ts::randomBytes(100000, 9));
  Client client;
  HINTERNET conn = client.connect(explicitName(server), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  ASSERT_EQ(get(client, conn, "/a.bin", local / "a.bin").error, 0u);
  EXPECT_TRUE(ts::readFile(local / "a.bin") == ts::randomBytes(100000, 9));
  EXPECT_EQ(server.verbs(), (std::vector<std::string>{"AUTH", "USER", "PASS", "FEAT", "OPTS", "PBSZ", "PROT",
                                                      "TYPE", "EPSV", "RETR"}));
  EXPECT_EQ(server.commands()[0], "AUTH TLS");
  EXPECT_EQ(server.commands()[5], "PBSZ 0");
  EXPECT_EQ(server.commands()[6], "PROT P");
}

TEST_F(TlsFaults, AuthTlsRefusedEndsTheConnectBeforeAnyUserOrPassword) {
  FaultServer server(tlsOptions(ts::testCertificates().server));
  server.add(Fault::on("AUTH").replying("534 Request denied for policy reasons."));
  Client client;
  Completion c;
  EXPECT_EQ(client.connect(explicitName(server), "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
  EXPECT_EQ(c.responseCode, 534u);
  EXPECT_EQ(c.response, "534 Request denied for policy reasons.");
  EXPECT_EQ(server.verbs(), std::vector<std::string>{"AUTH"});

  // A server that knows no TLS at all answers the same way in its own words.
  FaultServer plain;
  EXPECT_EQ(client.connect(explicitName(plain), "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
  EXPECT_EQ(plain.verbs(), std::vector<std::string>{"AUTH"});
}

TEST_F(TlsFaults, AnUntrustedCertificateFailsWithItsReasonAndNoPasswordGoesOut) {
  const auto& certs = ts::testCertificates();
  struct Case {
    std::filesystem::path certificate;
    DWORD error;
  } cases[] = {{certs.otherName, ERROR_INTERNET_SEC_CERT_CN_INVALID},
               {certs.expired, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
               {certs.unknown, ERROR_INTERNET_INVALID_CA}};
  for (const Case& k : cases) {
    for (bool implicit : {false, true}) {
      SCOPED_TRACE(k.certificate.filename().string() + (implicit ? " implicit" : " explicit"));
      FaultServer server(tlsOptions(k.certificate, implicit));
      Client client;
      Completion c;
      const std::string name = (implicit ? "ftps://" : "ftpes://") + server.address();
      EXPECT_EQ(client.connect(name, "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
      EXPECT_EQ(c.error, k.error);
      EXPECT_EQ(server.verbs(), implicit ? std::vector<std::string>{} : std::vector<std::string>{"AUTH"});
      char text[256] = {};
      EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("wininet.dll"), k.error, 0, text,
                               sizeof text, nullptr),
                0u);
    }
  }
}

TEST_F(TlsFaults, AHandshakeThatStallsTimesOutAndACloseEndsItSooner) {
  FaultServer server(tlsOptions(ts::testCertificates().server));
  server.add(Fault::on("AUTH").stallsHandshake());
  inet::setTimeouts(
      {std::chrono::milliseconds(400), std::chrono::milliseconds(400), std::chrono::seconds(5)});
  Client client;
  Completion c;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.connect(explicitName(server), "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  inet::setTimeouts({std::chrono::seconds(30), std::chrono::seconds(30), std::chrono::seconds(30)});
  const size_t from = client.recorder.notes().size();
  HINTERNET conn = InternetConnectA(client.root, explicitName(server).c_str(), 0, "ann", "secret",
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, client.recorder.context());
  ASSERT_NE(conn, nullptr);
  ASSERT_TRUE(server.waitFor("AUTH", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  InternetCloseHandle(conn);
  auto done = client.recorder.completeAfter(from, std::chrono::seconds(3));
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result.dwError, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
}

TEST_F(TlsFaults, PlainTextWhereTlsWasExpectedIsATlsFailureThatShowsTheText) {
  // Explicit: the server agrees to TLS, then goes on in plain text.
  FaultServer agreeing(tlsOptions(ts::testCertificates().server));
  agreeing.add(Fault::on("AUTH").replying("234 Proceed.\r\n220 Welcome back, in plain text."));
  Client client;
  Completion c;
  EXPECT_EQ(client.connect(explicitName(agreeing), "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
  EXPECT_EQ(c.response, "220 Welcome back, in plain text.");
  EXPECT_EQ(agreeing.verbs(), std::vector<std::string>{"AUTH"});

  // Implicit, to a server that speaks no TLS: its greeting is what came.
  FaultServer plain;
  EXPECT_EQ(client.connect("ftps://" + plain.address(), "ann", "secret", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
  EXPECT_EQ(c.response, "220 Fault server ready.");
  for (const std::string& verb : plain.verbs()) EXPECT_TRUE(verb != "USER" && verb != "PASS") << verb;
}

TEST_F(TlsFaults, ADataConnectionCutWithoutATlsCloseFailsTheDownloadAndKeepsTheOldFile) {
  for (DWORD flags : {DWORD(INTERNET_FLAG_PASSIVE), DWORD(0)}) {
    SCOPED_TRACE(flags ? "passive" : "active");
    FaultServer server(tlsOptions(ts::testCertificates().server));
    const std::string bytes = ts::randomBytes(300000, 4);
    server.putFile("/a.bin", bytes);
    // All the data but no TLS close; then a cut the server calls complete: neither counts.
    server.add(Fault::on("RETR", 1).withoutTlsClose());
    server.add(
        Fault::on("RETR", 2).cutsDataAfter(100000).withoutTlsClose().endsWith("226 Transfer complete."));
    ts::writeFile(local / "a.bin", "the old file");
    Client client;
    HINTERNET conn = client.connect(explicitName(server), "ann", "secret", flags);
    ASSERT_NE(conn, nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {
      Completion c = get(client, conn, "/a.bin", local / "a.bin");
      EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR)) << c.response;
      EXPECT_EQ(ts::readFile(local / "a.bin"), "the old file");
    }
    // The session goes on: the next download is whole.
    Completion c = get(client, conn, "/a.bin", local / "a.bin");
    EXPECT_EQ(c.error, 0u) << c.response;
    EXPECT_TRUE(ts::readFile(local / "a.bin") == bytes);
  }
}

}  // namespace
