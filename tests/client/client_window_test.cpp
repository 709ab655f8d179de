// The client window against real servers (pyftpdlib and vsftpd on loopback, passive and active),
// driven as a user drives it: session buttons, typed fields, the remote tree's rows, its context menu
// and dialogs, Get and Put, with message boxes and menus answered by the runtime's test hooks.
#include "client/client_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/local.h"
#include "client_driver.h"
#include "engine/commands.h"
#include "engine/session.h"
#include "ftp_servers.h"
#include "inet/wininet.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace client {
namespace {

using testing::Driver;
using testing::runClient;
using testsupport::randomBytes;
using namespace std::chrono_literals;
using Messages = std::vector<ui::test::MessageShown>;

std::vector<std::string> texts(const Messages& messages) {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

bool contains(const std::vector<std::string>& rows, std::string_view row) {
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// The names the remote tree shows, without their sizes.
std::vector<std::string> treeNames(Driver& d) {
  std::vector<std::string> names;
  for (const std::string& row : d.rows(control::RemoteTree)) names.push_back(row.substr(0, row.find('\t')));
  return names;
}

// Waits until no command is in flight and the remote tree shows exactly these names (a listing in
// progress shows a pruned tree for a moment).
::testing::AssertionResult treeIs(Driver& d, const std::vector<std::string>& names) {
  if (Driver::waitFor([&] { return Driver::idle(0ms) && treeNames(d) == names; }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the tree shows " << ::testing::PrintToString(treeNames(d));
}

// A server for one test, a local folder the window starts in, and the engine's fields as a user who
// has just started the program finds them.
class ClientWindowBase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ui::start()) << ui::startError();
    testing::addClientWindowDefinitions();
  }

  void startServer(const std::string& kind, bool passive) {
    server_ = kind == "vsftpd" ? testsupport::startVsftpd() : testsupport::startPyftpdlib();
    if (server_.skipped()) GTEST_SKIP() << server_.error();
    ASSERT_TRUE(server_.ok()) << server_.error();
    engine::bPassive = passive ? 1 : 0;
  }

  void SetUp() override {
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    ui::test::popupsShown();
    before_ = fs::current_path();
    fs::current_path(local_.path());
    engine::bPassive = 1;
    engine::TransferType = FTP_TRANSFER_TYPE_BINARY;
    engine::UserName = "";
    engine::Password = "";
    ::ServerName = engine::kDefaultServerName;
  }

  void TearDown() override {
    engine::closeSession();
    Driver::idle(10s);
    fs::current_path(before_);
    ui::test::messagesShown();
    ui::test::popupsShown();
  }

  // Start Internet Session, the server's name and login typed, Connect; true once the tree shows the
  // server's top directory.
  bool connect(Driver& d) {
    EXPECT_TRUE(d.click(control::StartSession));
    EXPECT_TRUE(d.enterText(control::ServerName, server_->address()));
    EXPECT_TRUE(d.enterText(control::UserName, server_->user()));
    EXPECT_TRUE(d.enterText(control::Password, server_->password()));
    EXPECT_TRUE(d.click(control::Connect));
    // Once connected, the window highlights the server's row.
    return Driver::waitFor([&] { return d.shown(control::RemoteTree) == server_->address() + "\t"; });
  }

  // Opens a folder of the tree by a double-click; true once its entries are in the tree.
  bool open(Driver& d, std::string_view folder) {
    const int row = Driver::treeRow(folder);
    if (row == 0 || !d.clickRow(control::RemoteTree, row, ui::key::MouseLeftDouble)) return false;
    d.settle();
    return Driver::idle();
  }

  // Right-clicks a row with the menu's answer queued; the menu shown.
  ui::test::PopupShown contextMenu(Driver& d, std::string_view path, int answer) {
    ui::test::answerPopup(answer);
    EXPECT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow(path), ui::key::MouseRight))
        << path << " row " << Driver::treeRow(path) << " of "
        << ::testing::PrintToString(d.rows(control::RemoteTree)) << " state "
        << engine::OperationState.load();
    d.settle();
    auto shown = ui::test::popupsShown();
    EXPECT_EQ(shown.size(), 1u);
    return shown.empty() ? ui::test::PopupShown{} : shown.back();
  }

