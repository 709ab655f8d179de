// Every fault the scripted server can stage ends with the right error, a readable message, the
// server's reply where it is the reason, nothing lost locally, and no thread left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "client.h"
#include "fault_server.h"
#include "ftp_servers.h"
#include "timing.h"

namespace ts = testsupport;
using namespace inettest;
using faultftp::Fault;
using faultftp::FaultServer;
using std::chrono::milliseconds;

namespace {

std::string messageOf(DWORD code) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleA("wininet.dll"), code, 0, text, sizeof text, nullptr);
  return std::string(text, n);
}

std::vector<std::string> filesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Faults : public testing::Test {
 protected:
  void SetUp() override { inet::setTimeouts({milliseconds(3000), milliseconds(3000), milliseconds(3000)}); }
  void TearDown() override { inet::resetTimeouts(); }

  // A download into a directory that already holds the target; the target must survive a failure.
  Completion download(Client& client, HINTERNET conn, const char* remote,
                      DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    ts::writeFile(local / "target", "precious");
    std::string target = winPath(local / "target");
    return client.await(
        [&] { return FtpGetFileA(conn, remote, target.c_str(), FALSE, 0, type, client.recorder.context()); });
  }
  void expectTargetIntact() {
    EXPECT_EQ(ts::readFile(local / "target"), "precious");
    EXPECT_EQ(filesIn(local.path()), std::vector<std::string>{"target"}) << "a partial file was left";
  }
  std::map<std::string, WIN32_FIND_DATAA> list(Client& client, HINTERNET conn, const char* pattern,
                                               DWORD* error) {
    std::map<std::string, WIN32_FIND_DATAA> out;
    WIN32_FIND_DATAA data{};
    Completion c = client.await(
        [&] { return FtpFindFirstFileA(conn, pattern, &data, 0, client.recorder.context()) != nullptr; });
    *error = c.error;
    if (c.error) return out;
    HINTERNET find = reinterpret_cast<HINTERNET>(c.result);
    do out[std::string(data.cFileName)] = data;
    while (InternetFindNextFileA(find, &data));
    InternetCloseHandle(find);
    return out;
  }

  ts::TempDir local;
};

struct StepFault {
  const char* verb;
  DWORD connectError;  // 0: the connect succeeds and the download fails instead
  DWORD getError;
};

class ShutdownReply : public Faults, public testing::WithParamInterface<StepFault> {};

TEST_P(ShutdownReply, EndsTheRequestWithTheServersWords) {
  FaultServer server;
  server.putFile("/f.bin", "content");
  server.add(Fault::on(GetParam().verb).replying("421 Service closing control connection.").hangsUp());
  Client client;
  Completion connect;
  HINTERNET conn = client.connect(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, &connect);
  Completion failed = connect;
  if (GetParam().connectError) {
    EXPECT_EQ(conn, nullptr);
    EXPECT_EQ(connect.error, GetParam().connectError);
  } else {
    ASSERT_NE(conn, nullptr) << connect.error;
    failed = download(client, conn, "/f.bin");
    EXPECT_EQ(failed.error, GetParam().getError);
    expectTargetIntact();
  }
  EXPECT_EQ(failed.responseCode, 421u);
  EXPECT_NE(failed.response.find("Service closing"), std::string::npos) << failed.response;
  EXPECT_FALSE(messageOf(failed.error).empty());
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ShutdownReply,
                         testing::Values(StepFault{"GREETING", ERROR_INTERNET_LOGIN_FAILURE, 0},
                                         StepFault{"USER", ERROR_INTERNET_LOGIN_FAILURE, 0},
                                         StepFault{"PASS", ERROR_INTERNET_LOGIN_FAILURE, 0},
                                         StepFault{"FEAT", ERROR_FTP_DROPPED, 0},
                                         StepFault{"TYPE", 0, ERROR_FTP_DROPPED},
                                         StepFault{"EPSV", 0, ERROR_FTP_DROPPED},
                                         StepFault{"RETR", 0, ERROR_FTP_DROPPED}),
                         [](const auto& info) { return std::string(info.param.verb); });

