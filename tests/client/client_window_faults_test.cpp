// The client window where it must not do what a careless reading would: a server name typed while
// connected, paths too long for their fields, a transfer stopped, a window closed while a download
// runs, and a Connect that fails.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "engine/client_session.h"

namespace client {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // the fixture and the driver
using testsupport::randomBytes;
using namespace std::chrono_literals;

// A loopback port nobody listens on: the kernel's pick, closed again.
int unusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

class ClientWindowFaults : public ClientWindowBase {
 protected:
  void SetUp() override {
    ClientWindowBase::SetUp();
    startServer("pyftpdlib", true);
  }
};

TEST_F(ClientWindowFaults, AServerNameTypedWhileConnectedChangesNeitherPathsNorServer) {
  server_->put("pub/doomed.txt", "delete me");
  server_->put("pub/kept.txt", randomBytes(5000));
  server_->put("doomed.txt", "not me");
  runClient([&](Driver& d) {
    ASSERT_TRUE(connect(d));
    ASSERT_TRUE(open(d, "/pub"));
    // The entry stays open while connected; a name of another length, completed, is the field's now.
    ASSERT_TRUE(d.enterText(control::ServerName, "ftp.example.invalid:2121"));
    d.settle();
    ASSERT_EQ(::ServerName.get().str(), "ftp.example.invalid:2121");

    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub/kept.txt")));
    d.settle();
    EXPECT_EQ(d.shown(control::RemotePath), "/pub");
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([&] { return contains(d.rows(control::FileList), "kept.txt"); }))
        << ::testing::PrintToString(texts(ui::test::messagesShown()));
    EXPECT_EQ(testsupport::readFile(local_ / "kept.txt"), randomBytes(5000));

    ui::test::answerPopup(2);
    ui::test::answerMessage(ui::BUTTON_YES);
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub/doomed.txt"), ui::key::MouseRight));
    ASSERT_TRUE(treeIs(d, {server_->address(), "doomed.txt", "pub", "kept.txt"}));
    EXPECT_EQ(
        texts(ui::test::messagesShown()),
        (std::vector<std::string>{"Do you want to delete: |/pub/doomed.txt file.", "File was deleted!"}));
    EXPECT_FALSE(server_->exists("pub/doomed.txt"));
    EXPECT_EQ(server_->read("doomed.txt"), "not me");
  });
}

TEST_F(ClientWindowFaults, ADialogsPathTooLongForItsFieldIsRefusedNotCut) {
  // Three folders of 60 characters, "/" and a name: 259 characters fit the 260-byte field, 260 do not.
  const std::string folder = std::string(60, 'a') + "/" + std::string(60, 'b') + "/" + std::string(60, 'c');
  const std::string fits(75, 'f'), tooLong(76, 'g');
  server_->put(folder + "/a.txt", "a");
  runClient([&](Driver& d) {
    ASSERT_TRUE(connect(d));
    for (std::size_t end = 60; end <= folder.size(); end += 61)
      ASSERT_TRUE(open(d, "/" + folder.substr(0, end)));
    const std::string file = "/" + folder + "/a.txt";

    ui::test::answerPopup(3);
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(file), ui::key::MouseRight));
    answerDialog(d, tooLong);
    ui::test::answerPopup(1);
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(file), ui::key::MouseRight));
    answerDialog(d, tooLong);
    ASSERT_TRUE(Driver::idle());
    const auto refused = ui::test::messagesShown();
    ASSERT_EQ(refused.size(), 2u);
    for (const auto& box : refused) {
      EXPECT_EQ(box.text, "The path is too long:|/" + folder + "/" + tooLong);
      EXPECT_EQ(box.caption, "OrinFTP Client Error");
    }
    EXPECT_EQ(testsupport::listTree(server_->root() / folder), (std::vector<std::string>{"a.txt"}));

    ui::test::answerPopup(3);
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(file), ui::key::MouseRight));
    answerDialog(d, fits);
    ASSERT_TRUE(Driver::waitFor([&] { return server_->exists(folder + "/" + fits); }));
    ASSERT_TRUE(Driver::idle());
  });
}

