// The client window against servers that speak FTP over TLS with a certificate signed by itself: the
// window asks its user whether to trust it, remembers a Yes, refuses on a No, and leaves a question
// unshown when it closes first. Message boxes are answered by the runtime's test hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "certificates.h"
#include "client/certificate_question.h"
#include "client_fixture.h"
#include "inet/certificates.h"
#include "timing.h"

namespace client {
namespace {

using namespace testing;  // the fixture and the driver
using testsupport::randomBytes;
using namespace std::chrono_literals;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
    lines.push_back(text.substr(start, bar - start));
  lines.push_back(text.substr(start));
  return lines;
}

std::size_t count(const std::string& text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ClientWindowOverTls : public ClientWindowBase, public ::testing::WithParamInterface<std::string> {
 protected:
  static void SetUpTestSuite() {
    ClientWindowBase::SetUpTestSuite();
    // Set before any connection reads it; the tests watch it for the moment a question is asked.
    static testsupport::TempDir traceDir("nimbo-tls-trace");
    trace_ = traceDir / "ftp.trace";
    ::setenv("NIMBO_FTP_TRACE", trace_.c_str(), 1);
  }

  void SetUp() override {
    ClientWindowBase::SetUp();
    inet::setTrustFile(trustFile_);
    testsupport::ServerOptions options;
    options.tls = testsupport::Tls::Explicit;
    options.certificate = certificates().selfSigned.string();
    server_ =
        GetParam() == "vsftpd" ? testsupport::startVsftpd(options) : testsupport::startPyftpdlib(options);
    if (server_.skipped()) GTEST_SKIP() << server_.error();
    ASSERT_TRUE(server_.ok()) << server_.error();
    name_ = "ftpes://" + server_->address();
  }

  void TearDown() override {
    ClientWindowBase::TearDown();
    inet::setTrustFile({});
  }

  static const testsupport::TestCertificates& certificates() { return testsupport::testCertificates(); }

  // The server's name, user and password typed, Connect pressed; the answer to a question queued first.
  void connectAnswering(Driver& d, int answer) {
    if (engine::bSessionOpen.load() == 0) {
      EXPECT_TRUE(d.click(control::StartSession));
    }
    EXPECT_TRUE(d.enterText(control::ServerName, name_));
    EXPECT_TRUE(d.enterText(control::UserName, server_->user()));
    EXPECT_TRUE(d.enterText(control::Password, server_->password()));
    ui::test::answerMessage(answer);
    EXPECT_TRUE(d.click(control::Connect));
  }

  bool connected(Driver& d) {
    return Driver::waitFor([&] { return d.shown(control::RemoteTree) == name_ + "\t"; });
  }

  // What the trust file says, or "" when there is none.
  std::string trusted() const { return testsupport::readFile(trustFile_).value_or(""); }

  // Checks a box asking about the self-signed certificate of the server.
  void expectQuestion(const ui::test::MessageShown& box) {
    EXPECT_EQ(box.caption, "FTP Client");
    EXPECT_EQ(box.icon, ui::IDI_QUESTION);
    EXPECT_EQ(box.buttons, ui::BUTTON_YES | ui::BUTTON_NO);
    EXPECT_EQ(box.defaultButton, ui::BUTTON_NO);
    const std::vector<std::string> lines = linesOf(box.text);
    ASSERT_EQ(lines.size(), 12u) << box.text;
    const std::string& fingerprint = certificates().selfSignedFingerprint;
    EXPECT_EQ(lines[0], "The certificate of " + server_->address() + " is not trusted:");
    EXPECT_EQ(lines[1], "self-signed certificate");
    EXPECT_EQ(lines[3], "Subject: CN=127.0.0.1,O=nimbo tests");
    EXPECT_EQ(lines[4], "Issuer: CN=127.0.0.1,O=nimbo tests");
    // "2026-12-08 03:40:10 UTC": digits where the pattern has 9, the rest as it stands.
    const auto dated = [](const std::string& line, const std::string& label) {
      constexpr std::string_view pattern = "9999-99-99 99:99:99 UTC";
      if (line.rfind(label, 0) != 0 || line.size() != label.size() + pattern.size()) return false;
      for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = line[label.size() + i];
        if (pattern[i] == '9' ? (c < '0' || c > '9') : c != pattern[i]) return false;
      }
      return true;
    };
    EXPECT_TRUE(dated(lines[5], "Valid from: ")) << lines[5];
    EXPECT_TRUE(dated(lines[6], "Valid until: ")) << lines[6];
    EXPECT_EQ(lines[7], "SHA-256 fingerprint:");
    EXPECT_EQ(lines[8] + ":" + lines[9], fingerprint);
    EXPECT_EQ(lines[8].size(), 47u) << "16 pairs a line";
    EXPECT_EQ(lines[11], "Do you want to trust this certificate and remember it?");
  }

  static std::string traceText() { return testsupport::readFile(trace_).value_or(""); }

  static inline std::filesystem::path trace_;
  testsupport::TempDir config_{"nimbo-tls-config"};
  std::filesystem::path trustFile_ = config_ / "trusted-certificates";
  std::string name_;
};

TEST_P(ClientWindowOverTls, AYesIsRememberedAndTheSessionGoesOnOverTls) {
  server_->put("pub/notes.bin", randomBytes(70000, 4));
  runClient([&](Driver& d) {
    connectAnswering(d, ui::BUTTON_YES);
    ASSERT_TRUE(connected(d)) << server_->log();
    ASSERT_TRUE(treeIs(d, {name_, "pub"}));
    const auto asked = ui::test::messagesShown();
    ASSERT_EQ(asked.size(), 1u) << "the listing's own connect finds the certificate trusted";
    expectQuestion(asked[0]);
    EXPECT_NE(trusted().find("127.0.0.1 " + certificates().selfSignedFingerprint), std::string::npos)
        << trusted();

    // A folder listed and a file downloaded over the protected data connections.
    ASSERT_TRUE(open(d, "/pub"));
    ASSERT_TRUE(treeIs(d, {name_, "pub", "notes.bin"}));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub/notes.bin")));
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([&] { return contains(d.rows(control::FileList), "notes.bin"); }));
    ASSERT_TRUE(Driver::idle());
    EXPECT_EQ(testsupport::readFile(local_ / "notes.bin"), randomBytes(70000, 4));

    // Connected again, nothing is asked.
    ASSERT_TRUE(d.click(control::Disconnect));
    d.settle();
    ASSERT_TRUE(d.click(control::Connect));
    ASSERT_TRUE(connected(d));
    ASSERT_TRUE(treeIs(d, {name_, "pub"}));
    EXPECT_EQ(texts(ui::test::messagesShown()), std::vector<std::string>{});
  });
}