TEST_F(Faults, LogonRefusalsNameTheirStep) {
  faultftp::Options options;
  options.password = "right";
  FaultServer server(options);
  Client client;
  Completion c;
  EXPECT_EQ(client.connect(server.address(), "ann", "wrong", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD));
  EXPECT_EQ(c.responseCode, 530u);
  server.add(Fault::on("USER").replying("530 This FTP server is anonymous only."));
  EXPECT_EQ(client.connect(server.address(), "ann", "right", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INCORRECT_USER_NAME));
  EXPECT_EQ(c.response, "530 This FTP server is anonymous only.");
}

// A server that greets with 120 ("ready in a moment") is waited for; a greeting that is no 220 in
// the end refuses the logon before any USER goes out.
TEST_F(Faults, TheGreetingIsWaitedForAndAnyOtherRefusesTheLogon) {
  FaultServer waits;
  waits.add(Fault::on("GREETING").replying("120 Ready in a moment.\r\n220 Ready."));
  Client client;
  Completion c;
  HINTERNET conn = client.connect(waits.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, &c);
  EXPECT_NE(conn, nullptr) << c.error;
  EXPECT_EQ(waits.verbs().at(0), "USER");

  FaultServer refuses;
  refuses.add(Fault::on("GREETING").replying("120 Ready in a moment.\r\n554 Not for you."));
  EXPECT_EQ(client.connect(refuses.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_LOGIN_FAILURE));
  EXPECT_EQ(c.responseCode, 554u);
  EXPECT_TRUE(refuses.verbs().empty());
}

TEST_F(Faults, RefusedCommandGivesExtendedErrorWithTheReply) {
  FaultServer server;
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/missing.txt");
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(c.responseCode, 550u);
  EXPECT_EQ(c.response, "550 No such file.");
  EXPECT_FALSE(messageOf(ERROR_INTERNET_EXTENDED_ERROR).empty());
  expectTargetIntact();
  // The connection is still good for the next request.
  Completion mkd = client.await([&] { return FtpCreateDirectoryA(conn, "/new"); });
  EXPECT_EQ(mkd.error, 0u);
}

TEST_F(Faults, ConnectionClosedAfterPreliminaryReply) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(100000));
  server.add(Fault::on("RETR").hangsUpAfterPreliminary());
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_FTP_DROPPED));
  expectTargetIntact();
}

TEST_F(Faults, ServerLeavingRightAfterItsFinalReplyLosesNothing) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(300000));
  server.add(Fault::on("RETR").chunks(100000, milliseconds(20)).hangsUp());
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, 0u) << c.response;
  EXPECT_TRUE(ts::readFile(local / "target") == ts::randomBytes(300000));
}

TEST_F(Faults, DataConnectionClosedEarly) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(100000));
  server.add(Fault::on("RETR").cutsDataAfter(1000).endsWith("426 Connection closed; transfer aborted."));
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(c.responseCode, 426u);
  expectTargetIntact();
}

// A server that cuts the data short yet reports success: the size it announced, or the one a find
// looked up just before, tells the download it is incomplete.
TEST_F(Faults, ShortDownloadReportedAsCompleteIsAFailure) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(100000));
  server.putFile("/g.bin", ts::randomBytes(5000));
  server.add(Fault::on("RETR", 1).tellsSize().cutsDataAfter(1000).endsWith("226 Transfer complete."));
  server.add(Fault::on("RETR", 2).cutsDataAfter(1000).endsWith("226 Transfer complete."));
  server.add(Fault::on("RETR", 3).tellsSize());
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);

  Completion announced = download(client, conn, "/f.bin");
  EXPECT_EQ(announced.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(announced.responseCode, 226u);
  expectTargetIntact();

  DWORD error = 0;
  ASSERT_EQ(list(client, conn, "/f.bin", &error).count("f.bin"), 1u) << error;
  Completion lookedUp = download(client, conn, "/f.bin");
  EXPECT_EQ(lookedUp.error, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(lookedUp.response, "226 Transfer complete.");
  expectTargetIntact();

  // A whole file with its size announced is as good as ever.
  Completion whole = download(client, conn, "/g.bin");
  EXPECT_EQ(whole.error, 0u) << whole.response;
  EXPECT_TRUE(ts::readFile(local / "target") == *server.file("/g.bin"));
}

// A second reply to one command puts every later reply one command late. It is reported as the
// protocol error it is, not as the next command's refusal, and the session is not used again.
TEST_F(Faults, ReplyToNoCommandIsAProtocolError) {
  for (const char* verb : {"TYPE", "EPSV"}) {
    SCOPED_TRACE(verb);
    FaultServer server;
    server.putFile("/f.bin", "content");
    server.add(Fault::on(verb).replying(std::string(verb) == "TYPE" ? "200 Type set.\r\n200 Type set again."
                                                                    : "200 Type set again."));
    Client client;
    HINTERNET conn = client.connect(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE);
    ASSERT_NE(conn, nullptr);
    Completion c = download(client, conn, "/f.bin");
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_FTP_DROPPED));
    EXPECT_EQ(c.responseCode, 200u);
    expectTargetIntact();
    std::vector<std::string> verbs = server.verbs();
    EXPECT_EQ(std::count(verbs.begin(), verbs.end(), "RETR"), 0);
    EXPECT_EQ(std::count(verbs.begin(), verbs.end(), "PASV"), 0);
  }
}

