// Whole batches against real FTP servers on loopback, through UPLDNL_AS as a program calls it
// (linked against libnimbo.so). What a batch did is read back from the server's and the local files
// and from the batch trace (NIMBO_BATCH_TRACE), which records every status text, check and failure.
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
#include <vector>

#include "fault_server.h"
#include "ftp_servers.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace {

namespace ts = testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kDefaultList = "FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip";
constexpr uint8_t kUpload = 0, kDownload = 1;

// What one batch left in its trace.
struct Trace {
  std::vector<std::pair<int, std::string>> zones;  // every status text, in order
  struct Check {
    std::string path;
    int exists;
    int32_t size;
  };
  std::vector<Check> checks;
  std::vector<std::string> failures;

  std::vector<std::string> zone(int z) const {
    std::vector<std::string> out;
    for (const auto& [n, text] : zones)
      if (n == z) out.push_back(text);
    return out;
  }
  std::size_t count(int z, const std::string& text) const {
    const auto texts = zone(z);
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
  }
  bool has(int z, const std::string& text) const { return count(z, text) > 0; }
};

Trace readTrace(const fs::path& file) {
  Trace t;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string tag = line.substr(0, tab), rest = line.substr(tab + 1);
    if (tag == "!") {
      t.failures.push_back(rest);
    } else if (tag == "?") {
      const auto a = rest.rfind('\t'), b = rest.rfind('\t', a - 1);
      t.checks.push_back(
          {rest.substr(0, b), std::stoi(rest.substr(b + 1, a - b - 1)), std::stoi(rest.substr(a + 1))});
    } else {
      t.zones.emplace_back(std::stoi(tag), rest);
    }
  }
  return t;
}

struct Batch {
  std::string server, user, password, remote, local, list;
  uint8_t passive = 1;
  uint8_t direction = kDownload;
};

// Runs UPLDNL_AS on this thread (the runtime's GUI thread, as in a program); `meanwhile` runs on
// another thread while the batch goes and may close its window.
Trace run(const Batch& b, const std::function<void(const fs::path& trace)>& meanwhile = {},
          std::chrono::steady_clock::duration* took = nullptr) {
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
  Trace t = readTrace(trace);
  fs::remove(trace);
  return t;
}

// Closes the batch window once the trace shows `failures` failed requests (or after 20 s).
std::function<void(const fs::path&)> closeAfterFailures(std::size_t failures) {
  return [failures](const fs::path& trace) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline && readTrace(trace).failures.size() < failures)
      std::this_thread::sleep_for(10ms);
    ui::post(MainWindow.load(), ui::event::CloseWindow);
  };
}

void expectBatchLeftNothingOpen() {
  EXPECT_EQ(hOpen.load(), 0u);
  EXPECT_EQ(hConnection.load(), 0u);
  EXPECT_FALSE(ui::isOpen(MainWindow.load())) << "the batch window must be closed";
  EXPECT_EQ(GlobalResponse, 2);
}

// Bytes of the files the default list names: text with CR LF and blanks, and binary with every byte.
const std::string kClientText = "FTP client\r\nread me\r\n";
const std::string kHowTo = "How to upload:\r\n  put your file into /incoming\r\n\r\n";
const std::string kZip = ts::randomBytes(100'000, 7);

class BatchServers : public testing::TestWithParam<std::tuple<const char*, bool>> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    ui::test::headlessDialogs(true);
  }

  ts::StartedServer start() {
    const std::string kind = std::get<0>(GetParam());
    return kind == "vsftpd" ? ts::startVsftpd() : ts::startPyftpdlib();
  }
  uint8_t passive() const { return std::get<1>(GetParam()) ? 1 : 0; }
};

