// The client window against real servers (pyftpdlib and vsftpd on loopback, passive and active; proftpd
// and pure-ftpd passive),
// driven as a user drives it: session buttons, typed fields, the remote tree's rows, its context menu
// and dialogs, Get and Put, with message boxes and menus answered by the runtime's test hooks.
#include "client/client_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "engine/remote_commands.h"

namespace fs = std::filesystem;

namespace client {
namespace {

using namespace testing;  // the fixture and the driver
using testsupport::randomBytes;
using namespace std::chrono_literals;

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

    // Rename through its dialog, which shows the old name whole.
    contextMenu(d, "/readme.txt", 1);
    answerDialog(d, "renamed.txt", "readme.txt");
    // The root listed again: the folder the user opened stays open, as the view shows it.
    ASSERT_TRUE(treeIs(d, {address, "old", "pub", "notes.txt", "upload.bin", "renamed.txt"}));
    EXPECT_TRUE(drawn(d, "/pub/upload.bin"));
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
    ASSERT_TRUE(treeIs(d, {address, "old", "pub", "notes.txt", "upload.bin"}));
    ui::test::answerMessage(ui::BUTTON_YES);
    contextMenu(d, "/old", 2);
    ASSERT_TRUE(treeIs(d, {address, "pub", "notes.txt", "upload.bin"}));
    EXPECT_FALSE(server_->exists("renamed.txt"));
    EXPECT_FALSE(server_->exists("old"));
    EXPECT_EQ(
        texts(ui::test::messagesShown()),
        (std::vector<std::string>{"Do you want to delete: |/renamed.txt file.", "File was deleted!",
                                  "Do you want to remove: |/old directory.", "Directory was removed!"}));

    // Create Directory in a folder and in the root, each dialog showing where.
    contextMenu(d, "/pub/notes.txt", 3);  // a file row: its folder
    answerDialog(d, "inner", "/pub");
    ASSERT_TRUE(treeIs(d, {address, "pub", "inner", "notes.txt", "upload.bin"}));
    EXPECT_TRUE(server_->exists("pub/inner"));
    contextMenu(d, "/", 3);
    answerDialog(d, "made here", "/");
    ASSERT_TRUE(treeIs(d, {address, "made here", "pub", "inner", "notes.txt", "upload.bin"}));
    // Closed by a double-click, a folder stays closed when its parent is listed again.
    ASSERT_TRUE(open(d, "/pub"));
    EXPECT_FALSE(drawn(d, "/pub/notes.txt"));
    contextMenu(d, "/", 3);
    answerDialog(d, "more", "/");
    ASSERT_TRUE(treeIs(d, {address, "made here", "more", "pub"}));
    EXPECT_TRUE(server_->exists("made here"));

