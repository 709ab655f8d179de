// Whole batches through UPLDNL_AS as a program calls it (linked against libnimbo.so), against real
// servers and the scripted one on loopback. What a batch did is read back from the files on both
// sides and from the batch trace (NIMBO_BATCH_TRACE): every status text, check and failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "certificates.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace {

namespace ts = testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

constexpr const char* kDefaultList = "FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip";
constexpr uint8_t kUpload = 0, kDownload = 1;

struct Trace {
  std::vector<std::pair<int, std::string>> zones;  // every status text, in order
  Strings checks;                                  // "path exists size"
  Strings failures;
  Strings states;  // "batch state <from> -> <to>"
  Strings steps;   // "<step> <thread>"

  Strings zone(int z) const {
    Strings out;
    for (const auto& [n, text] : zones)
      if (n == z) out.push_back(text);
    return out;
  }
  long count(int z, const std::string& text) const {
    const Strings texts = zone(z);
    return std::count(texts.begin(), texts.end(), text);
  }
  bool any(int z, const std::string& prefix) const {
    const Strings texts = zone(z);
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
  }
  // What zone 2 said last before each `done` in zone 0 (empty when it said nothing since the one
  // before): the byte count each file ended at.
  Strings countsAt(const std::string& done) const {
    Strings out;
    std::string last;
    for (const auto& [n, text] : zones) {
      if (n == 2) last = text;
      if (n == 0 && text == done) out.push_back(std::exchange(last, ""));
    }
    return out;
  }
};

Trace readTrace(const fs::path& file) {
  Trace t;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const std::string tag = line.substr(0, line.find('\t')), rest = line.substr(tag.size() + 1);
    if (tag == "!") {
      t.failures.push_back(rest);
    } else if (tag == "=") {
      t.states.push_back(rest);
    } else if (tag == "@") {
      std::string& step = t.steps.emplace_back(rest);
      std::replace(step.begin(), step.end(), '\t', ' ');
    } else if (tag == "?") {
      std::string& check = t.checks.emplace_back(rest);
      std::replace(check.begin(), check.end(), '\t', ' ');
    } else {
      t.zones.emplace_back(std::stoi(tag), rest);
    }
  }
  return t;
}

Strings prefixed(const std::string& prefix, Strings texts) {
  for (std::string& text : texts) text.insert(0, prefix);
  return texts;
}

struct Batch {
  std::string server, user, password, remote, local, list;
  uint8_t passive = 1, direction = kDownload;
};

// Runs UPLDNL_AS on this thread (the runtime's, as in a program); `meanwhile` runs beside it.
Trace run(const Batch& b, const std::function<void(const fs::path&)>& meanwhile = {},
          std::chrono::steady_clock::duration* took = nullptr) {
  static const bool started = ui::start() && (ui::test::headlessDialogs(true), true);
  EXPECT_TRUE(started) << ui::startError();
  const fs::path trace = fs::path(testing::TempDir()) / ("batch-trace-" + std::to_string(::getpid()));
  fs::remove(trace);
  ::setenv("NIMBO_BATCH_TRACE", trace.c_str(), 1);
  std::thread side;
  if (meanwhile) side = std::thread([&] { meanwhile(trace); });
  const auto start = std::chrono::steady_clock::now();
  UPLDNL_AS(b.server.c_str(), b.user.c_str(), b.password.c_str(), b.remote.c_str(), b.local.c_str(),
            b.list.c_str(), b.passive, b.direction);
  if (took) *took = std::chrono::steady_clock::now() - start;
  if (side.joinable()) side.join();
  ::unsetenv("NIMBO_BATCH_TRACE");
  EXPECT_EQ(hOpen.load(), 0u);
  EXPECT_EQ(hConnection.load(), 0u);
  EXPECT_FALSE(ui::isOpen(MainWindow.load())) << "the batch window must be closed";
  EXPECT_EQ(GlobalResponse, 2);
  return readTrace(trace);
}

