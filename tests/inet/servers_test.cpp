// The layer against real servers, pyftpdlib and vsftpd, in passive and active mode: logon, listing,
// transfers checked byte for byte, the file commands.
#include <gtest/gtest.h>

#include <map>

#include "client.h"
#include "ftp_servers.h"

namespace ts = testsupport;
using namespace inettest;

namespace {

struct Setup {
  std::string server;  // "pyftpdlib" or "vsftpd"
  bool passive;
};

std::string setupName(const testing::TestParamInfo<Setup>& info) {
  return info.param.server + (info.param.passive ? "_passive" : "_active");
}

class Servers : public testing::TestWithParam<Setup> {
 protected:
  ts::StartedServer start(ts::ServerOptions options = {}) {
    return GetParam().server == "vsftpd" ? ts::startVsftpd(options) : ts::startPyftpdlib(options);
  }
  DWORD flags() const { return GetParam().passive ? INTERNET_FLAG_PASSIVE : 0; }
};

std::map<std::string, WIN32_FIND_DATAA> listAll(Client& client, HINTERNET conn, const char* pattern) {
  std::map<std::string, WIN32_FIND_DATAA> out;
  WIN32_FIND_DATAA data{};
  HINTERNET find = nullptr;
  Completion c = client.await([&] {
    find = FtpFindFirstFileA(conn, pattern, &data, 0, client.recorder.context());
    return find != nullptr;
  });
  if (c.error != 0) {
    ADD_FAILURE() << "find failed: " << c.error << " " << c.response;
    return out;
  }
  find = reinterpret_cast<HINTERNET>(c.result);
  out[data.cFileName] = data;
  while (InternetFindNextFileA(find, &data)) out[data.cFileName] = data;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  InternetCloseHandle(find);
  return out;
}

TEST_P(Servers, ListsDownloadsAndUploads) {
  auto server = start();
  REQUIRE_FTP_SERVER(server);
  server->put("pub/a file.bin", ts::randomBytes(300000));
  server->put("pub/empty", "");
  server->makeDirectory("pub/sub dir");

  Client client;
  HINTERNET conn = client.connect(server->address(), server->user(), server->password(), flags());
  ASSERT_NE(conn, nullptr);

  auto entries = listAll(client, conn, "/pub/*.*");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries["a file.bin"].nFileSizeLow, 300000u);
  EXPECT_EQ(entries["a file.bin"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(entries["sub dir"].dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  ts::TempDir local;
  std::string target = winPath(local / "copy.bin");
  Completion get = client.await([&] {
    return FtpGetFileA(conn, "/pub/a file.bin", target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, client.recorder.context());
  });
  ASSERT_EQ(get.error, 0u) << get.response;
  EXPECT_EQ(get.result, static_cast<DWORD_PTR>(TRUE));
  EXPECT_EQ(ts::readFile(local / "copy.bin"), ts::randomBytes(300000));

  ts::writeFile(local / "up.bin", ts::randomBytes(200001, 7));
  std::string source = winPath(local / "up.bin");
  Completion put = client.await([&] {
    return FtpPutFileA(conn, source.c_str(), "/pub/up.bin", FTP_TRANSFER_TYPE_BINARY,
                       client.recorder.context());
  });
  ASSERT_EQ(put.error, 0u) << put.response;
  EXPECT_EQ(server->read("pub/up.bin"), ts::randomBytes(200001, 7));
  EXPECT_EQ(client.recorder.overlaps(), 0);
}

INSTANTIATE_TEST_SUITE_P(Inet, Servers,
                         testing::Values(Setup{"pyftpdlib", true}, Setup{"pyftpdlib", false},
                                         Setup{"vsftpd", true}, Setup{"vsftpd", false}),
                         setupName);

}  // namespace
