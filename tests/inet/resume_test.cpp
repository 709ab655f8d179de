// Downloads that end early keep what came in the target's partial file, and the next download of the
// same file continues it with REST: cut by the scripted server, cancelled, cut by a real server that
// is stopped and started again; and every case where it must start over instead.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>

#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "timing.h"

namespace fs = std::filesystem;
namespace ts = testsupport;
using namespace std::chrono_literals;
using namespace inettest;
using faultftp::Fault;
using faultftp::FaultServer;

namespace {

const std::string kBytes = ts::randomBytes(300000, 7);
const std::string kAborted = "426 Connection closed; transfer aborted.";

std::vector<std::string> after(const std::vector<std::string>& all, const std::string& first) {
  auto at = std::find(all.rbegin(), all.rend(), first);
  return at == all.rend() ? std::vector<std::string>{}
                          : std::vector<std::string>(std::prev(at.base()), all.end());
}

faultftp::Options withRest() {
  faultftp::Options options;
  options.rest = true;
  return options;
}

class Resume : public testing::Test {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5)});
    server.putFile("/big.bin", kBytes);
  }
  void TearDown() override { inet::resetTimeouts(); }
  // Connects, downloads /big.bin into local/big.bin and closes, as the client and the batch do.
  Completion get(DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    HINTERNET conn = client.connect(server.address(), "ann", "pw");
    EXPECT_NE(conn, nullptr);
    const std::string target = winPath(local / "big.bin");
    Completion c = client.await([&] {
      return FtpGetFileA(conn, "/big.bin", target.c_str(), FALSE, 0, type, client.recorder.context());
    });
    InternetCloseHandle(conn);
    EXPECT_TRUE(client.recorder.waitForClosing(conn));
    return c;
  }
  // The n-th RETR ends after `bytes`, as when the server goes away mid-transfer. Sent in pieces, so
  // that the client has read most of them when the 426 comes (it stops reading once it hears that).
  void cutOnce(size_t bytes, int nth = 1) {
    server.add(Fault::on("RETR", nth)
                   .cutsDataAfter(bytes)
                   .endsWith(kAborted)
                   .chunks(10000, std::chrono::milliseconds(2)));
  }
  fs::path partial() const { return local / ".big.bin.part"; }

  FaultServer server{withRest()};
  ts::TempDir local;
  Client client;
};

TEST_F(Resume, ACutDownloadIsContinuedWithRestRightBeforeRetr) {
  server.putFile("/small.bin", "small");
  ts::writeFile(local / "big.bin", "the old copy");
  cutOnce(120000, 2);
  // One connection throughout: once EPSV has answered on it, a RETR could go right behind the EPSV.
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  auto download = [&](const char* remote, const char* name) {
    const std::string target = winPath(local / name);
    return client.await([&] {
      return FtpGetFileA(conn, remote, target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                         client.recorder.context());
    });
  };
  ASSERT_EQ(download("/small.bin", "small.bin").error, 0u);
  EXPECT_NE(download("/big.bin", "big.bin").error, 0u);
  EXPECT_EQ(ts::readFile(local / "big.bin"), "the old copy");
  // What came before the server's 426 was heard, which may be less than it sent.
  const size_t kept = fs::file_size(partial());
  ASSERT_GT(kept, 0u);
  EXPECT_TRUE(ts::readFile(partial()) == kBytes.substr(0, kept));
  EXPECT_TRUE(fs::exists(local / ".big.bin.part.info"));

  ASSERT_EQ(download("/big.bin", "big.bin").error, 0u);
  EXPECT_TRUE(ts::readFile(local / "big.bin") == kBytes);
  EXPECT_EQ(inet::resumedFrom(conn), kept);
  const std::vector<std::string> expected{"SIZE /big.bin", "MDTM /big.bin", "EPSV",
                                          "REST " + std::to_string(kept), "RETR /big.bin"};
  EXPECT_EQ(after(server.commands(), "SIZE /big.bin"), expected);
  EXPECT_EQ(ts::listTree(local.path()), (std::vector<std::string>{"big.bin", "small.bin"}));
  InternetCloseHandle(conn);
  EXPECT_TRUE(client.recorder.waitForClosing(conn));
}