// Closes the batch window from another thread once the trace satisfies `ready` (or after 20 s).
std::function<void(const fs::path&)> closeWhen(std::function<bool(const Trace&)> ready) {
  return [ready](const fs::path& trace) {
    for (const auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline && !ready(readTrace(trace));)
      std::this_thread::sleep_for(5ms);
    ui::post(MainWindow.load(), ui::event::CloseWindow);
  };
}

const std::string kClientText = "FTP client\r\nread me\r\n";
const std::string kHowTo = "How to upload:\r\n  put your file into /incoming\r\n";
const std::string kZip = ts::randomBytes(100'000, 7);

class BatchServers : public testing::TestWithParam<std::tuple<const char*, bool>> {};

TEST_P(BatchServers, DownloadTheDefaultListAndUploadItBack) {
  const auto [kind, passive] = GetParam();
  auto server = std::string(kind) == "vsftpd" ? ts::startVsftpd() : ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/FTPClient.txt", kClientText);
  server->put("incoming/!how to upload.txt", kHowTo);
  server->put("incoming/Quillmere.zip", kZip);
  server->makeDirectory("back");
  ts::TempDir local;

  // Blank-padded, as the parameters window passes its fields.
  const Trace got =
      run({server->address() + "   ", server->user() + "  ", server->password() + " ", "/incoming      ",
           local.path().string() + "   ", kDefaultList + std::string(400, ' '), passive, kDownload});
  EXPECT_EQ(ts::readFile(local / "FTPClient.txt"), kClientText);
  EXPECT_EQ(ts::readFile(local / "!how to upload.txt"), kHowTo);
  EXPECT_EQ(ts::readFile(local / "Quillmere.zip"), kZip);
  EXPECT_EQ(ts::listTree(local.path()), (Strings{"!how to upload.txt", "FTPClient.txt", "Quillmere.zip"}));
  const std::string howToSize = std::to_string(kHowTo.size());
  EXPECT_EQ(got.checks, (Strings{"/incoming/FTPClient.txt 1 " + std::to_string(kClientText.size()),
                                 "\"/incoming/!how to upload.txt\" 1 " + howToSize, "/incoming/garbage 0 0",
                                 "/incoming/Quillmere.zip 1 100000"}));
  EXPECT_EQ(got.count(0, "Connecting to " + server->address()), 1);
  for (const char* name : {"FTPClient.txt", "!how to upload.txt", "garbage", "Quillmere.zip"})
    EXPECT_EQ(got.count(1, std::string("Checking for ") + name), 1) << name;
  EXPECT_EQ(got.count(0, "Download complete"), 4) << "garbage is passed over silently";
  // The files' own bytes, not the replies around them.
  const Strings counts = {"Received: " + std::to_string(kClientText.size()) + " bytes.",
                          "Received: " + howToSize + " bytes.", "", "Received: 100000 bytes."};
  EXPECT_EQ(got.countsAt("Download complete"), counts);
  EXPECT_TRUE(got.any(2, "Received: "));
  EXPECT_EQ(got.zone(2).back(), "Finished");
  EXPECT_EQ(got.failures.size(), 1u) << server->log();
  // The state of a download: 19, a short 1 between the check's sessions, then 3 and 4 for each file.
  Strings states = {"First connect -> Finished", "Finished -> Connecting for Get"};
  for (int file = 1; file <= 4; ++file) {
    states.push_back("Connecting for Get -> Get in flight");
    states.push_back(file < 4 ? "Get in flight -> Connecting for Get" : "Get in flight -> Finished");
  }
  ASSERT_FALSE(got.states.empty());
  EXPECT_TRUE(got.states[0].ends_with("-> First connect")) << got.states[0];
  EXPECT_EQ(Strings(got.states.begin() + 1, got.states.end()), prefixed("batch state ", states));

  const Trace put = run({server->address(), server->user(), server->password(), "/back/",
                         local.path().string(), kDefaultList, passive, kUpload});
  EXPECT_EQ(server->read("back/FTPClient.txt"), kClientText);
  EXPECT_EQ(server->read("back/!how to upload.txt"), kHowTo);
  EXPECT_EQ(server->read("back/Quillmere.zip"), kZip);
  EXPECT_FALSE(server->exists("back/garbage"));
  ASSERT_EQ(put.checks.size(), 4u);
  EXPECT_TRUE(put.checks[1].ends_with("!how to upload.txt 1 " + howToSize)) << put.checks[1];
  EXPECT_TRUE(put.checks[2].ends_with("garbage 0 0")) << put.checks[2];
  EXPECT_EQ(put.count(0, "Upload complete"), 4);
  EXPECT_EQ(put.countsAt("Upload complete"),
            (Strings{"Sent: " + std::to_string(kClientText.size()) + " bytes.",
                     "Sent: " + howToSize + " bytes.", "", "Sent: 100000 bytes."}));
  EXPECT_TRUE(put.any(2, "Sent: "));
  EXPECT_EQ(put.zone(2).back(), "Finished");
}

INSTANTIATE_TEST_SUITE_P(Servers, BatchServers,
                         testing::Combine(testing::Values("pyftpdlib", "vsftpd"), testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_passive" : "_active");
                         });

// The server check finds a link to a file as that file, with its size, and a link to nothing as not
// there, whichever way the server shows links; the download of the one brings the file's bytes.
class BatchLinks : public testing::TestWithParam<std::string> {};

TEST_P(BatchLinks, TheCheckSeesALinksFileAndNothingBehindADanglingOne) {
  auto server = ts::startServer(GetParam());
  REQUIRE_FTP_SERVER(server);
  server->put("store/Quillmere.zip", kZip);
  server->link("incoming/linked.zip", "../store/Quillmere.zip");
  server->link("incoming/gone.txt", "nowhere");
  ts::TempDir local;
  const Trace got = run({server->address(), server->user(), server->password(), "/incoming",
                         local.path().string(), "linked.zip,gone.txt", 1, kDownload});
  EXPECT_EQ(got.checks, (Strings{"/incoming/linked.zip 1 100000", "/incoming/gone.txt 0 0"}))
      << server->log();
  EXPECT_EQ(ts::readFile(local / "linked.zip"), kZip);
  EXPECT_EQ(ts::listTree(local.path()), Strings{"linked.zip"});
  EXPECT_EQ(got.count(0, "Download complete"), 2);
}

INSTANTIATE_TEST_SUITE_P(Servers, BatchLinks, testing::ValuesIn(ts::serverKinds()),
                         [](const auto& info) { return ts::testNameOf(info.param); });

// A name as long as the list carries, or of characters of several bytes, is looked up and moved
// whole: cut to a width, it would be looked up as a name the file does not have and passed over.
class BatchNames : public testing::TestWithParam<std::string> {};

TEST_P(BatchNames, LongNamesAreLookedUpAndMovedWhole) {
  auto server = ts::startServer(GetParam());
  REQUIRE_FTP_SERVER(server);
  const std::string report = "2024-06-15 Quarterly Report - Final Version (approved by board).pdf";  // 67
  const std::string fees = "Gebühren für März; Größe aller Räume; Flächen – Zürich";
  ASSERT_EQ(report.size(), 67u);
  ASSERT_EQ(fees.size(), 64u);  // its 59th and 60th bytes are one "ü"
  server->put("x/" + report, kZip);
  server->put("x/" + fees, kHowTo);
  server->makeDirectory("back");
  ts::TempDir local;
  const std::string list = report + ", " + fees;
  const Trace got = run({server->address(), server->user(), server->password(), "/x", local.path().string(),
                         list, 1, kDownload});
  EXPECT_EQ(got.checks, (Strings{"\"/x/" + report + "\" 1 100000",
                                 "\"/x/" + fees + "\" 1 " + std::to_string(kHowTo.size())}));
  EXPECT_TRUE(got.failures.empty()) << got.failures.front();
  EXPECT_EQ(ts::listTree(local.path()), (Strings{report, fees}));
  EXPECT_TRUE(ts::readFile(local / report) == kZip);
  EXPECT_EQ(ts::readFile(local / fees), kHowTo);

  const Trace put = run({server->address(), server->user(), server->password(), "/back",
                         local.path().string(), list, 1, kUpload});
  EXPECT_TRUE(put.failures.empty()) << put.failures.front();
  EXPECT_TRUE(server->read("back/" + report) == kZip);
  EXPECT_EQ(server->read("back/" + fees), kHowTo);
}

INSTANTIATE_TEST_SUITE_P(Servers, BatchNames, testing::ValuesIn(ts::serverKinds()),
                         [](const auto& info) { return ts::testNameOf(info.param); });

// Files past 2 and 4 GiB show their sizes as they are, and the bar measures the file in flight
// against its whole size, never past 100. The files are sparse, and the window is closed once some
// 128 MiB of the first have come.
TEST(Batches, FilesOfThreeAndFiveGiBShowTheirSizesAndTheirProgressAgainstThem) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  constexpr int64_t GiB = int64_t{1} << 30;
  server->put("big/five.bin", "");
  server->put("big/three.bin", "");
  fs::resize_file(server->pathOf("big/five.bin"), 5 * GiB);
  fs::resize_file(server->pathOf("big/three.bin"), 3 * GiB);
  ts::TempDir local;
  Strings rows;
  int highest = 0;
  const auto received = [](const Trace& t) {
    const Strings texts = t.zone(2);
    int64_t n = 0;
    for (const std::string& s : texts)
      if (s.rfind("Received: ", 0) == 0) n = std::max<int64_t>(n, std::stoll(s.substr(10)));
    return n;
  };
  const auto watch = [&](const fs::path& trace) {
    for (const auto deadline = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < deadline && received(readTrace(trace)) < 128 << 20;) {
      const ui::WindowRef window = MainWindow.load();
      if (const Strings shown = ui::test::shownRows(window, 1); !shown.empty()) rows = shown;
      const std::string bar = ui::test::shownText(window, 4);
      if (!bar.empty()) highest = std::max(highest, std::stoi(bar));
      std::this_thread::sleep_for(2ms);
    }
    ui::post(MainWindow.load(), ui::event::CloseWindow);
  };
  const Trace t = run({server->address(), server->user(), server->password(), "/big", local.path().string(),
                       "five.bin,three.bin", 1, kDownload},
                      watch);
  EXPECT_EQ(t.checks, (Strings{"/big/five.bin 1 5368709120", "/big/three.bin 1 3221225472"}));
  EXPECT_EQ(rows, (Strings{"five.bin\t1\t5368709120", "three.bin\t1\t3221225472"}));
  const int64_t got = received(t);
  EXPECT_GE(got, 128 << 20);
  EXPECT_LE(highest, got * 100 / (5 * GiB)) << "measured against 5 GiB, not against its low 32 bits (1 GiB)";
  // The cut download stays only as the partial file a later batch resumes.
  EXPECT_EQ(ts::listTree(local.path()), (Strings{".five.bin.part", ".five.bin.part.info"}));
}