TEST_P(ClientWindowOverTls, ANoRefusesTheConnectAndRemembersNothing) {
  runClient([&](Driver& d) {
    Messages shown;
    const auto boxes = [&](std::size_t n) {
      return Driver::waitFor([&] {
        for (auto& m : ui::test::messagesShown()) shown.push_back(m);
        return shown.size() >= n && Driver::idle(0ms);
      });
    };
    connectAnswering(d, ui::BUTTON_NO);
    ASSERT_TRUE(boxes(2)) << ::testing::PrintToString(texts(shown));
    ASSERT_EQ(shown.size(), 2u);
    expectQuestion(shown[0]);
    // Told as any connect that failed is told.
    EXPECT_EQ(shown[1].caption, "OrinFTP Client Error");
    EXPECT_EQ(shown[1].text, "The server's certificate comes from an authority that is not trusted.");
    d.settle();
    EXPECT_EQ(::bActiveSession.load(), 0);
    EXPECT_FALSE(d.click(control::Get));

    // A refusal is not remembered either: the next Connect asks again.
    ui::test::answerMessage(ui::BUTTON_NO);
    ASSERT_TRUE(d.click(control::Connect));
    ASSERT_TRUE(boxes(4)) << ::testing::PrintToString(texts(shown));
    expectQuestion(shown[2]);
  });
  EXPECT_FALSE(std::filesystem::exists(trustFile_));
}

// Opening a folder lists it on the window's own thread: a question there is asked at once, not left
// for an event the waiting thread could never take.
TEST_P(ClientWindowOverTls, AListingOnTheWindowsThreadAsksWithoutWaitingForItself) {
  server_->put("pub/a.txt", "a");
  server_->put("old/b.txt", "b");
  testsupport::TempDir other{"nimbo-tls-other"};
  // A double-click, then the box and the listing's end awaited without any hook of the window's: a
  // thread waiting for itself would hold such a hook for ever. The session's close lets it go then,
  // and the test fails instead of hanging.
  const auto openAsking = [&](Driver& d, std::string_view folder) {
    Messages shown;
    EXPECT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(folder), ui::key::MouseLeftDouble));
    const bool answered = Driver::waitFor(
        [&] {
          for (auto& m : ui::test::messagesShown()) shown.push_back(m);
          return !shown.empty() && Driver::idle(0ms);
        },
        testsupport::scaled(10s));
    if (!answered && ::hOpen.load() != 0) InternetCloseHandle(INET_HANDLE(::hOpen.load()));
    EXPECT_TRUE(answered) << "the listing of " << folder << " was never asked about";
    return shown;
  };
  runClient([&](Driver& d) {
    connectAnswering(d, ui::BUTTON_YES);
    ASSERT_TRUE(connected(d)) << server_->log();
    ASSERT_TRUE(treeIs(d, {name_, "old", "pub"}));
    ui::test::messagesShown();

    inet::setTrustFile(other / "yes");
    ui::test::answerMessage(ui::BUTTON_YES);
    auto asked = openAsking(d, "/pub");
    ASSERT_EQ(asked.size(), 1u);
    expectQuestion(asked[0]);
    ASSERT_TRUE(treeIs(d, {name_, "old", "pub", "a.txt"}));
    EXPECT_NE(testsupport::readFile(other / "yes").value_or("").find(certificates().selfSignedFingerprint),
              std::string::npos);

    inet::setTrustFile(other / "no");
    ui::test::answerMessage(ui::BUTTON_NO);
    asked = openAsking(d, "/old");
    ASSERT_EQ(asked.size(), 1u);
    expectQuestion(asked[0]);
    EXPECT_TRUE(treeIs(d, {name_, "old", "pub", "a.txt"})) << "a refused listing shows nothing";
    EXPECT_FALSE(std::filesystem::exists(other / "no"));
  });
}

