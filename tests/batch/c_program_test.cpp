// The plain C program that links libnimbo.so, run against a real server; its two batches checked by
// the files they moved.
#include <gtest/gtest.h>

#include "ftp_servers.h"
#include "process.h"

namespace ts = testsupport;

TEST(CProgram, DownloadsTheDefaultListAndUploadsItBack) {
  auto server = ts::startVsftpd();
  REQUIRE_FTP_SERVER(server);
  const std::string zip = ts::randomBytes(65537, 3);
  server->put("incoming/FTPClient.txt", "client\r\n");
  server->put("incoming/!how to upload.txt", "how\r\nto\r\n");
  server->put("incoming/Quillmere.zip", zip);
  server->makeDirectory("back");
  ts::TempDir local;
  ASSERT_EQ(ts::runCommand({C_PROGRAM, server->address(), server->user(), server->password(), "/incoming",
                            local.path().string(), "/back"},
                           {}, std::chrono::seconds(60)),
            0)
      << server->log();
  for (const std::string dir : {"", "back/"}) {
    const auto read = [&](const std::string& name) {
      return dir.empty() ? ts::readFile(local / name) : server->read(dir + name);
    };
    EXPECT_EQ(read("FTPClient.txt"), "client\r\n") << dir;
    EXPECT_EQ(read("!how to upload.txt"), "how\r\nto\r\n") << dir;
    EXPECT_EQ(read("Quillmere.zip"), zip) << dir;
    EXPECT_EQ(read("garbage"), std::nullopt) << dir;
  }
}