// Which thread takes each step of one file: the window's thread prepares, the FTP layer's delivery
// threads move the file, and the window's thread ends. (The build stops a step on a wrong thread.)
TEST(Batches, EachStepOfAFileRunsOnItsThread) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/a.txt", "a");
  server->makeDirectory("back");
  ts::TempDir local;
  const Trace get = run({server->address(), server->user(), server->password(), "/incoming",
                         local.path().string(), "a.txt", 1, kDownload});
  EXPECT_EQ(get.steps, (Strings{"start window", "connect window", "check delivery", "connect delivery",
                                "transfer delivery", "finish delivery", "end window"}));
  const Trace put = run({server->address(), server->user(), server->password(), "/back",
                         local.path().string(), "a.txt", 1, kUpload});
  EXPECT_EQ(put.steps, (Strings{"start window", "check window", "connect window", "transfer delivery",
                                "finish delivery", "end window"}));
  // A refused login: the retry is taken where the failure is delivered, the next connect after its
  // pause on the retry thread.
  const Trace wrong = run(
      {server->address(), server->user(), "wrong", "/incoming", local.path().string(), "a.txt", 1, kDownload},
      closeWhen([](const Trace& t) { return t.failures.size() >= 2; }));
  ASSERT_GE(wrong.steps.size(), 5u);
  EXPECT_EQ(Strings(wrong.steps.begin(), wrong.steps.begin() + 5),
            (Strings{"start window", "connect window", "retry delivery", "connect retry", "retry delivery"}));
}