TEST_F(Resume, APartialFileThatDoesNotMatchIsThrownAway) {
  const std::vector<std::pair<std::string, std::function<void(FaultServer&, const fs::path&)>>> cases = {
      {"remote time changed",
       [](FaultServer& s, const fs::path&) { s.setModified("/big.bin", "20240101000000"); }},
      {"remote size changed",
       [](FaultServer& s, const fs::path&) { s.putFile("/big.bin", kBytes + "more"); }},
      {"record edited",
       [](FaultServer&, const fs::path& p) { ts::writeFile(p.string() + ".info", "size 1\n"); }},
      {"record missing", [](FaultServer&, const fs::path& p) { fs::remove(p.string() + ".info"); }},
      {"longer than the remote file",
       [](FaultServer&, const fs::path& p) {
         ts::writeFile(p, kBytes.substr(0, 1000) + std::string(300000, 'x'));
       }},
      {"REST refused",
       [](FaultServer& s, const fs::path&) { s.add(Fault::on("REST").replying("502 No REST.")); }},
      // Neither read nor written: opened as a file, it would wait for a writer or reader for good.
      {"record a FIFO",
       [](FaultServer&, const fs::path& p) {
         const std::string record = p.string() + ".info";
         fs::remove(record);
         ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
       }},
  };
  for (const auto& [why, spoil] : cases) {
    FaultServer fresh{withRest()};
    fresh.putFile("/big.bin", kBytes);
    fresh.add(Fault::on("RETR", 1).cutsDataAfter(100000).endsWith(kAborted).chunks(
        10000, std::chrono::milliseconds(2)));
    HINTERNET conn = client.connect(fresh.address(), "ann", "pw");
    const std::string target = winPath(local / "big.bin");
    auto download = [&] {
      return client.await([&] {
        return FtpGetFileA(conn, "/big.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                           client.recorder.context());
      });
    };
    EXPECT_NE(download().error, 0u) << why;
    const std::string rest = "REST " + std::to_string(fs::file_size(partial()));
    spoil(fresh, partial());
    EXPECT_EQ(download().error, 0u) << why;
    EXPECT_TRUE(ts::readFile(local / "big.bin") == fresh.file("/big.bin")) << why;
    // Refused, then RETR from the start.
    EXPECT_EQ(after(fresh.commands(), rest).size(), why == "REST refused" ? 2u : 0u) << why;
    InternetCloseHandle(conn);
    ASSERT_TRUE(client.recorder.waitForClosing(conn));
    fs::remove(local / "big.bin");
  }
}

TEST_F(Resume, AServerThatAgreesToRestButSendsFromTheStartLeavesNoMix) {
  cutOnce(100000);
  EXPECT_NE(get().error, 0u);
  server.add(Fault::on("REST", 1).replying("350 Restarting, or so it says."));
  EXPECT_EQ(get().error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));  // more bytes than the file has
  EXPECT_EQ(ts::listTree(local.path()), std::vector<std::string>{});
  ASSERT_EQ(get().error, 0u);
  EXPECT_TRUE(ts::readFile(local / "big.bin") == kBytes);
}

TEST_F(Resume, AsciiIsNeitherKeptNorResumed) {
  cutOnce(100000);
  EXPECT_NE(get(FTP_TRANSFER_TYPE_ASCII).error, 0u);
  EXPECT_TRUE(ts::listTree(local.path()).empty());
  ASSERT_EQ(get(FTP_TRANSFER_TYPE_ASCII).error, 0u);
  EXPECT_EQ(after(server.commands(), "TYPE A"),
            (std::vector<std::string>{"TYPE A", "EPSV", "RETR /big.bin"}));
}