// A find that cannot get a handle gives its reservation back: the connection stays usable, and the
// table's lock is not taken twice.
TEST_F(Faults, FindWithoutAFreeHandleLeavesTheConnectionUsable) {
  FaultServer server;
  server.putFile("/f.bin", "x");
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  std::vector<HINTERNET> filler;
  while (HINTERNET h = InternetOpenA("filler", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0))
    filler.push_back(h);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OUT_OF_HANDLES));
  WIN32_FIND_DATAA data{};
  EXPECT_EQ(FtpFindFirstFileA(conn, "*.*", &data, 0, client.recorder.context()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OUT_OF_HANDLES));
  for (HINTERNET h : filler) InternetCloseHandle(h);
  DWORD error = 0;
  EXPECT_EQ(list(client, conn, "*.*", &error).count("f.bin"), 1u) << error;
}

TEST_F(Faults, ReplyThatNeverComesTimesOut) {
  inet::setTimeouts({milliseconds(2000), milliseconds(300), milliseconds(300)});
  FaultServer server;
  server.putFile("/f.bin", "x");
  server.add(Fault::on("RETR").saysNothing());
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  auto start = std::chrono::steady_clock::now();
  Completion c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, ts::scaled(std::chrono::seconds(2)));
  EXPECT_FALSE(messageOf(ERROR_INTERNET_TIMEOUT).empty());
  expectTargetIntact();

  server.add(Fault::on("GREETING").saysNothing());
  Completion connect;
  EXPECT_EQ(client.connect(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, &connect), nullptr);
  EXPECT_EQ(connect.error, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
}

TEST_F(Faults, MalformedAndOversizedRepliesDropTheSession) {
  for (const std::string& bad : {std::string("hello, this is not FTP"), "220 " + std::string(100000, 'x'),
                                 "211-Features:\r\n" + std::string(70000, 'f') + "\r\n", [] {
                                   std::string endless = "211-Features:\r\n";
                                   for (int i = 0; i < 10000; ++i) endless += " FEATURE\r\n";
                                   return endless;
                                 }()}) {
    FaultServer server;
    server.add(Fault::on("FEAT").replying(bad));
    Client client;
    Completion c;
    EXPECT_EQ(client.connect(server.address(), "ann", "pw", INTERNET_FLAG_PASSIVE, &c), nullptr);
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_FTP_DROPPED)) << bad.substr(0, 40);
    EXPECT_NE(c.response.find("Malformed"), std::string::npos) << c.response;
  }
}