    EXPECT_EQ(texts(ui::test::messagesShown()),
              (std::vector<std::string>{"New directory was created!", "New directory was created!",
                                        "New directory was created!"}));

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

// A file far larger than any test waits for: its download is in flight for as long as a test needs.
void putHugeFile(testsupport::FtpServer& server, std::string_view name) {
  server.put(name, "");
  fs::resize_file(server.pathOf(name), std::uintmax_t{1} << 30);  // sparse: no disk, no time
}

class ClientWindowOnPyftpdlib : public ClientWindowBase {
 protected:
  void SetUp() override {
    ClientWindowBase::SetUp();
    startServer("pyftpdlib", true);
  }
};

// Every control of the availability table tried as a user tries it: a disabled one takes no click
// and no text; an enabled one is used for what the state allows, harmlessly where it must not move on.
TEST_F(ClientWindowOnPyftpdlib, EachStateOffersItsOwnControls) {
  // Sparse files past 2 and 4 GiB, whose sizes do not fit 32 bits.
  server_->put("five.img", "");
  server_->put("pub/three.img", "");
  fs::resize_file(server_->pathOf("five.img"), std::uintmax_t{5} << 30);
  fs::resize_file(server_->pathOf("pub/three.img"), std::uintmax_t{3} << 30);
  runClient([&](Driver& d) {
    auto takesNothing = [&](std::string_view state, std::initializer_list<int> controls) {
      for (int c : controls) {
        const bool entry = c == control::ProxyServer || c == control::ServerName || c == control::UserName ||
                           c == control::Password;
        EXPECT_FALSE(entry ? d.enterText(c, "x") : d.click(c)) << state << ": control " << c;
      }
    };
    auto takesTwoClicks = [&](int c) { return d.click(c) && d.click(c); };  // and is as it was

    // No session.
    takesNothing("no session", {control::CloseSession, control::ServerName, control::UserName,
                                control::Password, control::Passive, control::Binary, control::Ascii,
                                control::Connect, control::Disconnect, control::Get, control::Put});
    EXPECT_TRUE(d.enterText(control::ProxyServer, ""));
    EXPECT_TRUE(takesTwoClicks(control::ProxyFromRegistry));
    EXPECT_TRUE(d.click(control::StartSession));
    d.settle();

    // Session open.
    takesNothing("session open", {control::StartSession, control::ProxyServer, control::Disconnect,
                                  control::Get, control::Put});
    EXPECT_TRUE(takesTwoClicks(control::Passive));
    EXPECT_TRUE(d.click(control::Ascii));
    EXPECT_TRUE(d.click(control::Binary));
    EXPECT_TRUE(takesTwoClicks(control::ProxyFromRegistry));
    ASSERT_TRUE(connect(d));  // the three entries and Connect

    // Connected.
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "five.img\t5,242,880 KB"));
    EXPECT_EQ(d.shown(control::RemotePath), "/");
    takesNothing("connected", {control::StartSession, control::ProxyServer, control::Connect});
    EXPECT_TRUE(d.enterText(control::ServerName, server_->address()));
    EXPECT_TRUE(d.enterText(control::UserName, server_->user()));
    EXPECT_TRUE(d.enterText(control::Password, server_->password()));
    EXPECT_TRUE(takesTwoClicks(control::Passive));
    EXPECT_TRUE(d.click(control::Binary));
    EXPECT_TRUE(d.click(control::Get));  // on the server's row
    EXPECT_TRUE(d.click(control::Put));  // with no local file highlighted
    d.settle();
    EXPECT_EQ(ui::test::messagesShown().size(), 2u);
    EXPECT_TRUE(d.click(control::Disconnect));
    d.settle();

    // Back to Session open, then to No session; the remote path goes with the tree.
    EXPECT_EQ(d.shown(control::RemotePath), "");
    takesNothing("disconnected", {control::StartSession, control::Disconnect, control::Get, control::Put});
    EXPECT_TRUE(d.click(control::CloseSession));
    d.settle();
    takesNothing("closed", {control::CloseSession, control::ServerName, control::Connect, control::Get});

    // Closed from a folder, the session leaves no path behind.
    ASSERT_TRUE(connect(d));
    ASSERT_TRUE(open(d, "/pub"));
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "three.img\t3,145,728 KB"));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub/three.img")));
    d.settle();
    EXPECT_EQ(d.shown(control::RemotePath), "/pub");
    EXPECT_TRUE(d.click(control::CloseSession));
    d.settle();
    EXPECT_EQ(d.shown(control::RemotePath), "");
    EXPECT_TRUE(d.rows(control::RemoteTree).empty());
  });
}

TEST_F(ClientWindowOnPyftpdlib, TaggedFilesArePutOneAfterTheOtherIntoOneDirectory) {
  server_->makeDirectory("pub");
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
    testsupport::writeFile(local_ / name, randomBytes(30000, static_cast<std::uint32_t>(name[0])));
  runClient([&](Driver& d) {
    using Marks = std::vector<bool>;
    auto row = [](std::string_view name) { return Driver::fileRow(name); };
    ASSERT_TRUE(connect(d));

    // A click on a file's box, or Space on the highlighted file, tags it or clears its tag.
    ASSERT_TRUE(d.clickMark(control::FileList, row("a.txt")));
    ASSERT_TRUE(d.clickRow(control::FileList, row("c.txt")));
    ui::pressKey(ui::key::Space);
    ASSERT_TRUE(d.clickMark(control::FileList, row("b.txt")));
    ASSERT_TRUE(d.clickMark(control::FileList, row("b.txt")));
    d.settle();
    EXPECT_EQ(ui::test::shownMarks(d.window(), control::FileList), (Marks{true, false, true, false}));
    ASSERT_TRUE(d.click(control::ClearLocalTags));
    d.settle();
    EXPECT_EQ(ui::test::shownMarks(d.window(), control::FileList), (Marks{false, false, false, false}));
    ASSERT_TRUE(d.clickMark(control::FileList, row("a.txt")));
    ASSERT_TRUE(d.clickMark(control::FileList, row("c.txt")));

    // Put sends the tagged files, not the highlighted one, all into the folder current when it was
    // pressed, though the user highlights another folder meanwhile.
    ASSERT_TRUE(d.clickRow(control::FileList, row("d.txt")));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub")));
    ASSERT_TRUE(d.click(control::Put));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/")));
    ASSERT_TRUE(Driver::waitFor([&] { return server_->exists("pub/c.txt"); }));
    ASSERT_TRUE(Driver::idle());
    d.settle();
    EXPECT_EQ(server_->read("pub/a.txt"), randomBytes(30000, 'a'));
    EXPECT_EQ(server_->read("pub/c.txt"), randomBytes(30000, 'c'));
    EXPECT_EQ(testsupport::listTree(server_->root()),
              (std::vector<std::string>{"pub/", "pub/a.txt", "pub/c.txt"}));
    EXPECT_EQ(ui::test::shownMarks(d.window(), control::FileList), (Marks{false, false, false, false}));
    EXPECT_EQ(texts(ui::test::messagesShown()), std::vector<std::string>{});

    // Without tags, Put sends the highlighted file into the current directory.
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/")));
    ASSERT_TRUE(d.click(control::Put));
    ASSERT_TRUE(Driver::waitFor([&] { return server_->exists("d.txt"); }))
        << ::testing::PrintToString(texts(ui::test::messagesShown())) << d.shown(control::FileList) << " | "
        << engine::RemoteDirectory.get().str() << " " << engine::OperationState.load();
    ASSERT_TRUE(Driver::idle());
    EXPECT_EQ(server_->read("d.txt"), randomBytes(30000, 'd'));
  });
}

