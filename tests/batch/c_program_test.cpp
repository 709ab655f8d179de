// Runs the plain C program that links libnimbo.so against a real server, and checks the files its two
// batches moved.
#include <gtest/gtest.h>

#include <string>

#include "ftp_servers.h"
#include "process.h"

namespace {

namespace ts = testsupport;

TEST(CProgram, DownloadsTheDefaultListAndUploadsItBack) {
  auto server = ts::startVsftpd();
  if (server.skipped()) server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  const std::string zip = ts::randomBytes(65537, 3);
  server->put("incoming/FTPClient.txt", "client\r\n");
  server->put("incoming/!how to upload.txt", "how\r\nto\r\n");
  server->put("incoming/Quillmere.zip", zip);
  server->makeDirectory("back");
  ts::TempDir local;

  const int code = ts::runCommand({C_PROGRAM, server->address(), server->user(), server->password(),
                                   "/incoming", local.path().string(), "/back"},
                                  {}, std::chrono::seconds(60));
  ASSERT_EQ(code, 0) << server->log();
  for (const char* dir : {"", "back/"}) {
    SCOPED_TRACE(dir);
    const auto read = [&](const std::string& name) {
      return *dir ? server->read(dir + name) : ts::readFile(local / name);
    };
    EXPECT_EQ(read("FTPClient.txt"), "client\r\n");
    EXPECT_EQ(read("!how to upload.txt"), "how\r\nto\r\n");
    EXPECT_EQ(read("Quillmere.zip"), zip);
    EXPECT_EQ(read("garbage"), std::nullopt);
  }
}

}  // namespace