TEST_P(BatchServers, DownloadsTheDefaultListAndUploadsItBack) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/FTPClient.txt", kClientText);
  server->put("incoming/!how to upload.txt", kHowTo);
  server->put("incoming/Quillmere.zip", kZip);
  server->makeDirectory("back");
  ts::TempDir local;

  // Trailing blanks as the parameters window passes its fields.
  Batch down{server->address() + "   ",
             server->user() + "  ",
             server->password() + " ",
             "/incoming      ",
             local.path().string() + "   ",
             std::string(kDefaultList) + std::string(400, ' '),
             passive(),
             kDownload};
  const Trace got = run(down);
  expectBatchLeftNothingOpen();
  EXPECT_EQ(ts::readFile(local / "FTPClient.txt"), kClientText);
  EXPECT_EQ(ts::readFile(local / "!how to upload.txt"), kHowTo);
  EXPECT_EQ(ts::readFile(local / "Quillmere.zip"), kZip);
  EXPECT_EQ(ts::listTree(local.path()),
            (std::vector<std::string>{"!how to upload.txt", "FTPClient.txt", "Quillmere.zip"}))
      << "garbage is passed over and nothing else is left behind";

  ASSERT_EQ(got.checks.size(), 4u) << server->log();
  EXPECT_EQ(got.checks[0].path, "/incoming/FTPClient.txt");
  EXPECT_EQ(got.checks[1].path, "\"/incoming/!how to upload.txt\"")
      << "a name with blanks is looked up quoted";
  EXPECT_EQ(got.checks[2].path, "/incoming/garbage");
  EXPECT_EQ(got.checks[3].path, "/incoming/Quillmere.zip");
  const std::vector<int> exists{got.checks[0].exists, got.checks[1].exists, got.checks[2].exists,
                                got.checks[3].exists};
  EXPECT_EQ(exists, (std::vector<int>{1, 1, 0, 1}));
  const std::vector<int32_t> sizes{got.checks[0].size, got.checks[1].size, got.checks[2].size,
                                   got.checks[3].size};
  EXPECT_EQ(sizes, (std::vector<int32_t>{static_cast<int32_t>(kClientText.size()),
                                         static_cast<int32_t>(kHowTo.size()), 0, 100'000}));

  EXPECT_TRUE(got.has(0, "Connecting to " + server->address())) << "the server name without its blanks";
  for (const char* name : {"FTPClient.txt", "!how to upload.txt", "garbage", "Quillmere.zip"})
    EXPECT_TRUE(got.has(1, std::string("Checking for ") + name)) << name;
  EXPECT_EQ(got.count(0, "Download complete"), 4u) << "a failed file is passed over silently";
  EXPECT_TRUE(got.has(1, "/incoming/Quillmere.zip")) << "the path in flight";
  const auto received = got.zone(2);
  EXPECT_TRUE(std::any_of(received.begin(), received.end(), [](const std::string& s) {
    return s.rfind("Received: ", 0) == 0 && s.ends_with(" bytes.");
  }));
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), "Finished");
  EXPECT_EQ(got.failures.size(), 1u) << "only garbage fails";

  Batch up{server->address(),     server->user(), server->password(), "/back/",
           local.path().string(), kDefaultList,   passive(),          kUpload};
  const Trace put = run(up);
  expectBatchLeftNothingOpen();
  EXPECT_EQ(server->read("back/FTPClient.txt"), kClientText);
  EXPECT_EQ(server->read("back/!how to upload.txt"), kHowTo);
  EXPECT_EQ(server->read("back/Quillmere.zip"), kZip);
  EXPECT_FALSE(server->exists("back/garbage"));
  ASSERT_EQ(put.checks.size(), 4u);
  EXPECT_EQ(put.checks[1].exists, 1) << "the local check finds the name with blanks";
  EXPECT_EQ(put.checks[1].size, static_cast<int32_t>(kHowTo.size()));
  EXPECT_EQ(put.checks[2].exists, 0);
  EXPECT_EQ(put.checks[3].size, 100'000);
  EXPECT_EQ(put.count(0, "Upload complete"), 4u);
  const auto sent = put.zone(2);
  EXPECT_TRUE(
      std::any_of(sent.begin(), sent.end(), [](const std::string& s) { return s.rfind("Sent: ", 0) == 0; }));
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "Finished");
}

INSTANTIATE_TEST_SUITE_P(Servers, BatchServers,
                         testing::Values(std::make_tuple("pyftpdlib", true),
                                         std::make_tuple("pyftpdlib", false), std::make_tuple("vsftpd", true),
                                         std::make_tuple("vsftpd", false)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) ? "_passive" : "_active");
                         });