TEST_F(ClientWindowOnPyftpdlib, EachRefusalSaysWhyAndStartsNothing) {
  server_->makeDirectory("pub");
  putHugeFile(*server_, "huge.bin");
  testsupport::writeFile(local_ / "local.txt", "local");
  runClient([&](Driver& d) {
    // Get and Put cannot be pressed before a Connect; their events still meet their checks.
    ui::post(d.window(), ui::event::Accepted, control::Get);
    ui::post(d.window(), ui::event::Accepted, control::Put);
    d.settle();
    auto shown = ui::test::messagesShown();
    ASSERT_EQ(shown.size(), 1u) << "Put while not connected says nothing";
    EXPECT_EQ(shown[0].text, "Not in session.");
    EXPECT_EQ(shown[0].caption, "");

    ASSERT_TRUE(d.click(control::StartSession));
    ASSERT_TRUE(d.enterText(control::ServerName, "  "));
    const auto state = engine::OperationState.load();
    ASSERT_TRUE(d.click(control::Connect));
    d.settle();
    EXPECT_EQ(texts(ui::test::messagesShown()), (std::vector<std::string>{"Please enter a server name!"}));
    EXPECT_EQ(engine::OperationState.load(), state);
    EXPECT_EQ(DirectoryList.count(), 0u);

    ASSERT_TRUE(connect(d));
    const std::string address = server_->address();
    ASSERT_TRUE(treeIs(d, {address, "huge.bin", "pub"}));
    ASSERT_TRUE(d.click(control::Get));  // the server's row is highlighted
    ASSERT_TRUE(d.click(control::Put));  // no local file is
    d.settle();
    engine::RemoteDirectory = "";  // no row leaves it so; the check is there all the same
    ASSERT_TRUE(d.click(control::Put));
    d.settle();
    engine::RemoteDirectory = "/";
    shown = ui::test::messagesShown();
    EXPECT_EQ(texts(shown),
              (std::vector<std::string>{"Cannot \"GET\" Directory.", "Please select a local file to put",
                                        "Please select a remote directory to PUT to!"}));
    for (const auto& box : shown) {
      EXPECT_EQ(box.caption, "");
      EXPECT_EQ(box.icon, ui::ICON_NONE);
      EXPECT_EQ(box.buttons, ui::BUTTON_OK);
    }

    // Enter on the tree, and the file list's alerts, start nothing.
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub"), ui::key::Enter));
    ASSERT_TRUE(d.clickRow(control::FileList, Driver::fileRow("local.txt"), ui::key::MouseLeftDouble));
    ASSERT_TRUE(d.clickRow(control::FileList, Driver::fileRow("local.txt"), ui::key::MouseRight));
    d.settle();
    EXPECT_EQ(treeNames(d), (std::vector<std::string>{address, "huge.bin", "pub"}));
    EXPECT_TRUE(ui::test::popupsShown().empty());
    EXPECT_TRUE(ui::test::messagesShown().empty());
    EXPECT_EQ(engine::OperationState.load(), engine::state::Idle);

    // While a download is in flight, Get and Put are refused and the tree's buttons do nothing.
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/huge.bin")));
    engine::ProgressTotal = 0;  // counted afresh once the download's data flows
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([] { return engine::ProgressTotal.load() > 65536; })) << server_->log();
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/"), ui::key::MouseRight));
    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/pub"), ui::key::MouseLeftDouble));
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(d.click(control::Put));
    d.settle();
    EXPECT_EQ(engine::OperationState.load(), engine::state::GetRunning) << "the download outlasts the test";
    EXPECT_TRUE(ui::test::popupsShown().empty());
    shown = ui::test::messagesShown();
    ASSERT_EQ(texts(shown),
              (std::vector<std::string>{"Cannot process request now", "Cannot process request now"}));
    EXPECT_EQ(shown[0].caption, "FTP Client");
    EXPECT_EQ(d.top(), d.window()) << "no dialog opened";
    EXPECT_EQ(treeNames(d), (std::vector<std::string>{address, "huge.bin", "pub"})) << "pub stays closed";

    // Closing the session cancels the download: its error is told; what came of it waits, hidden
    // beside its target, for the next Get to resume, and the file list shows none of it.
    ASSERT_TRUE(d.click(control::CloseSession));
    ASSERT_TRUE(Driver::idle());
    shown = ui::test::messagesShown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "OrinFTP Client Error");
    d.settle();
    EXPECT_FALSE(contains(d.rows(control::FileList), "huge.bin"));
    EXPECT_FALSE(contains(d.rows(control::FileList), ".huge.bin.part"));
  });
  EXPECT_EQ(testsupport::listTree(local_.path()),
            (std::vector<std::string>{".huge.bin.part", ".huge.bin.part.info", "local.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientWindowOnServer,
                         ::testing::Values(Mode{"pyftpdlib", true}, Mode{"pyftpdlib", false},
                                           Mode{"vsftpd", true}, Mode{"vsftpd", false}, Mode{"proftpd", true},
                                           Mode{"pure-ftpd", true}),
                         [](const auto& info) {
                           return testsupport::testNameOf(info.param.server) +
                                  (info.param.passive ? "_passive" : "_active");
                         });

// Links on the server, as each server lists them: a link to a folder opens on a double-click and lists
// what is inside, a link to a file shows the file's size and downloads it, a link to nothing (where the
// server lists one) is a file without a size.
class ClientWindowLinks : public ClientWindowBase, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    ClientWindowBase::SetUp();
    startServer(GetParam(), true);
  }
};

