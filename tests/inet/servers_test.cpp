// The layer against real servers, pyftpdlib and vsftpd in passive and active mode, proftpd and
// pure-ftpd passive: logon, listings, transfers checked byte for byte, ASCII line ends, the file
// commands, lookups, IPv6; and symbolic links as each of them shows them.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "client.h"
#include "ftp_servers.h"

namespace ts = testsupport;
using namespace inettest;

namespace {

struct Setup {
  std::string server;  // a kind of testsupport::serverKinds()
  bool passive;
};

class Servers : public testing::TestWithParam<Setup> {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)});
  }
  void TearDown() override { inet::resetTimeouts(); }
  ts::StartedServer start(ts::ServerOptions options = {}) {
    return ts::startServer(GetParam().server, options);
  }
  DWORD flags() const { return GetParam().passive ? INTERNET_FLAG_PASSIVE : 0; }
  HINTERNET connect(Client& client, const ts::FtpServer& server) {
    HINTERNET conn = client.connect(server.address(), server.user(), server.password(), flags());
    EXPECT_NE(conn, nullptr);
    return conn;
  }
  Completion get(Client& client, HINTERNET conn, const std::string& remote,
                 const std::filesystem::path& local, DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    std::string target = winPath(local);
    return client.await([&] {
      return FtpGetFileA(conn, remote.c_str(), target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL, type,
                         client.recorder.context());
    });
  }
  Completion put(Client& client, HINTERNET conn, const std::filesystem::path& local,
                 const std::string& remote, DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    std::string source = winPath(local);
    return client.await(
        [&] { return FtpPutFileA(conn, source.c_str(), remote.c_str(), type, client.recorder.context()); });
  }
  ts::TempDir local;
};

std::map<std::string, WIN32_FIND_DATAA> listAll(Client& client, HINTERNET conn, const char* pattern) {
  std::map<std::string, WIN32_FIND_DATAA> out;
  WIN32_FIND_DATAA data{};
  Completion c = client.await(
      [&] { return FtpFindFirstFileA(conn, pattern, &data, 0, client.recorder.context()) != nullptr; });
  if (c.error != 0) return out;
  HINTERNET find = reinterpret_cast<HINTERNET>(c.result);
  do out[data.cFileName] = data;
  while (InternetFindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  InternetCloseHandle(find);
  return out;
}

TEST_P(Servers, LogonWithGoodAndBadPassword) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  Client client;
  EXPECT_NE(client.connect(server->address(), server->user(), server->password(), flags()), nullptr);
  if (GetParam().server == "pure-ftpd") return;  // it waits 4 to 5 s before refusing a password
  Completion c;
  EXPECT_EQ(client.connect(server->address(), server->user(), "not the password", flags(), &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD)) << server->log();
  EXPECT_EQ(c.responseCode, 530u);
  EXPECT_EQ(c.response.substr(0, 4), "530 ");
}