TEST(Batches, MoreThan255FilesAreAllTransferred) {
  auto server = ts::startPyftpdlib();  // vsftpd spends 0.1 s on each login: 300 would take half a minute
  REQUIRE_FTP_SERVER(server);
  ts::TempDir local;
  std::string list;
  Strings names;
  for (int i = 0; i < 300; ++i) {
    names.push_back({char('a' + i / 26), char('a' + i % 26)});
    ts::writeFile(local / names.back(), names.back());
    list += (i ? "," : "") + names.back();
  }
  server->makeDirectory("many");
  const Trace t = run({server->address(), server->user(), server->password(), "/many", local.path().string(),
                       list, 1, kUpload});
  EXPECT_EQ(t.count(0, "Upload complete"), 300);
  EXPECT_EQ(ts::listTree(server->root() / "many"), names);
}

TEST(Batches, AFailedConnectIsRetriedCalmlyUntilTheWindowIsClosed) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/a.txt", "a");
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const Trace wrong = run(
      {server->address(), server->user(), "wrong", "/incoming", local.path().string(), "a.txt", 1, kDownload},
      closeWhen([](const Trace& t) { return t.failures.size() >= 4; }), &took);
  EXPECT_TRUE(ts::listTree(local.path()).empty());
  EXPECT_GE(took, 1300ms) << "0.2, 0.4 and 0.8 s between the first four attempts";
  EXPECT_LE(wrong.failures.size(), 6u) << "a wrong password must not flood the server";
  EXPECT_EQ(wrong.failures[0].rfind("connect to " + server->address(), 0), 0u) << wrong.failures[0];

  ts::writeFile(local / "a.txt", "a");
  const Trace unreachable = run({"127.0.0.1:1", "u", "p", "/", local.path().string(), "a.txt", 0, 2},
                                closeWhen([](const Trace& t) { return t.failures.size() >= 2; }));
  EXPECT_EQ(unreachable.checks, Strings{local.path().string() + "\\a.txt 1 1"});
  EXPECT_FALSE(unreachable.any(2, "Finished"));
}