class Batches : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    ui::test::headlessDialogs(true);
  }
};

TEST_F(Batches, MoreThan255FilesAreAllTransferred) {
  // pyftpdlib: vsftpd spends about 0.1 s on every login, which 300 files would make half a minute.
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  ts::TempDir local;
  std::string list;
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    const std::string name{static_cast<char>('a' + i / 26), static_cast<char>('a' + i % 26)};
    ts::writeFile(local / name, name + "\n");
    list += (i ? "," : "") + name;
    names.push_back(name);
  }
  server->makeDirectory("many");
  const Trace t = run({server->address(), server->user(), server->password(), "/many", local.path().string(),
                       list, 1, kUpload});
  expectBatchLeftNothingOpen();
  EXPECT_EQ(t.count(0, "Upload complete"), 300u);
  std::vector<std::string> onServer = ts::listTree(server->root() / "many");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(onServer, names);
  EXPECT_EQ(server->read("many/lm"), "lm\n");
}

TEST_F(Batches, AWrongPasswordIsRetriedCalmlyUntilTheWindowIsClosed) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/a.txt", "a");
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const Trace t = run(
      {server->address(), server->user(), "wrong", "/incoming", local.path().string(), "a.txt", 1, kDownload},
      closeAfterFailures(4), &took);
  expectBatchLeftNothingOpen();
  EXPECT_TRUE(ts::listTree(local.path()).empty());
  ASSERT_GE(t.failures.size(), 4u);
  // Paced: 0.2, 0.4 and 0.8 s between the first four attempts.
  EXPECT_GE(took, 1300ms);
  EXPECT_LE(t.failures.size(), 6u) << "a wrong password must not flood the server";
  for (const std::string& f : t.failures) EXPECT_EQ(f.rfind("connect to " + server->address(), 0), 0u) << f;
  EXPECT_FALSE(t.has(2, "Finished"));
}

TEST_F(Batches, AnUnreachableServerIsRetriedUntilTheWindowIsClosed) {
  ts::TempDir local;
  ts::writeFile(local / "a.txt", "a");
  const Trace t =
      run({"127.0.0.1:1", "u", "p", "/", local.path().string(), "a.txt", 0, kUpload}, closeAfterFailures(2));
  expectBatchLeftNothingOpen();
  ASSERT_EQ(t.checks.size(), 1u);
  EXPECT_EQ(t.checks[0].exists, 1);
  EXPECT_GE(t.failures.size(), 2u);
  EXPECT_LE(t.failures.size(), 4u);
}

TEST_F(Batches, FailedTransfersArePassedOverAndLoseNothingLocal) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/a.txt", "first");
  server->put("incoming/b.txt", "second");
  server->makeDirectory("incoming/sub");
  ts::TempDir local;
  ts::writeFile(local / "missing.txt", "kept");
  // "bad\r\nname" cannot be sent as a command: the layer refuses it at once, with no completion to
  // follow, and the batch must still move on.
  const Trace t = run({server->address(), server->user(), server->password(), "/incoming",
                       local.path().string(), "a.txt,missing.txt,bad\r\nname,sub,,b.txt", 1, kDownload});
  expectBatchLeftNothingOpen();
  EXPECT_EQ(ts::readFile(local / "a.txt"), "first");
  EXPECT_EQ(ts::readFile(local / "b.txt"), "second");
  EXPECT_EQ(ts::readFile(local / "missing.txt"), "kept") << "a failed download must not touch the local file";
  EXPECT_EQ(ts::listTree(local.path()), (std::vector<std::string>{"a.txt", "b.txt", "missing.txt"}));
  EXPECT_EQ(t.count(0, "Download complete"), 6u);
  EXPECT_EQ(t.failures.size(), 4u);
  ASSERT_EQ(t.checks.size(), 6u);
  EXPECT_EQ(t.checks[4].path, "/incoming/") << "an empty name looks up the directory itself";
  EXPECT_EQ(t.zone(2).back(), "Finished");
}

