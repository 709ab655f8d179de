// Closing a handle ends its request within a second: REQUEST_COMPLETE with
// ERROR_INTERNET_OPERATION_CANCELLED, then HANDLE_CLOSING; a cancelled download leaves the file that
// was there before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"

namespace ts = testsupport;
using namespace inettest;
using faultftp::Fault;
using faultftp::FaultServer;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kGiB = 1ull << 30;

class Cancel : public testing::Test {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)});
  }
  void TearDown() override { inet::resetTimeouts(); }

  // Closes h once `ready` holds and checks what follows: the cancelled completion within a second, then
  // the handle's closing notification, last.
  void closeAndExpectCancelled(Client& client, HINTERNET h,
                               const std::function<bool(const std::vector<Note>&)>& ready) {
    ASSERT_TRUE(client.recorder.waitUntil(ready)) << describe(client.recorder.notes());
    const size_t from = client.recorder.notes().size();
    const auto closed = Clock::now();
    EXPECT_TRUE(InternetCloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(client.recorder.waitForClosing(h, std::chrono::seconds(5)));
    EXPECT_LT(Clock::now() - closed, std::chrono::seconds(1));
    auto notes = client.recorder.notes();
    std::vector<Note> after;
    for (size_t i = from; i < notes.size(); ++i)
      if (notes[i].handle == h) after.push_back(notes[i]);
    auto complete = std::find_if(after.begin(), after.end(),
                                 [](const Note& n) { return n.status == INTERNET_STATUS_REQUEST_COMPLETE; });
    ASSERT_NE(complete, after.end()) << describe(notes);
    EXPECT_EQ(complete->result.dwError, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    EXPECT_EQ(complete->result.dwResult, 0u);
    EXPECT_EQ(after.back().status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
  }
};

bool hasStatus(const std::vector<Note>& notes, DWORD status, size_t atLeast = 1) {
  size_t n = 0;
  for (const Note& note : notes) n += note.status == status;
  return n >= atLeast;
}

TEST_F(Cancel, DuringConnect) {
  FaultServer server;
  server.add(Fault::on("GREETING").after(milliseconds(5000)).replying("220 Late."));
  Client client;
  HINTERNET conn = InternetConnectA(client.root, server.address().c_str(), 0, "ann", "pw",
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, client.recorder.context());
  ASSERT_NE(conn, nullptr);
  closeAndExpectCancelled(
      client, conn, [](const auto& notes) { return hasStatus(notes, INTERNET_STATUS_CONNECTED_TO_SERVER); });
}

TEST_F(Cancel, DuringListingLeavesTheConnectionUsable) {
  FaultServer server;
  std::string raw;
  for (int i = 0; i < 20000; ++i) raw += "-rw-r--r-- 1 ftp ftp 1 Jan  2  2020 f" + std::to_string(i) + "\r\n";
  server.setListing("/", raw);
  server.putFile("/after.txt", "still works");
  server.add(Fault::on("LIST", 1).chunks(1000, milliseconds(20)));
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  WIN32_FIND_DATAA data{};
  EXPECT_EQ(FtpFindFirstFileA(conn, "*.*", &data, 0, client.recorder.context()), nullptr);
  HINTERNET find = nullptr;
  ASSERT_TRUE(client.recorder.waitUntil([&](const auto& notes) {
    for (const Note& n : notes)
      if (n.status == INTERNET_STATUS_HANDLE_CREATED && n.handle != conn) find = n.handle;
    return find != nullptr;
  }));
  closeAndExpectCancelled(client, find, [&](const auto& notes) {
    return hasStatus(notes, INTERNET_STATUS_RESPONSE_RECEIVED, 30);  // logon, then blocks of the listing
  });
  // The reply the server still owed the listing does not confuse the next request.
  ts::TempDir local;
  std::string target = winPath(local / "after.txt");
  Completion c = client.await([&] {
    return FtpGetFileA(conn, "/after.txt", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  EXPECT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(ts::readFile(local / "after.txt"), "still works");
}

// A server that sends a gibibyte slowly, so that a download of it is surely in flight when closed.
void serveSlowGibibyte(FaultServer& server) {
  server.putPatternFile("/huge.bin", kGiB);
  server.add(Fault::on("RETR").chunks(64 * 1024, milliseconds(2)));
}

// Starts downloading /huge.bin into local/huge.bin; the call only starts the request.
void startDownload(Client& client, HINTERNET conn, const ts::TempDir& local) {
  std::string target = winPath(local / "huge.bin");
  EXPECT_FALSE(FtpGetFileA(conn, "/huge.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                           client.recorder.context()));
}

TEST_F(Cancel, DuringAGibibyteDownloadKeepsTheOldFile) {
  FaultServer server;
  serveSlowGibibyte(server);
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  ts::TempDir local;
  ts::writeFile(local / "huge.bin", "the old copy");
  startDownload(client, conn, local);
  const size_t before = client.recorder.count(INTERNET_STATUS_RESPONSE_RECEIVED);
  closeAndExpectCancelled(client, conn, [&](const auto& notes) {
    return hasStatus(notes, INTERNET_STATUS_RESPONSE_RECEIVED, before + 10);
  });
  EXPECT_EQ(ts::readFile(local / "huge.bin"), "the old copy");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(local.path())) ++files;
  EXPECT_EQ(files, 1u) << "the partial download was left behind";
  EXPECT_LT(server.dataSent(), kGiB / 4);
}

TEST_F(Cancel, DuringAGibibyteUpload) {
  FaultServer server;
  server.add(Fault::on("STOR").chunks(16 * 1024, milliseconds(2)));
  ts::TempDir local;
  {
    // A sparse file: a gibibyte to read, nothing on disk.
    int fd = ::open((local / "huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kGiB)), 0);
    ::close(fd);
  }
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  std::string source = winPath(local / "huge.bin");
  EXPECT_FALSE(
      FtpPutFileA(conn, source.c_str(), "/huge.bin", FTP_TRANSFER_TYPE_BINARY, client.recorder.context()));
  const size_t before = client.recorder.count(INTERNET_STATUS_REQUEST_SENT);
  closeAndExpectCancelled(client, conn, [&](const auto& notes) {
    return hasStatus(notes, INTERNET_STATUS_REQUEST_SENT, before + 10);
  });
}

TEST_F(Cancel, ClosingTheRootEndsItsConnectionsFirst) {
  FaultServer server;
  serveSlowGibibyte(server);
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  ts::TempDir local;
  startDownload(client, conn, local);
  ASSERT_TRUE(client.recorder.waitUntil(
      [](const auto& notes) { return hasStatus(notes, INTERNET_STATUS_RESPONSE_RECEIVED, 20); }));
  EXPECT_TRUE(InternetCloseHandle(client.root));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  client.root = nullptr;
  ASSERT_TRUE(client.recorder.waitForClosing(conn, std::chrono::seconds(2)));
  auto notes = client.recorder.notes();
  EXPECT_EQ(notes.back().status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
  auto complete = client.recorder.complete(2);
  ASSERT_TRUE(complete);
  EXPECT_EQ(complete->result.dwError, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_FALSE(std::filesystem::exists(local / "huge.bin"));
}

TEST_F(Cancel, AnotherThreadMayCloseABlockedSynchronousConnect) {
  FaultServer server;
  server.add(Fault::on("GREETING").after(milliseconds(5000)).replying("220 Late."));
  HINTERNET root = InternetOpenA("sync", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  Recorder recorder;
  InternetSetStatusCallback(root, &Recorder::callback);
  std::thread closer([&] {
    HINTERNET created = nullptr;
    recorder.waitUntil([&](const auto& notes) {
      for (const Note& n : notes)
        if (n.status == INTERNET_STATUS_CONNECTED_TO_SERVER) created = n.handle;
      return created != nullptr;
    });
    InternetCloseHandle(created);
  });
  const auto start = Clock::now();
  HINTERNET conn = InternetConnectA(root, server.address().c_str(), 0, "ann", "pw", INTERNET_SERVICE_FTP, 0,
                                    recorder.context());
  const DWORD error = GetLastError();
  closer.join();
  EXPECT_EQ(conn, nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  // The synchronous session called back on this very thread.
  for (const Note& n : recorder.notes()) EXPECT_EQ(n.thread, std::this_thread::get_id());
  EXPECT_EQ(recorder.notes().back().status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
  EXPECT_TRUE(InternetCloseHandle(root));
}

}  // namespace