// Over explicit TLS: the server name says so and nothing else changes. The batch never asks about a
// certificate: one it cannot verify is a failed connect, retried until the window is closed.
TEST(Batches, DownloadOverExplicitTlsAndRefuseAnUntrustedCertificate) {
  // The library's layer trusts what OpenSSL's default verify paths name: here the tests' authority.
  ::setenv("SSL_CERT_FILE", ts::testCertificates().authority.c_str(), 1);
  for (bool trusted : {true, false}) {
    SCOPED_TRACE(trusted ? "trusted" : "self-signed");
    ts::ServerOptions o;
    o.tls = ts::Tls::Explicit;
    if (!trusted) o.certificate = ts::testCertificates().selfSigned.string();
    auto server = ts::startVsftpd(o);
    REQUIRE_FTP_SERVER(server);
    server->put("incoming/a.bin", kZip);
    ts::TempDir local;
    const std::string name = "ftpes://" + server->address();
    const Trace got = run(
        {name, server->user(), server->password(), "/incoming", local.path().string(), "a.bin", 1, kDownload},
        trusted ? std::function<void(const fs::path&)>{}
                : closeWhen([](const Trace& t) { return t.failures.size() >= 2; }));
    if (trusted) {
      EXPECT_TRUE(ts::readFile(local / "a.bin") == kZip);
      EXPECT_EQ(got.zone(2).back(), "Finished");
      EXPECT_EQ(got.count(0, "Connecting to " + name), 1);
    } else {
      EXPECT_TRUE(ts::listTree(local.path()).empty());
      ASSERT_FALSE(got.failures.empty());
      EXPECT_NE(got.failures[0].find("): 12045 "), std::string::npos) << got.failures[0];
      EXPECT_GE(got.count(0, "The server's certificate comes from an authority that is not trusted."), 1);
      EXPECT_EQ(server->log().find("PASS"), std::string::npos) << "no password to a server not trusted";
    }
  }
  ::unsetenv("SSL_CERT_FILE");
}