TEST_F(Faults, HostileListingLinesAreSkipped) {
  FaultServer server;
  std::string raw = "total 3\r\n";
  raw += "-rw-r--r-- 1 ftp ftp 10 Jan  2  2020 good\r\n";
  for (const char* name : {"..", ".", "a/b", "a\\b", "/etc/passwd", "..\\..\\boot.ini"})
    raw += std::string("-rw-r--r-- 1 ftp ftp 10 Jan  2  2020 ") + name + "\r\n";
  raw += std::string("-rw-r--r-- 1 ftp ftp 10 Jan  2  2020 nul") + '\0' + "name\r\n";
  raw += "garbage line that is no listing\r\n" + std::string(200000, 'z') + "\r\n\r\n\n";
  // A link whose name no command may carry is left as listed, and the listing stands.
  raw += "lrwxrwxrwx 1 ftp ftp 4 Jan  2  2020 cr\rlink -> good\r\n";
  raw += "drwxr-xr-x 2 ftp ftp 4096 Feb 29 12:00 sub dir\n";  // a bare LF, the last line
  server.setListing("/", raw);
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  DWORD error = 0;
  auto entries = list(client, conn, "*.*", &error);
  ASSERT_EQ(error, 0u);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries["good"].nFileSizeLow, 10u);
  EXPECT_EQ(entries["cr\rlink"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(entries["sub dir"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  // Nor can such a name reach a local path through a download.
  std::string escape = winPath(local / "..");
  Completion c = client.await([&] {
    return FtpGetFileA(conn, "good", escape.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INVALID_NAME));
  const auto verbs = server.verbs();
  EXPECT_EQ(std::count(verbs.begin(), verbs.end(), "RETR"), 0);
}

// A listing costs in proportion to its length. It is timed against a listing of a tenth as many
// entries in the same run, so that a sanitizer build or a busy machine slows both: linear costs make
// it about ten times as long, a pass over the listing per entry a hundred times. Thirty leaves room for
// load that comes and goes; a burst of it during one pair is ruled out by timing the pair again.
TEST_F(Faults, ListingOfAHundredThousandEntries) {
  FaultServer server;
  std::string raw;
  for (int i = 0; i < 100000; ++i) {
    raw +=
        "-rw-r--r-- 1 ftp ftp " + std::to_string(i) + " Mar  4 05:06 file" + std::to_string(i) + ".dat\r\n";
    if (i == 9999) server.setListing("/tenth", raw);
  }
  server.setListing("/big", raw);
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  DWORD error = 0;
  std::map<std::string, WIN32_FIND_DATAA> entries;
  const auto timed = [&](const char* pattern) {
    const auto start = std::chrono::steady_clock::now();
    entries = list(client, conn, pattern, &error);
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
  };
  milliseconds tenth{}, whole{};
  for (int pair = 0; pair < 3; ++pair) {
    tenth = timed("/tenth/*.*");
    ASSERT_EQ(entries.size(), 10000u) << error;
    whole = timed("/big/*.*");
    ASSERT_EQ(error, 0u);
    ASSERT_EQ(entries.size(), 100000u);
    std::printf("listings of 10,000 and 100,000 entries: %lld ms and %lld ms\n",
                static_cast<long long>(tenth.count()), static_cast<long long>(whole.count()));
    if (whole < 30 * std::max(tenth, milliseconds(1))) break;
  }
  EXPECT_LT(whole, 30 * std::max(tenth, milliseconds(1)));
  EXPECT_EQ(entries["file99999.dat"].nFileSizeLow, 99999u);
  // A mask keeps what matches, without regard to case.
  entries = list(client, conn, "/big/FILE1234?.*", &error);
  EXPECT_EQ(entries.size(), 10u);
}

TEST_F(Faults, PassiveAddressIsNotTrustedAndRefusedEpsvFallsBack) {
  FaultServer server;
  server.putFile("/f.bin", ts::randomBytes(5000));
  server.add(Fault::on("EPSV").replying("500 EPSV not understood."));
  server.add(Fault::on("PASV").announces("10,9,8,7"));
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/f.bin");
  ASSERT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(ts::readFile(local / "target"), ts::randomBytes(5000));
  c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, 0u);
  auto verbs = server.verbs();
  // The second download needs no TYPE: TYPE I is in force.
  EXPECT_EQ(std::vector<std::string>(verbs.end() - 6, verbs.end()),
            (std::vector<std::string>{"TYPE", "EPSV", "PASV", "RETR", "PASV", "RETR"}));
}

TEST_F(Faults, PreliminaryReply125AndBytewiseRepliesWork) {
  faultftp::Options options;
  options.bytewise = true;
  FaultServer server(options);
  server.putFile("/f.bin", ts::randomBytes(3000));
  server.add(Fault::on("RETR").preliminary(125));
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/f.bin");
  EXPECT_EQ(c.error, 0u) << c.response;
  EXPECT_EQ(ts::readFile(local / "target"), ts::randomBytes(3000));
}

TEST_F(Faults, AsciiLineEndsSurviveOneByteBlocks) {
  FaultServer server;
  server.putFile("/t.txt", "a\r\nb\r\r\nc\rd\r\n\r");
  server.add(Fault::on("RETR").chunks(1, milliseconds(2)));  // every CR ends a block
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  Completion c = download(client, conn, "/t.txt", FTP_TRANSFER_TYPE_ASCII);
  ASSERT_EQ(c.error, 0u);
  EXPECT_EQ(ts::readFile(local / "target"), "a\nb\r\nc\rd\n\r");

  ts::writeFile(local / "up.txt", "x\ny\r\nz\n\n");
  std::string source = winPath(local / "up.txt");
  c = client.await([&] {
    return FtpPutFileA(conn, source.c_str(), "/up.txt", FTP_TRANSFER_TYPE_ASCII, client.recorder.context());
  });
  ASSERT_EQ(c.error, 0u);
  EXPECT_EQ(server.file("/up.txt"), "x\r\ny\r\nz\r\n\r\n");
  // TYPE A stays in force from the download.
  const auto commands = server.commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "TYPE A"), 1);
  EXPECT_EQ(commands[commands.size() - 1], "STOR /up.txt");
  EXPECT_EQ(commands[commands.size() - 2], "EPSV");
}

TEST_F(Faults, ArgumentsAndLocalFilesAreCheckedBeforeAnythingIsSent) {
  FaultServer server;
  server.putFile("/f.bin", "remote");
  Client client;
  HINTERNET conn = client.connect(server.address(), "ann", "pw");
  ASSERT_NE(conn, nullptr);
  const size_t before = server.commands().size();

  Completion c = client.await([&] { return FtpDeleteFileA(conn, "x\r\nDELE f.bin"); });
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::string missing = winPath(local / "no such file");
  c = client.await([&] {
    return FtpPutFileA(conn, missing.c_str(), "/up", FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  std::string nowhere = winPath(local / "no dir" / "f.bin");
  c = client.await([&] {
    return FtpGetFileA(conn, "/f.bin", nowhere.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ts::writeFile(local / "target", "precious");
  std::string target = winPath(local / "target");
  c = client.await([&] {
    return FtpGetFileA(conn, "/f.bin", target.c_str(), TRUE, 0, FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_FILE_EXISTS));
  expectTargetIntact();
  EXPECT_EQ(server.commands().size(), before) << "nothing may reach the server";
  EXPECT_TRUE(server.exists("/f.bin"));
}

TEST_F(Faults, Ipv6Loopback) {
  faultftp::Options options;
  options.ipv6 = true;
  options.mlsd = true;
  FaultServer server(options);
  server.putFile("/d/f.bin", ts::randomBytes(70000));
  Client client;
  for (DWORD mode : {DWORD(INTERNET_FLAG_PASSIVE), DWORD(0)}) {
    HINTERNET conn = client.connect(server.address(), "ann", "pw", mode);
    ASSERT_NE(conn, nullptr);
    DWORD error = 0;
    auto entries = list(client, conn, "/d/*", &error);
    EXPECT_EQ(entries.size(), 1u);
    Completion c = download(client, conn, "/d/f.bin");
    EXPECT_EQ(c.error, 0u) << c.response;
    EXPECT_EQ(ts::readFile(local / "target"), ts::randomBytes(70000));
  }
  auto verbs = server.verbs();
  EXPECT_NE(std::find(verbs.begin(), verbs.end(), "EPRT"), verbs.end());
  EXPECT_EQ(std::find(verbs.begin(), verbs.end(), "PASV"), verbs.end());
}

}  // namespace

namespace {

TEST_F(Faults, TisGatewayGetsTheServerInTheUserName) {
  FaultServer gateway;
  gateway.putFile("/f.txt", "through the gateway");
  const std::string list = "ftp=ftp://" + gateway.address();
  Client client(INTERNET_OPEN_TYPE_PROXY, list.c_str(), "<-loopback>");
  Completion c;
  HINTERNET conn = client.connect("ftp.example.invalid:2121", "ann", "pw", INTERNET_FLAG_PASSIVE, &c);
  ASSERT_NE(conn, nullptr) << c.error;
  // Names are the gateway's to resolve: ours is the gateway's own.
  auto notes = client.recorder.notes();
  auto resolving = std::find_if(notes.begin(), notes.end(),
                                [](const Note& n) { return n.status == INTERNET_STATUS_RESOLVING_NAME; });
  ASSERT_NE(resolving, notes.end());
  EXPECT_EQ(resolving->text, "127.0.0.1");
  EXPECT_EQ(gateway.commands().front(), "USER ann@ftp.example.invalid:2121");
  Completion get = download(client, conn, "/f.txt");
  EXPECT_EQ(get.error, 0u);
  EXPECT_EQ(ts::readFile(local / "target"), "through the gateway");

  // Loopback servers go direct unless the bypass list says otherwise.
  FaultServer direct;
  Client bypassing(INTERNET_OPEN_TYPE_PROXY, list.c_str(), nullptr);
  ASSERT_NE(bypassing.connect(direct.address(), "bob", "pw"), nullptr);
  EXPECT_EQ(direct.commands().front(), "USER bob");
}

TEST_F(Faults, ProxiesThatCannotCarryFtp) {
  {
    Client client(INTERNET_OPEN_TYPE_PROXY, "ftp=127.0.0.1:1", "<-loopback>");
    Completion c;
    EXPECT_EQ(client.connect("ftp.example.invalid", "ann", "pw", INTERNET_FLAG_PASSIVE, &c), nullptr);
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_PROXY_SERVER_UNREACHABLE));
    EXPECT_FALSE(messageOf(c.error).empty());
  }
  Client cern(INTERNET_OPEN_TYPE_PROXY, "http://127.0.0.1:3128", "<-loopback>");
  Completion c;
  EXPECT_EQ(cern.connect("ftp.example.invalid", "ann", "pw", INTERNET_FLAG_PASSIVE, &c), nullptr);
  EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_NOT_PROXY_REQUEST));
}

TEST_F(Faults, TraceShowsTheDialogueWithoutThePassword) {
  ts::TempDir dir;
  const std::string trace = (dir / "ftp.trace").string();
  ::setenv("NIMBO_FTP_TRACE", trace.c_str(), 1);
  FaultServer server;
  server.putFile("/f.bin", std::string(1000, 'x'));
  server.setListing("/", "-rw-r--r-- 1 u g 1 Jan  1  2020 ok\r\nnot a listing line\r\n");
  {
    Client client;
    HINTERNET conn = client.connect(server.address(), "ann", "s3cret-pw");
    ASSERT_NE(conn, nullptr);
    DWORD error = 0;
    EXPECT_EQ(list(client, conn, "*.*", &error).size(), 1u);
    EXPECT_EQ(download(client, conn, "/f.bin").error, 0u);
  }
  ::unsetenv("NIMBO_FTP_TRACE");
  std::string text = ts::readFile(trace).value_or("");
  EXPECT_NE(text.find("> USER ann"), std::string::npos) << text;
  EXPECT_NE(text.find("> PASS ****"), std::string::npos);
  EXPECT_EQ(text.find("s3cret-pw"), std::string::npos);
  EXPECT_NE(text.find("< 226 Transfer complete."), std::string::npos);
  EXPECT_NE(text.find("received 1000 bytes"), std::string::npos);
  EXPECT_NE(text.find("1 lines not understood"), std::string::npos);
}

}  // namespace

namespace {

size_t openDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(Faults, FailedConnectsLeftOpenHoldNoDescriptors) {
  faultftp::Options options;
  options.password = "right";
  FaultServer server(options);
  Client client;
  Completion c;
  (void)client.connect(server.address(), "ann", "wrong", INTERNET_FLAG_PASSIVE, &c);
  const size_t before = openDescriptors();
  // Retried without closing the failed handles, as a caller that retries until it gets in may do.
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(client.connect(server.address(), "ann", "wrong", INTERNET_FLAG_PASSIVE, &c), nullptr);
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD));
  }
  EXPECT_LE(openDescriptors(), before + 2);
}

}  // namespace