TEST_F(Resume, ACancelledDownloadKeepsItsPartialFileForTheNext) {
  server.add(Fault::on("RETR", 1).chunks(10000, std::chrono::milliseconds(20)));
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  const std::string target = winPath(local / "big.bin");
  EXPECT_FALSE(FtpGetFileA(conn, "/big.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                           client.recorder.context()));
  ASSERT_TRUE(client.recorder.waitUntil([](const std::vector<Note>& notes) {
    return std::count_if(notes.begin(), notes.end(), [](const Note& n) { return n.count == 10000; }) >= 3;
  }));
  InternetCloseHandle(conn);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));
  const auto kept = fs::file_size(partial());
  EXPECT_GE(kept, 30000u);
  ASSERT_EQ(get().error, 0u);
  EXPECT_TRUE(ts::readFile(local / "big.bin") == kBytes);
  EXPECT_EQ(after(server.commands(), "REST " + std::to_string(kept)).size(), 2u);
}

TEST_F(Resume, ADataConnectionThatFailsBehindASentAheadRetrReportsTheServersAnswer) {
  server.add(Fault::on("EPSV", 2).replying("229 Entering Extended Passive Mode (|||1|)"));
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  const std::string target = winPath(local / "other.bin");
  auto download = [&] {
    return client.await([&] {
      return FtpGetFileA(conn, "/big.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                         client.recorder.context());
    });
  };
  EXPECT_EQ(download().error, 0u);
  const Completion refused = download();  // RETR went behind EPSV; port 1 refuses the data connection
  EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(refused.responseCode, 425u) << refused.response;
  EXPECT_EQ(download().error, 0u);  // the dialogue is still in step
  InternetCloseHandle(conn);
  EXPECT_TRUE(client.recorder.waitForClosing(conn));
}

class ResumeOnServers : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)});
  }
  void TearDown() override { inet::resetTimeouts(); }
};

TEST_P(ResumeOnServers, AServerStoppedAndStartedAgainMidTransferIsResumed) {
  auto server = ts::startServer(GetParam());
  REQUIRE_FTP_SERVER(server);
  // Larger than the blocks the layer holds for a callback that does not return (256 of 256 KiB at
  // most), so that the transfer is surely under way, and not over, when the server stops.
  const std::string bytes = ts::randomBytes(96 << 20, 9);
  server->put("big.bin", bytes);
  ts::TempDir local;
  // Before the client: its callback may still run while the client closes.
  std::promise<void> arrived, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};
  Client client;
  client.recorder.inside = [&](const Note& n) {
    if (n.status == INTERNET_STATUS_RESPONSE_RECEIVED && n.count >= 65536 && first.exchange(false)) {
      arrived.set_value();
      released.wait();
    }
  };
  HINTERNET conn = client.connect(server->address(), server->user(), server->password());
  const std::string target = winPath(local / "big.bin");
  auto download = [&] {
    return client.await([&] {
      return FtpGetFileA(conn, "/big.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                         client.recorder.context());
    });
  };
  auto cut = std::async(std::launch::async, download);
  ASSERT_EQ(arrived.get_future().wait_for(ts::scaled(20s)), std::future_status::ready)
      << "the download never got going";
  EXPECT_EQ(server->restart(), "");
  release.set_value();
  EXPECT_NE(cut.get().error, 0u);
  InternetCloseHandle(conn);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));
  const uint64_t kept = fs::file_size(local / ".big.bin.part");
  ASSERT_GT(kept, 0u);
  ASSERT_LT(kept, bytes.size());

  conn = client.connect(server->address(), server->user(), server->password());
  ASSERT_EQ(download().error, 0u);
  EXPECT_EQ(inet::resumedFrom(conn), kept);
  EXPECT_TRUE(ts::readFile(local / "big.bin") == bytes);
  EXPECT_EQ(ts::listTree(local.path()), (std::vector<std::string>{"big.bin"}));
  InternetCloseHandle(conn);
  EXPECT_TRUE(client.recorder.waitForClosing(conn));
}

INSTANTIATE_TEST_SUITE_P(Servers, ResumeOnServers, testing::ValuesIn(ts::serverKinds()),
                         [](const auto& info) { return ts::testNameOf(info.param); });

}  // namespace