  // Types a name into the dialog that the context menu opened and presses its first button.
  void answerDialog(Driver& d, std::string_view name) {
    const ui::WindowRef dialog = d.dialog();
    ASSERT_NE(dialog, 0u);
    EXPECT_TRUE(ui::test::enterText(dialog, 4, name));
    EXPECT_TRUE(ui::test::click(dialog, 5));
    ASSERT_TRUE(Driver::waitFor([&] { return d.top() == d.window(); }));
    d.settle();
  }

  std::string localDirectory() const { return LocalDirectory.get().str(); }

  testsupport::TempDir local_{"nimbo-client"};
  testsupport::StartedServer server_;
  fs::path before_;
};

struct Mode {
  std::string server;
  bool passive;
  friend void PrintTo(const Mode& m, std::ostream* os) {
    *os << m.server << (m.passive ? " passive" : " active");
  }
};

class ClientWindowOnServer : public ClientWindowBase, public ::testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    ClientWindowBase::SetUp();
    startServer(GetParam().server, GetParam().passive);
  }
};

TEST_P(ClientWindowOnServer, AUsersSessionFromConnectToClose) {
  server_->put("readme.txt", randomBytes(1500));
  server_->put("pub/notes.txt", randomBytes(70000, 2));
  server_->makeDirectory("old");
  testsupport::writeFile(local_ / "upload.bin", randomBytes(100000, 3));
  const std::string address = server_->address();
  engine::TransferType = FTP_TRANSFER_TYPE_ASCII;

  runClient([&](Driver& d) {
    EXPECT_EQ(d.shown(control::Passive), GetParam().passive ? "1" : "0");
    ASSERT_TRUE(connect(d)) << server_->log();
    EXPECT_EQ(d.shown(control::Transfer), "2") << "Start Internet Session chooses Binary";
    EXPECT_TRUE(treeIs(d, {address, "old", "pub", "readme.txt"}));
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "readme.txt\t1 KB"));
    EXPECT_EQ(d.shown(control::RemotePath), "/");

    // A folder opened by a double-click; a file in it downloaded into the local folder.
    ASSERT_TRUE(open(d, "/pub"));
    ASSERT_TRUE(treeIs(d, {address, "old", "pub", "notes.txt", "readme.txt"}));
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "notes.txt\t68 KB"));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub/notes.txt")));
    d.settle();
    EXPECT_EQ(d.shown(control::RemotePath), "/pub");
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([&] { return contains(d.rows(control::FileList), "notes.txt"); }));
    EXPECT_EQ(testsupport::readFile(local_ / "notes.txt"), randomBytes(70000, 2));

    // A local file put into the folder highlighted in the tree.
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub")));
    ASSERT_TRUE(d.clickRow(control::FileList, Driver::fileRow("upload.bin")));
    ASSERT_TRUE(d.click(control::Put));
    ASSERT_TRUE(treeIs(d, {address, "old", "pub", "notes.txt", "upload.bin", "readme.txt"}));
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "upload.bin\t97 KB"));
    EXPECT_EQ(server_->read("pub/upload.bin"), randomBytes(100000, 3));

    // The context menu of a file and of a folder; dismissed, it starts nothing.
    const auto fileMenu = contextMenu(d, "/readme.txt", 0);
    EXPECT_EQ(fileMenu.items,
              (std::vector<std::string>{"Rename readme.txt", "Delete readme.txt", "Create Dir"}));
    EXPECT_EQ(fileMenu.greyed, (std::vector<bool>{false, false, false}));
    const auto folderMenu = contextMenu(d, "/old", 0);
    EXPECT_EQ(folderMenu.items, (std::vector<std::string>{"Rename", "Delete old", "Create Dir"}));
    EXPECT_EQ(folderMenu.greyed, (std::vector<bool>{true, false, false}));
    EXPECT_EQ(texts(ui::test::messagesShown()), std::vector<std::string>{});

    // Rename through its dialog.
    contextMenu(d, "/readme.txt", 1);
    answerDialog(d, "renamed.txt");
    // The root listed again: its folders come back closed.
    ASSERT_TRUE(treeIs(d, {address, "old", "pub", "renamed.txt"}));
    EXPECT_TRUE(server_->exists("renamed.txt"));
    EXPECT_FALSE(server_->exists("readme.txt"));
    EXPECT_EQ(texts(ui::test::messagesShown()), (std::vector<std::string>{"File was renamed!"}));

    // Delete and remove: No leaves the server as it was, Yes does it.
    ui::test::answerMessage(ui::BUTTON_NO);
    contextMenu(d, "/renamed.txt", 2);
    ui::test::answerMessage(ui::BUTTON_NO);
    contextMenu(d, "/old", 2);
    EXPECT_TRUE(Driver::idle());
    const auto asked = ui::test::messagesShown();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "Do you want to delete: |/renamed.txt file.");
    EXPECT_EQ(asked[1].text, "Do you want to remove: |/old directory.");
    for (const auto& box : asked) {
      EXPECT_EQ(box.caption, "FTP Client");
      EXPECT_EQ(box.icon, ui::IDI_EXCLAMATION);
      EXPECT_EQ(box.buttons, ui::BUTTON_YES | ui::BUTTON_NO);
      EXPECT_EQ(box.defaultButton, ui::BUTTON_NO);
    }
    EXPECT_TRUE(server_->exists("renamed.txt"));
    EXPECT_TRUE(server_->exists("old"));

    ui::test::answerMessage(ui::BUTTON_YES);
    contextMenu(d, "/renamed.txt", 2);
    ASSERT_TRUE(treeIs(d, {address, "old", "pub"}));
    ui::test::answerMessage(ui::BUTTON_YES);
    contextMenu(d, "/old", 2);
    ASSERT_TRUE(treeIs(d, {address, "pub"}));
    EXPECT_FALSE(server_->exists("renamed.txt"));
    EXPECT_FALSE(server_->exists("old"));
    EXPECT_EQ(
        texts(ui::test::messagesShown()),
        (std::vector<std::string>{"Do you want to delete: |/renamed.txt file.", "File was deleted!",
                                  "Do you want to remove: |/old directory.", "Directory was removed!"}));

    // Create Directory in a folder and in the root.
    ASSERT_TRUE(open(d, "/pub"));
    contextMenu(d, "/pub/notes.txt", 3);  // a file row: its folder
    answerDialog(d, "inner");
    ASSERT_TRUE(treeIs(d, {address, "pub", "inner", "notes.txt", "upload.bin"}));
    EXPECT_TRUE(server_->exists("pub/inner"));
    contextMenu(d, "/", 3);
    answerDialog(d, "made here");
    ASSERT_TRUE(treeIs(d, {address, "made here", "pub"}));
    EXPECT_TRUE(server_->exists("made here"));

    EXPECT_EQ(texts(ui::test::messagesShown()),
              (std::vector<std::string>{"New directory was created!", "New directory was created!"}));

    // Disconnect keeps the session; Close Internet Session ends it.
    ASSERT_TRUE(d.click(control::Disconnect));
    d.settle();
    EXPECT_EQ(::bActiveSession.load(), 0);
    EXPECT_TRUE(d.rows(control::RemoteTree).empty());
    EXPECT_NE(::hOpen.load(), 0u);
    ASSERT_TRUE(d.click(control::CloseSession));
    d.settle();
    EXPECT_EQ(::hOpen.load(), 0u);
    EXPECT_EQ(engine::bSessionOpen.load(), 0);
    EXPECT_TRUE(d.click(control::Close));
  });
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientWindowOnServer,
                         ::testing::Values(Mode{"pyftpdlib", true}, Mode{"pyftpdlib", false},
                                           Mode{"vsftpd", true}, Mode{"vsftpd", false}),
                         [](const auto& info) {
                           return info.param.server + (info.param.passive ? "_passive" : "_active");
                         });

}  // namespace
}  // namespace client