// A question that reaches the window while it is busy (here in a dialog) waits for it; if the window
// closes first, the question is refused and nothing is shown on or for the closed window.
TEST_P(ClientWindowOverTls, AQuestionLeftWaitingWhenTheWindowClosesIsRefused) {
  testsupport::TempDir other{"nimbo-tls-other"};
  std::thread connecting;
  HINTERNET connection = nullptr;
  DWORD error = 0;
  std::atomic<bool> finished{false};
  runClient([&](Driver& d) {
    connectAnswering(d, ui::BUTTON_YES);
    ASSERT_TRUE(connected(d)) << server_->log();
    ASSERT_TRUE(treeIs(d, {name_}));
    ui::test::messagesShown();

    // The Create Directory dialog holds the window's thread in the dialog's own loop.
    inet::setTrustFile(other / "trusted");
    contextMenu(d, "/", 3);
    ASSERT_NE(d.dialog(), 0u);
    ASSERT_TRUE(ui::post(d.window(), ui::event::CloseWindow));
    // A connect of the window's session, on a thread of its own (context 0: it runs on the caller).
    const std::size_t asked = count(traceText(), "the certificate is not trusted");
    connecting = std::thread([&, session = ::hOpen.load()] {
      connection = InternetConnectA(INET_HANDLE(session), name_.c_str(), INTERNET_INVALID_PORT_NUMBER,
                                    server_->user().c_str(), server_->password().c_str(),
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
      error = GetLastError();
      finished = true;
    });
    EXPECT_TRUE(
        Driver::waitFor([&] { return count(traceText(), "the certificate is not trusted") > asked; }));
    std::this_thread::sleep_for(50ms);  // from the trace's note to the question's post
    // runClient closes the dialog, then the window takes the close it was sent before the question.
  });
  // A question never answered would hold the connect for ever: the session's close ends it.
  const bool refused = Driver::waitFor([&] { return finished.load(); }, testsupport::scaled(10s));
  if (!refused) engine::closeSession();
  connecting.join();
  EXPECT_TRUE(refused) << "the question was left waiting";
  EXPECT_EQ(connection, nullptr);
  // The closing window refuses the question and closes the session: the connect ends on whichever
  // it meets first.
  EXPECT_TRUE(error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_OPERATION_CANCELLED) << error;
  EXPECT_EQ(texts(ui::test::messagesShown()), std::vector<std::string>{}) << "no box for a closed window";
  EXPECT_FALSE(std::filesystem::exists(other / "trusted"));
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientWindowOverTls, ::testing::Values("vsftpd", "pyftpdlib"),
                         [](const auto& info) { return info.param; });

// What a server puts in its certificate cannot fake a line of the box, nor make it unreadably wide.
TEST(TrustQuestionText, CertificateFieldsStayOnTheirOwnLineAndWithinBounds) {
  inet::CertificateFacts facts;
  facts.host = "::1";
  facts.port = 2121;
  facts.subject = "CN=evil|Issuer: CN=Trusted Root";
  facts.issuer = std::string(90, 'x') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  facts.validFrom = "2025-01-01 00:00:00 UTC";
  facts.validUntil = "2026-01-01\n00:00:00 UTC";
  facts.fingerprint = "AB:CD";
  const std::vector<std::string> lines = linesOf(trustQuestionText(facts));
  ASSERT_EQ(lines.size(), 11u) << "a short fingerprint stays on one line";
  EXPECT_EQ(lines[0], "The certificate of [::1]:2121 is not trusted:");
  EXPECT_EQ(lines[1], "it could not be verified");
  EXPECT_EQ(lines[3], "Subject: CN=evil\xC2\xA6Issuer: CN=Trusted Root");
  // Cut at 100 bytes, before the character whose second byte would pass the limit.
  EXPECT_EQ(lines[4], "Issuer: " + std::string(90, 'x') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9...");
  EXPECT_EQ(lines[6], "Valid until: 2026-01-01?00:00:00 UTC");
  EXPECT_EQ(lines[8], "AB:CD");
}

}  // namespace
}  // namespace client
