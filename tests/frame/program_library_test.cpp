// The program with the real library, against a real server that holds what the demo server holds: the
// client window holds the frame while it is open; the parameters window's batches move the files.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ftp_servers.h"
#include "program_driver.h"
#include "tarnwick/parameters.h"

namespace {

using namespace programtest;
namespace ts = testsupport;
namespace fs = std::filesystem;

const std::string kZip = ts::randomBytes(150000, 7);

std::string demoFile(const std::string& name) {
  std::ifstream in(fs::path(DEMO_INCOMING) / name, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ProgramWithLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    previous_ = fs::current_path();
  }
  void TearDown() override { fs::current_path(previous_); }

  // The demo server's /incoming: two of the default files from the demo's own folder, the archive
  // made here, "garbage" absent.
  void startDemoServer() {
    ts::ServerOptions options;
    options.anonymous = true;
    server_ = ts::startPyftpdlib(options);
    if (!server_.ok()) return;
    for (const std::string name : {"FTPClient.txt", "!how to upload.txt"})
      server_->put("incoming/" + name, demoFile(name));
    server_->put("incoming/Quillmere.zip", kZip);
    setenv(tarnwick::kDefaultServerVariable, server_->address().c_str(), 1);
  }

  // Chooses "Start Auto Upload/Download", lets `change` alter the defaults, presses Start, waits for the
  // batch window to come and go, and closes the parameters window. False when a step failed.
  static bool runBatch(User& user, ui::WindowRef frame, const std::function<void(ui::WindowRef)>& change) {
    if (!uitest::chooseMenu(frame, kStartAutoUploadDownload)) return false;
    const ui::WindowRef params = user.nextWindow(frame);
    if (!params) return false;
    change(params);
    if (!uitest::press(params, kStart)) return false;
    const ui::WindowRef batch = user.nextWindow(params);
    if (!batch || !user.backTo(params, 60s)) return false;
    return uitest::press(params, kCancel) && user.backTo(frame);
  }

  ts::TempDir config_{"program-config"};
  ts::TempDir here_{"program-here"};
  ts::StartedServer server_;
  fs::path previous_;
};

TEST_F(ProgramWithLibrary, TheClientWindowHoldsTheFrameUntilItCloses) {
  const int code = runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    ASSERT_NE(frame, 0u);
    ASSERT_TRUE(uitest::chooseMenu(frame, kStartAsyncClient));
    const ui::WindowRef client = user.nextWindow(frame);
    ASSERT_NE(client, 0u);
    // The client opens wholly inside the frame's client area, nothing of it behind scroll bars.
    ui::test::withWidgets(client, [](const ui::test::Widgets& w) {
      auto* sub = qobject_cast<QMdiSubWindow*>(w.window());
      ASSERT_NE(sub, nullptr);
      QMdiArea* area = sub->mdiArea();
      EXPECT_TRUE(area->viewport()->rect().contains(sub->geometry()))
          << "the client at " << sub->x() << "," << sub->y() << " size " << sub->width() << "x"
          << sub->height() << " in " << area->viewport()->width() << "x" << area->viewport()->height();
      EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
      EXPECT_FALSE(area->verticalScrollBar()->isVisible());
    });
    // The frame's own entries wait for the client; its standard ones do not.
    EXPECT_FALSE(uitest::chooseMenu(frame, kStartAsyncClient));
    EXPECT_FALSE(uitest::chooseMenu(frame, kStartAutoUploadDownload));
    EXPECT_TRUE(uitest::chooseMenu(frame, kTile));
    ASSERT_TRUE(ui::test::closeBox(client));
    ASSERT_TRUE(user.backTo(frame));
    // The frame takes the next choice.
    ASSERT_TRUE(uitest::chooseMenu(frame, kStartAutoUploadDownload));
    const ui::WindowRef params = user.nextWindow(frame);
    ASSERT_NE(params, 0u);
    ASSERT_TRUE(uitest::press(params, kCancel));
    ASSERT_TRUE(user.backTo(frame));
    ASSERT_TRUE(uitest::chooseMenu(frame, kExit));
  });
  EXPECT_EQ(code, 0);
}

TEST_F(ProgramWithLibrary, StartWithTheDefaultsDownloadsTheDemoFilesIntoTheCurrentDirectory) {
  startDemoServer();
  REQUIRE_FTP_SERVER(server_);
  fs::current_path(here_.path());
  runProgram([&](User& user) { ASSERT_TRUE(runBatch(user, frameOf(user), [](ui::WindowRef) {})); });
  EXPECT_EQ(ts::readFile(here_ / "FTPClient.txt"), demoFile("FTPClient.txt"));
  EXPECT_EQ(ts::readFile(here_ / "!how to upload.txt"), demoFile("!how to upload.txt"));
  EXPECT_EQ(ts::readFile(here_ / "Quillmere.zip"), kZip);
  EXPECT_FALSE(fs::exists(here_ / "garbage"));
  EXPECT_NE(server_->log().find("EPSV"), std::string::npos) << "passive by default";
}

TEST_F(ProgramWithLibrary, UploadWithoutPassiveSendsTheFilesOverActiveConnections) {
  startDemoServer();
  REQUIRE_FTP_SERVER(server_);
  ts::writeFile(here_ / "FTPClient.txt", "up\n");
  ts::writeFile(here_ / "!how to upload.txt", "and away\n");
  ts::writeFile(here_ / "Quillmere.zip", ts::randomBytes(5000, 9));
  fs::current_path(here_.path());
  runProgram([&](User& user) {
    ASSERT_TRUE(runBatch(user, frameOf(user), [](ui::WindowRef params) {
      uitest::press(params, kUpload);
      uitest::press(params, kPassive);
    }));
  });
  EXPECT_EQ(server_->read("incoming/FTPClient.txt"), "up\n");
  EXPECT_EQ(server_->read("incoming/!how to upload.txt"), "and away\n");
  EXPECT_EQ(server_->read("incoming/Quillmere.zip"), ts::randomBytes(5000, 9));
  const std::string log = server_->log();
  EXPECT_NE(log.find("EPRT"), std::string::npos) << log;
  EXPECT_EQ(log.find("EPSV"), std::string::npos) << log;
}

// The field names a current directory too deep for it relative to itself, and the files land there.
TEST_F(ProgramWithLibrary, ADownloadFromTooDeepACurrentDirectoryLandsInIt) {
  startDemoServer();
  REQUIRE_FTP_SERVER(server_);
  fs::path deep = here_.path();
  for (int i = 0; i < 3; ++i) deep /= "a folder with a rather long name";
  fs::create_directories(deep);
  fs::current_path(deep);
  runProgram([&](User& user) { ASSERT_TRUE(runBatch(user, frameOf(user), [](ui::WindowRef) {})); });
  EXPECT_EQ(ts::readFile(deep / "Quillmere.zip"), kZip);
  EXPECT_EQ(ts::listTree(here_.path()).size(), 3u + 3u) << "three folders, three files, nothing else";
}

}  // namespace