TEST_P(Servers, ListsFilesDirectoriesBlanksAndNonAsciiNames) {
  for (bool mlsd : {true, false}) {
    // vsftpd always lists with LIST, pure-ftpd always offers MLSD.
    if (!mlsd && (GetParam().server == "vsftpd" || GetParam().server == "pure-ftpd")) break;
    ts::ServerOptions options;
    options.mlsd = mlsd;
    auto server = start(options);
    REQUIRE_FTP_SERVER(server);
    std::map<std::string, std::string> files;  // top level
    std::set<std::string> directories;
    for (const auto& e : ts::sampleTree()) {
      if (e.path.back() == '/') {
        server->makeDirectory(e.path);
        if (e.path.find('/') == e.path.size() - 1) directories.insert(e.path.substr(0, e.path.size() - 1));
      } else {
        server->put(e.path, e.bytes);
        if (e.path.find('/') == std::string::npos) files[e.path] = e.bytes;
      }
    }
    Client client;
    HINTERNET conn = connect(client, *server);
    ASSERT_NE(conn, nullptr);
    auto entries = listAll(client, conn, "*.*");
    for (const auto& [name, bytes] : files) {
      if (name[0] == '.' && !entries.count(name)) continue;  // some servers hide dot-files
      ASSERT_TRUE(entries.count(name)) << name;
      EXPECT_EQ(entries[name].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) << name;
      EXPECT_EQ(entries[name].nFileSizeLow, bytes.size()) << name;
      EXPECT_NE(entries[name].ftLastWriteTime.dwHighDateTime, 0u) << name;
    }
    for (const auto& name : directories) {
      ASSERT_TRUE(entries.count(name)) << name;
      EXPECT_EQ(entries[name].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) << name;
    }
    EXPECT_LE(entries.size(), files.size() + directories.size());
    // A subdirectory the way the tree lists one, and the root with the doubled slash.
    auto sub = listAll(client, conn, "/sub/*.*");
    EXPECT_EQ(sub.size(), 2u);
    EXPECT_EQ(sub["deeper"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(listAll(client, conn, "//*.*").size(), entries.size());
    // A mask, and an empty directory.
    EXPECT_EQ(listAll(client, conn, "*.bin").size(), 5u);
    WIN32_FIND_DATAA data;
    Completion none = client.await([&] {
      return FtpFindFirstFileA(conn, "/empty dir/*.*", &data, 0, client.recorder.context()) != nullptr;
    });
    EXPECT_EQ(none.error, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  }
}

TEST_P(Servers, BinaryTransfersAreByteExact) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  Client client;
  HINTERNET conn = connect(client, *server);
  ASSERT_NE(conn, nullptr);
  for (size_t size : {size_t(0), size_t(1), size_t(65537), size_t(3u << 20) + 3}) {
    SCOPED_TRACE(size);
    const std::string bytes = ts::randomBytes(size, static_cast<uint32_t>(size));
    server->put("down.bin", bytes);
    Completion c = get(client, conn, "/down.bin", local / "down.bin");
    ASSERT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(ts::readFile(local / "down.bin"), bytes);
    ts::writeFile(local / "up.bin", bytes);
    c = put(client, conn, local / "up.bin", "/up dir name.bin");
    ASSERT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(server->read("up dir name.bin"), bytes);
  }
}

TEST_P(Servers, AsciiTransfersConvertLineEnds) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  std::string text;  // long enough for line ends to fall on block boundaries
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + (i % 3 ? "\n" : "\n\n");
  server->put("unix.txt", text);
  Client client;
  HINTERNET conn = connect(client, *server);
  ASSERT_NE(conn, nullptr);
  // The server sends CRLF; the local file gets LF again.
  Completion c = get(client, conn, "/unix.txt", local / "ascii.txt", FTP_TRANSFER_TYPE_ASCII);
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(ts::readFile(local / "ascii.txt"), text);
  // Bare LFs go out as CRLF, CRLFs stay; the server stores its own LF.
  ts::writeFile(local / "mixed.txt", "one\ntwo\r\nthree\n");
  c = put(client, conn, local / "mixed.txt", "/mixed.txt", FTP_TRANSFER_TYPE_ASCII);
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(server->read("mixed.txt"), "one\ntwo\nthree\n");
  // Binary moves the same bytes untouched.
  c = get(client, conn, "/mixed.txt", local / "binary.txt");
  EXPECT_EQ(ts::readFile(local / "binary.txt"), "one\ntwo\nthree\n");
}

TEST_P(Servers, RenameDeleteCreateAndRemoveDirectory) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  server->put("old name.txt", "x");
  server->put("full/inside.txt", "y");
  Client client;
  HINTERNET conn = connect(client, *server);
  ASSERT_NE(conn, nullptr);
  auto ok = [&](auto call) {
    Completion c = client.await(call);
    EXPECT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(c.result, static_cast<DWORD_PTR>(TRUE));
  };
  ok([&] { return FtpRenameFileA(conn, "/old name.txt", "/new name.txt"); });
  ok([&] { return FtpCreateDirectoryA(conn, "/made dir"); });
  ok([&] { return FtpRenameFileA(conn, "/made dir", "/moved dir"); });
  EXPECT_TRUE(server->exists("new name.txt"));
  EXPECT_FALSE(server->exists("old name.txt"));
  EXPECT_TRUE(server->exists("moved dir"));
  ok([&] { return FtpDeleteFileA(conn, "/new name.txt"); });
  ok([&] { return FtpRemoveDirectoryA(conn, "/moved dir"); });
  EXPECT_FALSE(server->exists("new name.txt"));
  EXPECT_FALSE(server->exists("moved dir"));
  // The server decides: a directory with files in it stays.
  Completion refused = client.await([&] { return FtpRemoveDirectoryA(conn, "/full"); });
  EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(refused.responseCode, 550u);
  EXPECT_TRUE(server->exists("full/inside.txt"));
}