// A download stopped by Escape, then one left running as the window is closed: the close asks, No
// keeps the window, Yes stops the download and closes the session. The local file of the same name
// is as it was throughout; what came is kept beside it, and the second download resumes there. The
// next window is in No session and acts so.
TEST_F(ClientWindowFaults, EscapeStopsATransferAndClosingAsksThenEndsTheSession) {
  server_->put("huge.bin", "");
  fs::resize_file(server_->pathOf("huge.bin"), std::uintmax_t{1} << 30);
  testsupport::writeFile(local_ / "huge.bin", "the user's own file");
  auto startDownload = [&](Driver& d) {
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/huge.bin")));
    engine::ProgressTotal = 0;  // counted afresh once the download's data flows
    ASSERT_TRUE(d.click(control::Get));
    // Past the replies before the data: some of the file has come.
    ASSERT_TRUE(Driver::waitFor([] { return engine::ProgressTotal.load() > 65536; }));
  };
  ui::WindowRef closed = 0;
  runClient([&](Driver& d) {
    closed = d.window();
    ASSERT_TRUE(connect(d));
    startDownload(d);
    ASSERT_TRUE(d.key(Qt::Key_Escape));
    ASSERT_TRUE(Driver::idle(10s));
    EXPECT_TRUE(
        Driver::waitFor([&] { return ui::test::shownStatus(d.window(), 0) == "Transfer stopped"; }, 5s))
        << ui::test::shownStatus(d.window(), 0);
    EXPECT_TRUE(ui::test::messagesShown().empty()) << "a stop is no error";
    EXPECT_EQ(testsupport::readFile(local_ / "huge.bin"), "the user's own file");
    const auto kept = fs::file_size(local_ / ".huge.bin.part");
    EXPECT_GT(kept, 0u);

    startDownload(d);
    EXPECT_TRUE(Driver::waitFor([&] {
      return ui::test::shownStatus(d.window(), 0) ==
             "Resuming file: huge.bin at byte " + std::to_string(kept);
    })) << ui::test::shownStatus(d.window(), 0);
    ui::test::answerMessage(ui::BUTTON_NO);
    ASSERT_TRUE(d.click(control::Close));
    d.settle();
    const auto asked = ui::test::messagesShown();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "A command is still running.|Close the window and stop it?");
    EXPECT_EQ(asked[0].defaultButton, ui::BUTTON_NO);
    EXPECT_TRUE(ui::isOpen(d.window())) << "No keeps the window";
    EXPECT_EQ(engine::OperationState.load(), engine::state::GetRunning);
    ui::test::answerMessage(ui::BUTTON_YES);
    ASSERT_TRUE(d.click(control::Close));
  });
  EXPECT_FALSE(ui::isOpen(closed));
  EXPECT_EQ(::bActiveSession.load(), 0);
  EXPECT_EQ(::hOpen.load(), 0u);
  ASSERT_TRUE(Driver::idle(10s));
  EXPECT_EQ(ui::test::messagesShown().size(), 1u) << "the stop shows no error box";
  EXPECT_EQ(testsupport::listTree(local_.path()),
            (std::vector<std::string>{".huge.bin.part", ".huge.bin.part.info", "huge.bin"}));
  EXPECT_EQ(testsupport::readFile(local_ / "huge.bin"), "the user's own file");

  runClient([&](Driver& d) {
    EXPECT_TRUE(treeIs(d, {}));
    EXPECT_FALSE(d.click(control::Connect));
    ASSERT_TRUE(d.click(control::StartSession));
    EXPECT_FALSE(d.click(control::Disconnect)) << "not connected, so nothing to disconnect";
    EXPECT_FALSE(d.click(control::Get));
    ASSERT_TRUE(connect(d)) << "Connect is there to press";
    ASSERT_TRUE(d.click(control::Close));
  });
}

// A Connect that fails leaves no server in the tree: the box tells of none.
TEST_F(ClientWindowFaults, AFailedConnectLeavesTheTreeEmpty) {
  const std::string nobody = "127.0.0.1:" + std::to_string(unusedPort());
  runClient([&](Driver& d) {
    ASSERT_TRUE(d.click(control::StartSession));
    for (int attempt = 0; attempt < 2; ++attempt) {
      ASSERT_TRUE(d.enterText(control::ServerName, nobody));
      ASSERT_TRUE(d.click(control::Connect));
      ASSERT_TRUE(Driver::waitFor([] { return !ui::test::messagesShown().empty(); }, 10s));
      EXPECT_TRUE(treeIs(d, {}));
      EXPECT_EQ(DirectoryList.count(), 0u);
    }
  });
}

}  // namespace
}  // namespace client
