// The client window where it must not do what a careless reading would: a server name typed while
// connected, paths too long for their fields, and a window closed while a download runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "engine/session.h"

namespace client {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // the fixture and the driver
using testsupport::randomBytes;
using namespace std::chrono_literals;

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

TEST_F(ClientWindowFaults, ClosedDuringAHugeDownloadTheWindowIsLeftAloneAndTheNextOneStartsAfresh) {
  server_->put("huge.bin", "");
  fs::resize_file(server_->pathOf("huge.bin"), std::uintmax_t{1} << 30);
  ui::WindowRef closed = 0;
  runClient([&](Driver& d) {
    closed = d.window();
    ASSERT_TRUE(connect(d));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/huge.bin")));
    engine::ProgressTotal = 0;  // counted afresh once the download's data flows
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([] { return engine::ProgressTotal.load() > 0; }));
    ASSERT_TRUE(d.click(control::Close));
  });

  // The download runs on with the session; nothing of it reaches the closed window or its lists.
  EXPECT_EQ(::MainWindow.load(), 0u);
  EXPECT_FALSE(ui::isOpen(closed));
  EXPECT_EQ(::bActiveSession.load(), 1);
  EXPECT_NE(::hOpen.load(), 0u);
  const auto listed = AllFiles.version();
  // What the engine calls at the end of a command reaches nothing of the window now.
  engine::refreshControls();
  engine::readLocalFiles();
  engine::commandEnded(true);
  EXPECT_EQ(AllFiles.version(), listed);

  runClient([&](Driver& d) {
    // No session, whatever the last window left running.
    EXPECT_EQ(engine::bSessionOpen.load(), 0);
    EXPECT_FALSE(d.click(control::Connect));
    EXPECT_FALSE(d.click(control::Get));
    EXPECT_FALSE(d.enterText(control::ServerName, "x"));
    EXPECT_FALSE(contains(d.rows(control::FileList), "huge.bin"));
    ASSERT_TRUE(d.click(control::Close));
  });
  const auto relisted = AllFiles.version();
  EXPECT_NE(relisted, listed) << "the new window lists its folder";

  // Ending the session stops the download: the target is absent or whole, never a part.
  engine::closeSession();
  ASSERT_TRUE(Driver::idle());
  EXPECT_EQ(AllFiles.version(), relisted) << "no window is open to list the folder for";
  const auto left = testsupport::listTree(local_.path());
  if (!left.empty()) {
    EXPECT_EQ(left, std::vector<std::string>{"huge.bin"});
    EXPECT_EQ(fs::file_size(local_ / "huge.bin"), std::uintmax_t{1} << 30);
  }
}

}  // namespace
}  // namespace client
