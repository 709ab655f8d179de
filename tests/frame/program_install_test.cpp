// The installed tree, as a user of a temporary prefix gets it: a C program built with pkg-config
// against it runs a batch with the library, so does nimbo-batch, the installed program starts and
// ends cleanly, and without its library the program does not start and the loader says why.
#include <gtest/gtest.h>

#include <filesystem>

#include "ftp_servers.h"
#include "process.h"
#include "program_process.h"

namespace {

namespace ts = testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

int shell(const std::string& command, const std::string& log) {
  return ts::runCommand({"/bin/sh", "-c", command + " >>'" + log + "' 2>&1"}, {}, 120s);
}

TEST(ProgramInstall, TheInstalledTreeServesACProgramAndStartsTheProgram) {
  ts::TempDir work("program-install");
  const fs::path prefix = work / "prefix";
  const std::string log = (work / "log.txt").string();
  ASSERT_EQ(shell("'" CMAKE_COMMAND "' --install '" BUILD_DIR "' --prefix '" + prefix.string() + "'", log), 0)
      << ts::readFile(log).value_or("");

  // Built as a user would: the flags from pkg-config, nothing from the source tree.
  const fs::path program = work / "c_program";
  const fs::path libdir = prefix / INSTALL_LIBDIR;
  ASSERT_EQ(shell("PKG_CONFIG_PATH='" + (libdir / "pkgconfig").string() +
                      "' && export PKG_CONFIG_PATH && cc '" + C_PROGRAM_SOURCE + "' -o '" + program.string() +
                      "' $(pkg-config --cflags --libs nimbo) -Wl,-rpath,'" + libdir.string() + "'",
                  log),
            0)
      << ts::readFile(log).value_or("");

  auto server = ts::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  server->put("incoming/FTPClient.txt", "client\r\n");
  server->put("incoming/!how to upload.txt", "how\r\n");
  server->put("incoming/Quillmere.zip", ts::randomBytes(20000, 4));
  server->makeDirectory("back");
  fs::create_directories(work / "local");
  ASSERT_EQ(ts::runCommand({program.string(), server->address(), server->user(), server->password(),
                            "/incoming", (work / "local").string(), "/back"},
                           {}, 60s),
            0)
      << server->log();
  EXPECT_EQ(ts::readFile(work / "local" / "Quillmere.zip"), ts::randomBytes(20000, 4));
  EXPECT_EQ(server->read("back/Quillmere.zip"), ts::randomBytes(20000, 4));

  // nimbo-batch beside the program, with its manual page, runs a batch without a display.
  const std::string batch = (prefix / INSTALL_BINDIR / "nimbo-batch").string();
  EXPECT_TRUE(fs::exists(prefix / INSTALL_MANDIR / "man1" / "nimbo-batch.1.gz"));
  fs::create_directories(work / "fetched");
  ASSERT_EQ(shell("env -u QT_QPA_PLATFORM NETRC=/dev/null NIMBO_PASSWORD='" + server->password() + "' '" +
                      batch + "' ftp://" + server->user() + "@" + server->address() + "/incoming '" +
                      (work / "fetched").string() + "' 'FTPClient.txt, Quillmere.zip'",
                  log),
            0)
      << ts::readFile(log).value_or("");
  EXPECT_EQ(ts::readFile(work / "fetched" / "Quillmere.zip"), ts::randomBytes(20000, 4));
  EXPECT_NE(ts::readFile(log).value_or("").find("2 of 2 files moved"), std::string::npos);

  const std::string tarnwick = (prefix / INSTALL_BINDIR / "tarnwick").string();
  const std::string output = (work / "tarnwick.txt").string();
  const auto code = programtest::runAndTerminate(
      tarnwick, {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + work.path().string()}, 300ms, output);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0) << ts::readFile(output).value_or("");
  EXPECT_TRUE(fs::exists(work / "tarnwick.INI"));

  // Without its library the loader refuses the program, naming the library.
  for (const auto& entry : fs::directory_iterator(libdir))
    if (entry.path().filename().string().rfind("libnimbo.so", 0) == 0)
      fs::rename(entry.path(), work.path() / entry.path().filename());
  const int missing = shell("QT_QPA_PLATFORM=offscreen '" + tarnwick + "'", output);
  EXPECT_EQ(missing, 127);
  EXPECT_NE(ts::readFile(output).value_or("").find("libnimbo.so"), std::string::npos)
      << ts::readFile(output).value_or("");
}

}  // namespace