TEST(Batches, FailedTransfersArePassedOverAndLoseNothingLocal) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/a.txt", "first");
  server->put("incoming/b.txt", "second");
  server->makeDirectory("incoming/sub");
  ts::TempDir local;
  ts::writeFile(local / "missing.txt", "kept");
  const Trace t = run({server->address(), server->user(), server->password(), "/incoming",
                       local.path().string(), "a.txt,missing.txt,bad\r\nname,sub,,b.txt", 1, kDownload});
  EXPECT_EQ(ts::readFile(local / "a.txt"), "first");
  EXPECT_EQ(ts::readFile(local / "b.txt"), "second");
  EXPECT_EQ(ts::readFile(local / "missing.txt"), "kept") << "a failed download must not touch the local file";
  EXPECT_EQ(ts::listTree(local.path()), (Strings{"a.txt", "b.txt", "missing.txt"}));
  EXPECT_EQ(t.count(0, "Download complete"), 6);
  EXPECT_EQ(t.failures.size(), 4u);
  ASSERT_EQ(t.checks.size(), 6u);
  EXPECT_EQ(t.checks[4], "/incoming/ 1 0") << "an empty name looks up the directory itself";
  EXPECT_EQ(t.zone(2).back(), "Finished");
}

TEST(Batches, ClosingTheWindowMidTransferEndsTheBatchAtOnceAndKeepsNoPartialFile) {
  faultftp::FaultServer server;
  server.putFile("/pub/a.txt", "first");
  server.putPatternFile("/pub/big.bin", 50'000'000);
  server.putFile("/pub/b.txt", "second");
  server.add(faultftp::Fault::on("RETR", 2).chunks(4096, 20ms));  // big.bin trickles in
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const auto pastFirstBlocks = [](const Trace& t) {
    const Strings texts = t.zone(2);
    return std::any_of(texts.begin(), texts.end(), [](const std::string& s) {
      return s.rfind("Received: ", 0) == 0 && std::stoll(s.substr(10)) > 100'000;
    });
  };
  const Trace t =
      run({server.address(), "u", "p", "/pub", local.path().string(), "a.txt,big.bin,b.txt", 1, kDownload},
          closeWhen(pastFirstBlocks), &took);
  EXPECT_LT(took, 10s);
  EXPECT_LT(server.dataSent(), 50'000'000u) << "the window was to close during big.bin";
  EXPECT_EQ(ts::listTree(local.path()), Strings{"a.txt"}) << "no part of big.bin, nothing of b.txt";
  EXPECT_FALSE(t.any(2, "Finished"));
  for (int i = 0; i < 200 && server.openConnections() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server.openConnections(), 0) << "every connection of the batch is closed";
}

TEST(Batches, AServerThatNeverAnswersQuitDoesNotHoldTheBatchUp) {
  faultftp::FaultServer server;
  server.putFile("/pub/a.txt", "first");
  server.putFile("/pub/b.txt", "second");
  server.add(faultftp::Fault::on("QUIT").saysNothing());
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const Trace t = run(
      {server.address(), "u", "p", "/pub", local.path().string(), "a.txt,b.txt", 1, kDownload}, {}, &took);
  EXPECT_EQ(ts::readFile(local / "b.txt"), "second");
  EXPECT_EQ(t.zone(2).back(), "Finished");
  EXPECT_LT(took, 15s) << "the next connect waits a moment for the old connection, not its whole timeout";
}

}  // namespace
