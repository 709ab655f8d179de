// TLS on its own, against the scripted server speaking implicit TLS: what a certificate's verification
// reports, what the user's trust and the trust question overrule, the trust file, session resumption,
// and handshakes that fail (plain text, a stall, a close of the handle).
#include "tls.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "certificates.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "tls_mode.h"
#include "trust_store.h"

using namespace inet;
using testsupport::testCertificates;

namespace {

constexpr auto kLimit = std::chrono::seconds(5);

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    setExtraAuthorities(testCertificates().authority);
    setTrustFile(dir_ / "config" / "trusted");
  }
  void TearDown() override {
    setExtraAuthorities({});
    setTrustFile({});
  }

  // A connection to the server, handshake done (or failed: outcome).
  struct Link {
    kernel::UniqueFd socket;
    std::shared_ptr<TlsContext> context;
    std::unique_ptr<TlsStream> stream;
    Outcome outcome;
  };

  static Link open(uint16_t port, const std::string& host, std::shared_ptr<TlsContext> context = nullptr,
                   TlsStream::Role role = TlsStream::Role::Control, const Canceller* cancel = nullptr,
                   Millis limit = kLimit) {
    Link l;
    l.context = context ? context : TlsContext::make(host, port);
    Endpoint to;
    auto* in = reinterpret_cast<sockaddr_in*>(&to.storage);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in->sin_port = htons(port);
    to.length = sizeof *in;
    l.outcome = connectTo(to, Clock::now() + kLimit, nullptr, l.socket);
    if (!l.outcome.ok()) return l;
    l.stream = std::make_unique<TlsStream>(l.context, l.socket.get(), role);
    l.outcome = l.stream->handshake(Clock::now() + limit, cancel, Trace());
    return l;
  }

  // Handshake and the verdict on the server's certificate, as a connect sees them.
  static DWORD verify(const faultftp::FaultServer& server, const std::string& host,
                      const TrustQuestion* question = nullptr, const Canceller* cancel = nullptr) {
    Link l = open(server.port(), host);
    if (!l.outcome.ok()) return l.outcome.error;
    return l.stream->acceptPeer(question, cancel, Trace()).error;
  }

  static faultftp::Options implicitWith(const std::filesystem::path& certificate) {
    faultftp::Options o;
    o.tlsCertificate = certificate.string();
    o.implicitTls = true;
    return o;
  }

  // Reads until a whole line has come.
  static std::string readLine(Link& l) {
    std::string text;
    char buffer[512];
    const auto deadline = Clock::now() + kLimit;
    while (text.find('\n') == std::string::npos && Clock::now() < deadline) {
      TlsStream::Result r = l.stream->read(buffer, sizeof buffer);
      if (r.io == TlsStream::Io::Done)
        text.append(buffer, r.bytes);
      else if (r.io == TlsStream::Io::WantRead)
        (void)waitFor(l.socket.get(), POLLIN, deadline, nullptr);
      else
        break;
    }
    return text;
  }

  testsupport::TempDir dir_{"nimbo-tls"};
};

TEST(TlsScheme, TheServerNameChoosesTheKindOfTls) {
  struct Case {
    const char* name;
    TlsMode mode;
    const char* rest;
  } cases[] = {
      {"ftpes://ftp.example.org", TlsMode::Explicit, "ftp.example.org"},
      {"FTPES://[::1]:2121/", TlsMode::Explicit, "[::1]:2121"},
      {"ftps://127.0.0.1", TlsMode::Implicit, "127.0.0.1"},
      {"Ftps://host:990", TlsMode::Implicit, "host:990"},
      {"ftp.example.org", TlsMode::None, "ftp.example.org"},
      {"ftpes:/host", TlsMode::None, "ftpes:/host"},
      {"host/", TlsMode::None, "host/"},
      {"ftps://", TlsMode::Implicit, ""},
  };
  for (const Case& c : cases) {
    std::string_view name = c.name;
    EXPECT_EQ(takeTlsScheme(name), c.mode) << c.name;
    EXPECT_EQ(name, c.rest) << c.name;
  }
}