TEST_P(Servers, SynchronousLookupsTheWayTheBatchChecksFiles) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/!how to upload.txt", std::string(4321, 'h'));
  server->put("incoming/plain.txt", "p");
  HINTERNET root = InternetOpenA("check", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
  ASSERT_NE(root, nullptr);
  HINTERNET conn = InternetConnectA(root, server->address().c_str(), 0, server->user().c_str(),
                                    server->password().c_str(), INTERNET_SERVICE_FTP, flags(), 0);
  ASSERT_NE(conn, nullptr) << GetLastError();
  WIN32_FIND_DATAA data{};
  for (const char* path : {"\"/incoming/!how to upload.txt\"", "/incoming/plain.txt"}) {
    HINTERNET found = FtpFindFirstFileA(conn, path, &data, 0, 0);
    ASSERT_NE(found, nullptr) << path << " " << GetLastError();
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(std::string(path).find(data.cFileName) != std::string::npos, true);
    InternetCloseHandle(found);
  }
  HINTERNET open = FtpFindFirstFileA(conn, "\"/incoming/!how to upload.txt\"", &data, 0, 0);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(data.nFileSizeLow, 4321u);
  EXPECT_EQ(FtpFindFirstFileA(conn, "/incoming/plain.txt", &data, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FTP_TRANSFER_IN_PROGRESS));  // one find at a time
  InternetCloseHandle(open);
  HINTERNET dir = FtpFindFirstFileA(conn, "/incoming/", &data, 0, 0);
  ASSERT_NE(dir, nullptr);
  EXPECT_STREQ(data.cFileName, "incoming");
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  InternetCloseHandle(dir);
  EXPECT_EQ(FtpFindFirstFileA(conn, "/incoming/missing.txt", &data, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  // The lookups left the connection where it was.
  HINTERNET list = FtpFindFirstFileA(conn, "*.*", &data, 0, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(data.cFileName, "incoming");
  InternetCloseHandle(list);
  EXPECT_TRUE(InternetCloseHandle(root));
}

TEST_P(Servers, Ipv6LoopbackAndNamesThatNeedResolving) {
  ts::ServerOptions options;
  options.ipv6 = true;
  auto server = start(options);
  REQUIRE_FTP_SERVER(server);
  if (server->address6().empty()) GTEST_SKIP() << "the server does not listen on ::1";
  server->put("six.bin", ts::randomBytes(100000, 6));
  Client client;
  for (const std::string& name : {server->address6(), "localhost:" + std::to_string(server->port())}) {
    SCOPED_TRACE(name);
    HINTERNET conn = client.connect(name, server->user(), server->password(), flags());
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(listAll(client, conn, "*").size(), 1u);
    Completion c = get(client, conn, "/six.bin", local / "six.bin");
    EXPECT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(ts::readFile(local / "six.bin"), ts::randomBytes(100000, 6));
  }
}

// Symbolic links as each server shows them: "l" lines in LIST (vsftpd), MLSD facts that name a link
// and keep the link's own size (proftpd, pure-ftpd), or links the server resolves itself (pyftpdlib).
class Links : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    inet::setTimeouts({std::chrono::seconds(10), std::chrono::seconds(10), std::chrono::seconds(10)});
  }
  void TearDown() override { inet::resetTimeouts(); }
  ts::TempDir local;
};

// The commands a listing sent, announced ones included (a TYPE in force is announced, not sent).
std::map<std::string, WIN32_FIND_DATAA> listCounting(Client& client, HINTERNET conn, const char* pattern,
                                                     size_t& commands) {
  const size_t from = client.recorder.notes().size();
  auto entries = listAll(client, conn, pattern);
  const auto notes = client.recorder.notes();
  commands = 0;
  for (size_t i = from; i < notes.size(); ++i) commands += notes[i].status == INTERNET_STATUS_SENDING_REQUEST;
  return entries;
}

TEST_P(Links, ShowAsWhatTheyLeadToWithOneProbeEach) {
  auto server = ts::startServer(GetParam());
  REQUIRE_FTP_SERVER(server);
  const std::string bytes = ts::randomBytes(9000, 9);
  server->put("files/target.bin", bytes);
  server->put("plain/only.txt", "x");
  server->put("sub/inner.txt", "inner");
  server->link("files/dir link", "../sub");
  server->link("files/file link", "target.bin");
  server->link("files/dangling", "nowhere");
  server->link("sub/up", "..");
  Client client;
  HINTERNET conn = client.connect(server->address(), server->user(), server->password());
  ASSERT_NE(conn, nullptr);

  size_t plainCommands = 0, commands = 0;
  EXPECT_EQ(listCounting(client, conn, "/plain/*.*", plainCommands).size(), 1u);
  auto files = listCounting(client, conn, "/files/*.*", commands);
  EXPECT_EQ(files["dir link"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(files["dir link"].nFileSizeLow, 0u);
  EXPECT_EQ(files["file link"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(files["file link"].nFileSizeLow, 9000u);
  const bool danglingListed = files.count("dangling") > 0;  // proftpd and pyftpdlib leave it out
  if (danglingListed) {
    EXPECT_EQ(files["dangling"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(files["dangling"].nFileSizeLow, 0u) << "nothing there to fetch";
  }
  // Where the listing says what a link is, nothing more is sent; elsewhere one probe per link: SIZE for
  // the file, SIZE, CWD and back for the folder, SIZE and CWD for the dangling one, and at most one
  // TYPE I and one PWD for the whole listing.
  const size_t extra = commands - plainCommands;
  if (GetParam() == "pyftpdlib")
    EXPECT_EQ(extra, 0u);
  else
    EXPECT_LE(extra, 2u + 1u + 3u + (danglingListed ? 2u : 0u)) << server->log();
  // Refused probes are answers: the connection is kept for the next command as after any listing.
  const bool keeping = inet::currentKeeping().on;
  EXPECT_TRUE(InternetCloseHandle(conn));
  if (keeping) {
    EXPECT_EQ(inet::keptConnections(), 1);
  }

  conn = client.connect(server->address(), server->user(), server->password());
  ASSERT_NE(conn, nullptr);
  // The folder link opens on what is inside; a link back up is a folder too, and harmless.
  auto inside = listAll(client, conn, "/files/dir link/*.*");
  EXPECT_EQ(inside.size(), 2u);
  EXPECT_EQ(inside["inner.txt"].nFileSizeLow, 5u);
  EXPECT_EQ(inside["up"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(listAll(client, conn, "/files/dir link/up/*.*").count("files"), 1u);

  // Lookups, the way the batch checks files: the target's size, a folder, and nothing at a dangling link.
  auto lookUp = [&](const char* path, WIN32_FIND_DATAA& data) {
    Completion c = client.await(
        [&] { return FtpFindFirstFileA(conn, path, &data, 0, client.recorder.context()) != nullptr; });
    if (c.error == 0) InternetCloseHandle(reinterpret_cast<HINTERNET>(c.result));
    return c.error;
  };
  WIN32_FIND_DATAA data{};
  EXPECT_EQ(lookUp("/files/file link", data), 0u);
  EXPECT_EQ(data.nFileSizeLow, 9000u);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(lookUp("/files/dir link", data), 0u);
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(lookUp("/files/dangling", data), static_cast<DWORD>(ERROR_NO_MORE_FILES));

  // The dangling link cannot be fetched, and the server says why; the probes left the connection in its
  // folder, so a relative path still finds the file behind the other link.
  const std::string target = winPath(local / "dangling");
  Completion refused = client.await([&] {
    return FtpGetFileA(conn, "/files/dangling", target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_GE(refused.responseCode, 400u) << refused.response;
  EXPECT_FALSE(std::filesystem::exists(local / "dangling"));
  const std::string copy = winPath(local / "copy.bin");
  Completion got = client.await([&] {
    return FtpGetFileA(conn, "files/file link", copy.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  EXPECT_EQ(got.error, 0u) << got.response;
  EXPECT_TRUE(ts::readFile(local / "copy.bin") == bytes);
}

INSTANTIATE_TEST_SUITE_P(Inet, Links, testing::ValuesIn(ts::serverKinds()),
                         [](const auto& info) { return ts::testNameOf(info.param); });

INSTANTIATE_TEST_SUITE_P(Inet, Servers,
                         testing::Values(Setup{"pyftpdlib", true}, Setup{"pyftpdlib", false},
                                         Setup{"vsftpd", true}, Setup{"vsftpd", false},
                                         Setup{"proftpd", true}, Setup{"pure-ftpd", true}),
                         [](const testing::TestParamInfo<Setup>& info) {
                           return ts::testNameOf(info.param.server) +
                                  (info.param.passive ? "_passive" : "_active");
                         });

}  // namespace
