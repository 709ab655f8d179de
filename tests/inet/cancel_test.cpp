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

// Every step of every operation, closed from another thread while the server holds back its reply to
// that step, by closing the root, the connection or the find handle: each request completes exactly
// once, each handle gets exactly one HANDLE_CLOSING and nothing after it, and no thread stays behind.
// Run under ThreadSanitizer, it checks the handle and request lifecycle for races.
enum class Closes { Root, Connection, Find };

struct Operation {
  const char* name;
  std::vector<const char*> steps;  // the commands it sends, in order
  bool find = false;               // reports to a find handle of its own
  std::function<void(Client&, HINTERNET, const std::string& local)> start;  // on a connected handle
};

TEST_F(Cancel, ClosingAtEveryStepOfEveryOperation) {
  ts::TempDir local;
  ts::writeFile(local / "up.bin", std::string(5000, 'u'));
  const auto context = [](Client& c) { return c.recorder.context(); };
  const std::vector<Operation> operations = {
      {"connect", {"USER", "PASS", "FEAT"}, false, nullptr},
      {"get",
       {"TYPE", "EPSV", "RETR"},
       false,
       [&](Client& c, HINTERNET conn, const std::string& dir) {
         FtpGetFileA(conn, "/f.bin", (dir + "\\got.bin").c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                     context(c));
       }},
      {"put",
       {"TYPE", "EPSV", "STOR"},
       false,
       [&](Client& c, HINTERNET conn, const std::string& dir) {
         FtpPutFileA(conn, (dir + "\\up.bin").c_str(), "/up.bin", FTP_TRANSFER_TYPE_BINARY, context(c));
       }},
      {"list",
       {"TYPE", "EPSV", "LIST"},
       true,
       [&](Client& c, HINTERNET conn, const std::string&) {
         static thread_local WIN32_FIND_DATAA data;
         FtpFindFirstFileA(conn, "*.*", &data, 0, context(c));
       }},
      {"look up",
       {"TYPE", "SIZE", "MDTM"},
       true,
       [&](Client& c, HINTERNET conn, const std::string&) {
         static thread_local WIN32_FIND_DATAA data;
         FtpFindFirstFileA(conn, "/f.bin", &data, 0, context(c));
       }},
      {"rename",
       {"RNFR", "RNTO"},
       false,
       [](Client&, HINTERNET conn, const std::string&) { FtpRenameFileA(conn, "/f.bin", "/g.bin"); }},
      {"delete",
       {"DELE"},
       false,
       [](Client&, HINTERNET conn, const std::string&) { FtpDeleteFileA(conn, "/f.bin"); }},
      {"make directory",
       {"MKD"},
       false,
       [](Client&, HINTERNET conn, const std::string&) { FtpCreateDirectoryA(conn, "/d"); }},
      {"remove directory",
       {"RMD"},
       false,
       [](Client&, HINTERNET conn, const std::string&) { FtpRemoveDirectoryA(conn, "/d"); }},
  };
  const std::string dir = winPath(local.path());
  for (const Operation& op : operations) {
    for (const char* step : op.steps) {
      for (Closes what : {Closes::Root, Closes::Connection, Closes::Find}) {
        if (what == Closes::Find && !op.find) continue;
        SCOPED_TRACE(std::string(op.name) + " at " + step + " closing the " +
                     (what == Closes::Root         ? "root"
                      : what == Closes::Connection ? "connection"
                                                   : "find handle"));
        FaultServer server;
        server.putFile("/f.bin", std::string(5000, 'f'));
        server.makeDirectory("/d");
        server.add(Fault::on(step).after(milliseconds(400)));
        Client client;
        HINTERNET conn = nullptr;
        if (op.start) {
          conn = client.connect(server.address(), "ann", "pw");
          ASSERT_NE(conn, nullptr);
          op.start(client, conn, dir);
        } else {
          conn = InternetConnectA(client.root, server.address().c_str(), 0, "ann", "pw", INTERNET_SERVICE_FTP,
                                  INTERNET_FLAG_PASSIVE, client.recorder.context());
          ASSERT_NE(conn, nullptr);
        }
        ASSERT_TRUE(server.waitFor(step));
        HINTERNET find = nullptr;
        if (op.find) {
          ASSERT_TRUE(client.recorder.waitUntil([&](const std::vector<Note>& notes) {
            for (const Note& n : notes)
              if (n.status == INTERNET_STATUS_HANDLE_CREATED && n.handle != conn) find = n.handle;
            return find != nullptr;
          }));
        }
        HINTERNET closed = what == Closes::Root ? client.root : what == Closes::Connection ? conn : find;
        std::thread closer([closed] { InternetCloseHandle(closed); });
        closer.join();
        if (what == Closes::Root) client.root = nullptr;
        // A root has no context, so no notifications of its own.
        std::vector<HINTERNET> gone;
        if (what != Closes::Root) gone.push_back(closed);
        if (what != Closes::Find && find) gone.push_back(find);
        if (what == Closes::Root) gone.push_back(conn);
        for (HINTERNET h : gone) ASSERT_TRUE(client.recorder.waitForClosing(h, std::chrono::seconds(5)));

        const std::vector<Note> notes = client.recorder.notes();
        HINTERNET reporter = op.find ? find : conn;
        size_t completes = 0;
        DWORD lastError = 0;
        for (const Note& n : notes) {
          if (n.handle == reporter && n.status == INTERNET_STATUS_REQUEST_COMPLETE && n.context) {
            ++completes;
            lastError = n.result.dwError;
          }
        }
        EXPECT_EQ(lastError, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
        // The connect's completion, and the operation's own.
        EXPECT_EQ(completes, op.start && !op.find ? 2u : 1u) << describe(notes);
        for (HINTERNET h : gone) {
          auto last =
              std::find_if(notes.rbegin(), notes.rend(), [h](const Note& n) { return n.handle == h; });
          ASSERT_NE(last, notes.rend());
          EXPECT_EQ(last->status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING)) << describe(notes);
          EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                                  [h](const Note& n) {
                                    return n.handle == h && n.status == INTERNET_STATUS_HANDLE_CLOSING;
                                  }),
                    1);
        }
      }
    }
  }
}
