// The notifications of every call in asynchronous mode, pinned against the scripted server: their
// order and data, the commands sent, and what a callback may do.
#include <gtest/gtest.h>

#include <numeric>

#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"

namespace ts = testsupport;
using namespace inettest;
using faultftp::FaultServer;

namespace {

// The statuses of the notes for handle h, from the first note at or after `from`.
std::vector<DWORD> statuses(const std::vector<Note>& notes, HINTERNET h, size_t from = 0) {
  std::vector<DWORD> out;
  for (size_t i = from; i < notes.size(); ++i)
    if (notes[i].handle == h) out.push_back(notes[i].status);
  return out;
}

constexpr DWORD kCommand[] = {INTERNET_STATUS_SENDING_REQUEST, INTERNET_STATUS_REQUEST_SENT,
                              INTERNET_STATUS_RECEIVING_RESPONSE, INTERNET_STATUS_RESPONSE_RECEIVED};

void appendCommand(std::vector<DWORD>& v, int times = 1) {
  for (int i = 0; i < times; ++i) v.insert(v.end(), std::begin(kCommand), std::end(kCommand));
}

class Transcript : public testing::Test {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(5), std::chrono::seconds(5), std::chrono::seconds(5)});
  }
  void TearDown() override {
    inet::resetTimeouts();
    inet::resetKeeping();
  }
};

TEST_F(Transcript, ConnectAnnouncesTheHandleThenNameConnectionAndLogon) {
  FaultServer server;
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  auto notes = client.recorder.notes();

  std::vector<DWORD> expected = {INTERNET_STATUS_HANDLE_CREATED,      INTERNET_STATUS_RESOLVING_NAME,
                                 INTERNET_STATUS_NAME_RESOLVED,       INTERNET_STATUS_CONNECTING_TO_SERVER,
                                 INTERNET_STATUS_CONNECTED_TO_SERVER, INTERNET_STATUS_RECEIVING_RESPONSE,
                                 INTERNET_STATUS_RESPONSE_RECEIVED};
  appendCommand(expected, 4);  // USER, PASS, FEAT, OPTS UTF8 ON
  expected.push_back(INTERNET_STATUS_REQUEST_COMPLETE);
  EXPECT_EQ(statuses(notes, conn), expected) << describe(notes);

  EXPECT_EQ(notes[0].result.dwResult, reinterpret_cast<DWORD_PTR>(conn));
  EXPECT_EQ(notes[1].text, "127.0.0.1");
  EXPECT_EQ(notes[6].count, std::string("220 Fault server ready.\r\n").size());
  EXPECT_EQ(notes[8].count, std::string("USER ann\r\n").size());
  EXPECT_EQ(notes.back().result.dwResult, reinterpret_cast<DWORD_PTR>(conn));
  for (const Note& n : notes) EXPECT_EQ(n.context, client.recorder.context());
  EXPECT_EQ(server.commands(), (std::vector<std::string>{"USER ann", "PASS secret", "FEAT", "OPTS UTF8 ON"}));
}