TEST_F(Batches, AnUploadOfMissingFilesStillEndsByItself) {
  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  ts::TempDir local;
  const Trace t = run({server->address(), server->user(), server->password(), "/", local.path().string(),
                       "none1,none2", 2, 2});
  expectBatchLeftNothingOpen();
  EXPECT_EQ(t.count(0, "Upload complete"), 2u);
  EXPECT_EQ(t.zone(2).back(), "Finished");
  EXPECT_TRUE(ts::listTree(server->root()).empty());
}

// Closes the batch window once the trace shows a download past `bytes` in zone 2 (or after 20 s).
std::function<void(const fs::path&)> closeWhenReceived(long long bytes) {
  return [bytes](const fs::path& trace) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    const auto past = [bytes](const std::string& t) {
      return t.rfind("Received: ", 0) == 0 && std::stoll(t.substr(10)) > bytes;
    };
    while (std::chrono::steady_clock::now() < deadline) {
      const auto texts = readTrace(trace).zone(2);
      if (std::any_of(texts.begin(), texts.end(), past)) break;
      std::this_thread::sleep_for(5ms);
    }
    ui::post(MainWindow.load(), ui::event::CloseWindow);
  };
}

TEST_F(Batches, ClosingTheWindowMidTransferEndsTheBatchAtOnceAndKeepsNoPartialFile) {
  faultftp::FaultServer server;
  server.putFile("/pub/a.txt", "first");
  server.putPatternFile("/pub/big.bin", 50'000'000);
  server.putFile("/pub/b.txt", "second");
  server.add(faultftp::Fault::on("RETR", 2).chunks(4096, 20ms));  // big.bin trickles in
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const Trace t =
      run({server.address(), "u", "p", "/pub", local.path().string(), "a.txt,big.bin,b.txt", 1, kDownload},
          closeWhenReceived(100'000), &took);
  expectBatchLeftNothingOpen();
  EXPECT_LT(took, 10s);
  EXPECT_EQ(ts::readFile(local / "a.txt"), "first");
  EXPECT_EQ(ts::listTree(local.path()), std::vector<std::string>{"a.txt"})
      << "no part of big.bin, nothing of b.txt";
  EXPECT_FALSE(t.has(2, "Finished"));
  EXPECT_LT(server.dataSent(), 50'000'000u) << "the window was to close during big.bin";
  for (int i = 0; i < 200 && server.openConnections() > 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(server.openConnections(), 0) << "every connection of the batch is closed";
}

TEST_F(Batches, ACutTransferIsPassedOverAndLeavesNoPartialFile) {
  faultftp::FaultServer server;
  server.putPatternFile("/pub/cut.bin", 300'000);
  server.putFile("/pub/b.txt", "second");
  server.add(faultftp::Fault::on("RETR", 1).cutsDataAfter(100'000).endsWith("426 Connection closed."));
  ts::TempDir local;
  const Trace t =
      run({server.address(), "u", "p", "/pub", local.path().string(), "cut.bin,b.txt", 1, kDownload});
  expectBatchLeftNothingOpen();
  EXPECT_EQ(ts::listTree(local.path()), std::vector<std::string>{"b.txt"});
  EXPECT_EQ(t.count(0, "Download complete"), 2u);
  ASSERT_EQ(t.checks.size(), 2u);
  EXPECT_EQ(t.checks[0].size, 300'000) << "found by the server check";
  EXPECT_EQ(t.failures.size(), 1u);
}

TEST_F(Batches, AServerThatNeverAnswersQuitDoesNotHoldTheBatchUp) {
  faultftp::FaultServer server;
  server.putFile("/pub/a.txt", "first");
  server.putFile("/pub/b.txt", "second");
  server.add(faultftp::Fault::on("QUIT").saysNothing());
  ts::TempDir local;
  std::chrono::steady_clock::duration took{};
  const Trace t = run(
      {server.address(), "u", "p", "/pub", local.path().string(), "a.txt,b.txt", 1, kDownload}, {}, &took);
  expectBatchLeftNothingOpen();
  EXPECT_EQ(ts::readFile(local / "a.txt"), "first");
  EXPECT_EQ(ts::readFile(local / "b.txt"), "second");
  EXPECT_EQ(t.zone(2).back(), "Finished");
  EXPECT_LT(took, 15s) << "the next connect waits a moment for the old connection, not its whole timeout";
}

}  // namespace