TEST_P(ClientWindowLinks, AFolderLinkOpensAndAFileLinkIsItsFile) {
  server_->put("data/inner.txt", randomBytes(3000, 4));
  server_->put("target.bin", randomBytes(9000, 5));
  server_->link("folder", "data");
  server_->link("file", "target.bin");
  server_->link("gone", "nowhere");
  server_->link("data/up", "..");
  const std::string address = server_->address();
  // proftpd and pyftpdlib leave a link to nothing out of their listings.
  const bool goneListed = GetParam() == "vsftpd" || GetParam() == "pure-ftpd";
  auto withGone = [&](std::vector<std::string> names) {
    if (goneListed) names.insert(std::find(names.begin(), names.end(), "target.bin"), "gone");
    return names;
  };

  runClient([&](Driver& d) {
    ASSERT_TRUE(connect(d)) << server_->log();
    ASSERT_TRUE(treeIs(d, withGone({address, "data", "file", "folder", "target.bin"})));
    const auto rows = d.rows(control::RemoteTree);
    EXPECT_TRUE(contains(rows, "file\t8 KB"));
    EXPECT_TRUE(contains(rows, "folder\t"));
    if (goneListed) {
      EXPECT_TRUE(contains(rows, "gone\t"));
    }

    ASSERT_TRUE(open(d, "/folder"));
    ASSERT_TRUE(treeIs(d, withGone({address, "data", "file", "folder", "inner.txt", "up", "target.bin"})));
    EXPECT_TRUE(contains(d.rows(control::RemoteTree), "inner.txt\t2 KB"));
    EXPECT_EQ(d.shown(control::RemotePath), "/folder");
    // A link back up is a folder too, opened one level at a time.
    ASSERT_TRUE(open(d, "/folder/up"));
    EXPECT_TRUE(Driver::waitFor([&] { return drawn(d, "/folder/up/target.bin"); }));

    ASSERT_TRUE(d.clickRow(control::RemoteTree, Driver::treeRow("/file")));
    ASSERT_TRUE(d.click(control::Get));
    ASSERT_TRUE(Driver::waitFor([&] { return contains(d.rows(control::FileList), "file"); }));
    EXPECT_EQ(testsupport::readFile(local_ / "file"), randomBytes(9000, 5));
    EXPECT_EQ(texts(ui::test::messagesShown()), std::vector<std::string>{});
  });
}

INSTANTIATE_TEST_SUITE_P(Servers, ClientWindowLinks, ::testing::ValuesIn(testsupport::serverKinds()),
                         [](const auto& info) { return testsupport::testNameOf(info.param); });

}  // namespace
}  // namespace client