TEST_F(Transcript, DownloadSendsThreeCommandsThenAnnouncesEveryBlock) {
  FaultServer server;
  const std::string bytes = ts::randomBytes(300000);
  server.putFile("/pub/big.bin", bytes);
  // Three writes with pauses between them: at least three blocks reach the client.
  server.add(faultftp::Fault::on("RETR").chunks(100000, std::chrono::milliseconds(50)));
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  const size_t from = client.recorder.notes().size();
  const size_t commandsBefore = server.commands().size();

  ts::TempDir local;
  std::string target = winPath(local / "big.bin");
  Completion c = client.await([&] {
    return FtpGetFileA(conn, "/pub/big.bin", target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(c.result, static_cast<DWORD_PTR>(TRUE));
  EXPECT_EQ(ts::readFile(local / "big.bin"), bytes);

  auto commands = server.commands();
  EXPECT_EQ(std::vector<std::string>(commands.begin() + commandsBefore, commands.end()),
            (std::vector<std::string>{"TYPE I", "EPSV", "RETR /pub/big.bin"}));

  auto notes = client.recorder.notes();
  std::vector<Note> mine(notes.begin() + from, notes.end());
  std::vector<DWORD> head;
  appendCommand(head, 3);
  ASSERT_GT(mine.size(), head.size() + 4);
  const std::vector<DWORD> seen = statuses(mine, conn);
  EXPECT_EQ(seen.size(), mine.size());
  EXPECT_EQ(std::vector<DWORD>(seen.begin(), seen.begin() + head.size()), head);
  // Then the blocks, the final reply and the completion, last.
  size_t blocks = 0, sum = 0, i = head.size();
  for (; i < mine.size() && mine[i].status == INTERNET_STATUS_RESPONSE_RECEIVED; ++i, ++blocks)
    sum += mine[i].count;
  EXPECT_GE(blocks, 3u) << describe(mine);
  EXPECT_EQ(sum, bytes.size());
  ASSERT_EQ(mine.size() - i, 3u) << describe(mine);
  EXPECT_EQ(mine[i].status, static_cast<DWORD>(INTERNET_STATUS_RECEIVING_RESPONSE));
  EXPECT_EQ(mine[i + 1].count, std::string("226 Transfer complete.\r\n").size());
  EXPECT_EQ(mine[i + 2].status, static_cast<DWORD>(INTERNET_STATUS_REQUEST_COMPLETE));
}

TEST_F(Transcript, UploadAnnouncesEveryBlockSent) {
  FaultServer server;
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  ts::TempDir local;
  const std::string bytes = ts::randomBytes(600000, 3);
  ts::writeFile(local / "up.bin", bytes);
  std::string source = winPath(local / "up.bin");
  const size_t from = client.recorder.notes().size();
  Completion c = client.await([&] {
    return FtpPutFileA(conn, source.c_str(), "up.bin", FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(server.file("/up.bin"), bytes);

  auto notes = client.recorder.notes();
  std::vector<Note> mine(notes.begin() + from, notes.end());
  std::vector<DWORD> head;
  appendCommand(head, 3);  // TYPE, EPSV, STOR
  ASSERT_GT(mine.size(), head.size());
  const std::vector<DWORD> seen = statuses(mine, conn);
  EXPECT_EQ(std::vector<DWORD>(seen.begin(), seen.begin() + head.size()), head);
  size_t sum = 0, blocks = 0;
  for (size_t i = head.size(); i < mine.size() && mine[i].status == INTERNET_STATUS_REQUEST_SENT;
       ++i, ++blocks) {
    sum += mine[i].count;
    EXPECT_LE(mine[i].count, 256u * 1024);
  }
  EXPECT_EQ(sum, bytes.size());
  EXPECT_GE(blocks, 3u);
  EXPECT_EQ(mine.back().status, static_cast<DWORD>(INTERNET_STATUS_REQUEST_COMPLETE));
}

TEST_F(Transcript, FindAnnouncesItsHandleFirstAndCompletesWithIt) {
  FaultServer server;
  server.putFile("/a.txt", "aaa");
  server.makeDirectory("/dir");
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  const size_t from = client.recorder.notes().size();
  WIN32_FIND_DATAA data{};
  Completion c = client.await(
      [&] { return FtpFindFirstFileA(conn, "*.*", &data, 0, client.recorder.context()) != nullptr; });
  ASSERT_EQ(c.error, 0u);
  EXPECT_FALSE(c.returned);
  EXPECT_EQ(c.callError, static_cast<DWORD>(ERROR_IO_PENDING));
  auto notes = client.recorder.notes();
  ASSERT_GT(notes.size(), from);
  const Note& created = notes[from];
  EXPECT_EQ(created.status, static_cast<DWORD>(INTERNET_STATUS_HANDLE_CREATED));
  HINTERNET find = reinterpret_cast<HINTERNET>(created.result.dwResult);
  EXPECT_EQ(created.handle, find);
  EXPECT_EQ(c.result, reinterpret_cast<DWORD_PTR>(find));
  EXPECT_EQ(server.verbs().back(), "LIST");
  EXPECT_STREQ(data.cFileName, "a.txt");
  EXPECT_TRUE(InternetFindNextFileA(find, &data));
  EXPECT_STREQ(data.cFileName, "dir");
  EXPECT_FALSE(InternetFindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  // One listing at a time per connection.
  EXPECT_EQ(FtpFindFirstFileA(conn, "*.*", &data, 0, client.recorder.context()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FTP_TRANSFER_IN_PROGRESS));
  EXPECT_TRUE(InternetCloseHandle(find));
  EXPECT_TRUE(client.recorder.waitForClosing(find));
}

TEST_F(Transcript, FileCommandsUseTheConnectionContext) {
  FaultServer server;
  server.putFile("/old.txt", "x");
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  const size_t commandsBefore = server.commands().size();
  const size_t from = client.recorder.notes().size();
  for (auto call :
       std::vector<std::function<BOOL()>>{[&] { return FtpRenameFileA(conn, "/old.txt", "/new.txt"); },
                                          [&] { return FtpCreateDirectoryA(conn, "/made"); },
                                          [&] { return FtpRemoveDirectoryA(conn, "/made"); },
                                          [&] { return FtpDeleteFileA(conn, "/new.txt"); }}) {
    Completion c = client.await(call);
    EXPECT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(c.result, static_cast<DWORD_PTR>(TRUE));
  }
  auto commands = server.commands();
  EXPECT_EQ(std::vector<std::string>(commands.begin() + commandsBefore, commands.end()),
            (std::vector<std::string>{"RNFR /old.txt", "RNTO /new.txt", "MKD /made", "RMD /made",
                                      "DELE /new.txt"}));
  EXPECT_FALSE(server.exists("/new.txt"));
  for (const Note& n : client.recorder.notes()) EXPECT_EQ(n.handle, conn);
  // One exchange per command, then the completion: a rename takes two commands, the others one.
  std::vector<DWORD> expected;
  for (int commandsOfCall : {2, 1, 1, 1}) {
    appendCommand(expected, commandsOfCall);
    expected.push_back(INTERNET_STATUS_REQUEST_COMPLETE);
  }
  EXPECT_EQ(statuses(client.recorder.notes(), conn, from), expected);
}

// With keeping on the close says the same, but the goodbye waits (keeping_test.cpp).
TEST_F(Transcript, ClosingSaysGoodbyeThenClosesTheHandleLast) {
  inet::Keeping off;
  off.on = false;
  inet::setKeeping(off);
  FaultServer server;
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  const size_t from = client.recorder.notes().size();
  EXPECT_TRUE(InternetCloseHandle(conn));
  EXPECT_EQ(GetLastError(), 0u);
  ASSERT_TRUE(client.recorder.waitForClosing(conn));
  auto notes = client.recorder.notes();
  std::vector<DWORD> expected = {INTERNET_STATUS_CLOSING_CONNECTION};
  appendCommand(expected);
  expected.push_back(INTERNET_STATUS_CONNECTION_CLOSED);
  expected.push_back(INTERNET_STATUS_HANDLE_CLOSING);
  EXPECT_EQ(statuses(notes, conn, from), expected) << describe(notes);
  EXPECT_EQ(notes.back().closing, conn);
  EXPECT_EQ(server.verbs().back(), "QUIT");
  // A closed handle is gone for good.
  EXPECT_FALSE(InternetCloseHandle(conn));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Transcript, CallbacksOfASessionRunOneAtATimeOnOneThread) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(500000));
  server.add(faultftp::Fault::on("RETR").chunks(20000));
  Client client;
  client.recorder.inside = [](const Note&) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  HINTERNET conn = client.connect(server.address(), "ann", "secret");
  ASSERT_NE(conn, nullptr);
  ts::TempDir local;
  std::string target = winPath(local / "f.bin");
  Completion c = client.await([&] {
    return FtpGetFileA(conn, "/f.bin", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  EXPECT_EQ(c.error, 0u);
  EXPECT_EQ(client.recorder.overlaps(), 0);
  auto notes = client.recorder.notes();
  for (const Note& n : notes) EXPECT_EQ(n.thread, notes.front().thread);
  EXPECT_NE(notes.front().thread, std::this_thread::get_id());
}

TEST_F(Transcript, RequestMadeInsideACallbackStartsAfterItReturns) {
  FaultServer server;
  server.putFile("/f.txt", "data");
  Client client;
  ts::TempDir local;
  std::string target = winPath(local / "f.txt");
  std::atomic<bool> issued{false};
  std::chrono::steady_clock::time_point returned;
  HINTERNET conn = nullptr;
  client.recorder.inside = [&](const Note& n) {
    if (n.status != INTERNET_STATUS_REQUEST_COMPLETE || issued.exchange(true)) return;
    conn = reinterpret_cast<HINTERNET>(n.result.dwResult);
    EXPECT_FALSE(FtpGetFileA(conn, "/f.txt", target.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY, n.context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    returned = std::chrono::steady_clock::now();
  };
  ASSERT_NE(InternetConnectA(client.root, server.address().c_str(), 0, "ann", "pw", INTERNET_SERVICE_FTP,
                             INTERNET_FLAG_PASSIVE, client.recorder.context()),
            nullptr);
  auto done = client.recorder.complete(2);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result.dwError, 0u);
  auto verbs = server.verbs();
  auto arrivals = server.arrivals();
  auto type = std::find(verbs.begin(), verbs.end(), "TYPE");
  ASSERT_NE(type, verbs.end());
  EXPECT_GE(arrivals[type - verbs.begin()], returned);
}

TEST_F(Transcript, CallbackMayCloseItsSessionAndOpenAnother) {
  FaultServer server;
  Client client;
  Recorder second;
  // Written by the callback, read here: the call's result may be stored after its completion came.
  std::atomic<HINTERNET> newRoot{nullptr}, newConn{nullptr}, oldConn{nullptr};
  client.recorder.inside = [&](const Note& n) {
    if (n.status != INTERNET_STATUS_REQUEST_COMPLETE || newRoot) return;
    oldConn = n.handle;
    EXPECT_TRUE(InternetCloseHandle(client.root));
    newRoot = InternetOpenA("again", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    InternetSetStatusCallback(newRoot, &Recorder::callback);
    newConn = InternetConnectA(newRoot, server.address().c_str(), 0, "bob", "pw", INTERNET_SERVICE_FTP,
                               INTERNET_FLAG_PASSIVE, second.context());
  };
  ASSERT_NE(InternetConnectA(client.root, server.address().c_str(), 0, "ann", "pw", INTERNET_SERVICE_FTP,
                             INTERNET_FLAG_PASSIVE, client.recorder.context()),
            nullptr);
  auto done = second.complete(1);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result.dwError, 0u);
  for (int i = 0; i < 500 && !newConn.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(done->result.dwResult, reinterpret_cast<DWORD_PTR>(newConn.load()));
  EXPECT_TRUE(client.recorder.waitForClosing(oldConn));
  EXPECT_TRUE(InternetCloseHandle(newRoot));
  EXPECT_TRUE(second.waitForClosing(newConn));
  client.root = nullptr;  // closed by the callback
}

}  // namespace