TEST_F(Tls, EachKindOfBadCertificateGetsItsOwnError) {
  const auto& certs = testCertificates();
  struct Case {
    std::filesystem::path certificate;
    std::string host;
    DWORD error;
  } cases[] = {
      {certs.server, "127.0.0.1", ERROR_SUCCESS},
      {certs.server, "localhost", ERROR_SUCCESS},
      {certs.otherName, "127.0.0.1", ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {certs.server, "other.invalid", ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {certs.expired, "127.0.0.1", ERROR_INTERNET_SEC_CERT_DATE_INVALID},
      {certs.unknown, "127.0.0.1", ERROR_INTERNET_INVALID_CA},
      {certs.selfSigned, "localhost", ERROR_INTERNET_INVALID_CA},
  };
  for (const Case& c : cases) {
    faultftp::FaultServer server(implicitWith(c.certificate));
    EXPECT_EQ(verify(server, c.host), c.error) << c.certificate.filename() << " for " << c.host;
  }
  // Without the tests' authority the good certificate is a stranger's too.
  setExtraAuthorities({});
  faultftp::FaultServer server(implicitWith(certs.server));
  EXPECT_EQ(verify(server, "127.0.0.1"), ERROR_INTERNET_INVALID_CA);
}

TEST_F(Tls, TheQuestionIsAskedWithTheFactsAndItsAnswerIsRememberedForThatHostOnly) {
  const auto& certs = testCertificates();
  faultftp::FaultServer server(implicitWith(certs.unknown));

  CertificateFacts asked;
  int questions = 0;
  TrustQuestion no = [&](const CertificateFacts& facts, TrustAnswer answer) {
    asked = facts;
    ++questions;
    answer(TrustDecision::Refuse);
  };
  EXPECT_EQ(verify(server, "127.0.0.1", &no), ERROR_INTERNET_INVALID_CA);
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(asked.host, "127.0.0.1");
  EXPECT_EQ(asked.port, server.port());
  EXPECT_EQ(asked.fingerprint, certs.unknownFingerprint);
  EXPECT_EQ(asked.error, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
  EXPECT_NE(asked.subject.find("CN=127.0.0.1"), std::string::npos) << asked.subject;
  EXPECT_NE(asked.issuer.find("CN=an authority nobody trusts"), std::string::npos) << asked.issuer;
  EXPECT_EQ(asked.validUntil.size(), std::string("2026-01-31 12:00:00 UTC").size()) << asked.validUntil;
  EXPECT_FALSE(std::filesystem::exists(trustFile()));

  // Answered later, from another thread, as a window does.
  std::thread later;
  TrustQuestion yes = [&](const CertificateFacts&, TrustAnswer answer) {
    ++questions;
    later = std::thread([answer] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      answer(TrustDecision::TrustAndRemember);
      answer(TrustDecision::Refuse);  // too late: the first answer counts
    });
  };
  EXPECT_EQ(verify(server, "127.0.0.1", &yes), ERROR_SUCCESS);
  later.join();
  EXPECT_EQ(questions, 2);

  // Remembered: no question the next time, and none needed.
  EXPECT_EQ(verify(server, "127.0.0.1", &no), ERROR_SUCCESS);
  EXPECT_EQ(verify(server, "127.0.0.1"), ERROR_SUCCESS);
  EXPECT_EQ(questions, 2);
  // Not for another name of the same machine: trust was given to one server.
  EXPECT_EQ(verify(server, "localhost"), ERROR_INTERNET_INVALID_CA);

  std::ifstream in(trustFile());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("127.0.0.1 " + certs.unknownFingerprint + " # "), std::string::npos) << text;
  struct stat st {};
  ASSERT_EQ(::stat(trustFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(trustFile().parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Tls, AQuestionNeverAnsweredRefusesAndAClosedHandleEndsTheWait) {
  faultftp::FaultServer server(implicitWith(testCertificates().selfSigned));
  // The caller dropped the answer (its window closed): refused, at once.
  TrustQuestion dropped = [](const CertificateFacts&, TrustAnswer) {};
  EXPECT_EQ(verify(server, "127.0.0.1", &dropped), ERROR_INTERNET_INVALID_CA);

  // The caller keeps it and never answers; the handle is closed meanwhile.
  std::vector<TrustAnswer> kept;
  std::mutex m;
  TrustQuestion pending = [&](const CertificateFacts&, TrustAnswer answer) {
    std::lock_guard lock(m);
    kept.push_back(answer);
  };
  Canceller cancel;
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel.cancel();
  });
  const auto start = Clock::now();
  EXPECT_EQ(verify(server, "127.0.0.1", &pending, &cancel), ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  closer.join();
  std::lock_guard lock(m);
  ASSERT_EQ(kept.size(), 1u);
  kept.front()(TrustDecision::TrustAndRemember);  // an answer after the end changes nothing
  EXPECT_FALSE(std::filesystem::exists(trustFile()));
}

TEST_F(Tls, TheTrustFileKeepsEveryWritersEntryAndIgnoresWhatItCannotRead) {
  const TrustStore store(trustFile());
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i)
    writers.emplace_back([&store, i] {
      CertificateFacts f;
      f.host = "host" + std::to_string(i);
      f.fingerprint = "AA:" + std::to_string(i);
      f.subject = "CN=x\nhost9 BB:9";  // a line break in a subject cannot forge an entry
      EXPECT_TRUE(store.remember(f).ok());
    });
  for (auto& t : writers) t.join();
  for (int i = 0; i < 8; ++i)
    EXPECT_TRUE(store.trusts("HOST" + std::to_string(i), "AA:" + std::to_string(i)));
  EXPECT_FALSE(store.trusts("host9", "BB:9"));
  EXPECT_FALSE(store.trusts("host1", "AA:2"));
  EXPECT_FALSE(store.trusts("host1", ""));

  CertificateFacts bad;
  bad.host = "two words";
  bad.fingerprint = "AA";
  EXPECT_EQ(store.remember(bad).error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(TrustStore(dir_ / "missing").trusts("host1", "AA:1"));
}

TEST_F(Tls, TheTrustFileLivesInTheUsersConfigurationFolder) {
  setTrustFile({});
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(trustFile(), std::filesystem::path("/somewhere/config/nimbo/trusted-certificates"));
  ::unsetenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(trustFile(), std::filesystem::path(home) / ".config/nimbo/trusted-certificates");
  }
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(Tls, ADataConnectionResumesTheControlSessionAndMustShowTheSameCertificate) {
  faultftp::FaultServer server(implicitWith(testCertificates().server));
  Link control = open(server.port(), "127.0.0.1");
  ASSERT_TRUE(control.outcome.ok());
  ASSERT_TRUE(control.stream->acceptPeer(nullptr, nullptr, Trace()).ok());
  EXPECT_FALSE(control.stream->resumed());
  // Reading the greeting also takes in the session tickets that TLS 1.3 sends after the handshake.
  EXPECT_EQ(readLine(control).rfind("220 ", 0), 0u);

  Link data = open(server.port(), "127.0.0.1", control.context, TlsStream::Role::Data);
  ASSERT_TRUE(data.outcome.ok());
  EXPECT_TRUE(data.stream->resumed());
  EXPECT_TRUE(data.stream->checkSamePeer(Trace()).ok());
  EXPECT_NE(data.stream->summary().find(", session resumed"), std::string::npos) << data.stream->summary();
  EXPECT_NE(data.stream->summary().find("certificate SHA-256 " + testCertificates().serverFingerprint),
            std::string::npos);
  // A TLS 1.3 session resumes once: the next data connection takes another.
  Link second = open(server.port(), "127.0.0.1", control.context, TlsStream::Role::Data);
  ASSERT_TRUE(second.outcome.ok());
  EXPECT_TRUE(second.stream->resumed());

  // A data connection to a server with another certificate is refused, whatever it verifies as.
  faultftp::FaultServer other(implicitWith(testCertificates().expired));
  Link foreign = open(other.port(), "127.0.0.1", control.context, TlsStream::Role::Data);
  ASSERT_TRUE(foreign.outcome.ok());
  EXPECT_EQ(foreign.stream->checkSamePeer(Trace()).error,
            static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
}

TEST_F(Tls, AFailedHandshakeSaysWhyPlainTextAStallOrAClose) {
  // A server in the clear greets where TLS was expected: its words are kept for the caller.
  faultftp::FaultServer plain;
  Link l = open(plain.port(), "127.0.0.1");
  EXPECT_EQ(l.outcome.error, static_cast<DWORD>(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
  ASSERT_TRUE(l.outcome.reply.has_value());
  EXPECT_EQ(l.outcome.reply->text, "220 Fault server ready.");

  // A server that never answers the handshake: the deadline ends it.
  faultftp::FaultServer stalled(implicitWith(testCertificates().server));
  stalled.add(faultftp::Fault::on("GREETING").stallsHandshake());
  auto start = Clock::now();
  l = open(stalled.port(), "127.0.0.1", nullptr, TlsStream::Role::Control, nullptr, Millis(300));
  EXPECT_EQ(l.outcome.error, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

  // ... or a close of the handle, long before.
  Canceller cancel;
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel.cancel();
  });
  start = Clock::now();
  l = open(stalled.port(), "127.0.0.1", nullptr, TlsStream::Role::Control, &cancel, std::chrono::seconds(30));
  closer.join();
  EXPECT_EQ(l.outcome.error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
