// The engine's own logic, without a server: size texts, remote paths, tree order and insertion, node
// actions that list nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/callback.h"
#include "engine/commands.h"
#include "engine/session.h"
#include "engine/texts.h"
#include "engine/tree.h"
#include "standin_window.h"

namespace {

using namespace engine;

TEST(SizeText, BoundariesAndSign) {
  EXPECT_EQ(sizeText(0).str(), "");
  EXPECT_EQ(sizeText(1).str(), "1 bytes");
  EXPECT_EQ(sizeText(1023).str(), "1023 bytes");
  EXPECT_EQ(sizeText(1024).str(), "1 KB");
  EXPECT_EQ(sizeText(2047).str(), "1 KB");
  EXPECT_EQ(sizeText(1048576).str(), "1,024 KB");
  EXPECT_EQ(sizeText(2147483647).str(), "2,097,151 KB");
  // 2 GiB and more arrive as negative 32-bit sizes.
  EXPECT_EQ(sizeText(-5).str(), "-5 bytes");
  EXPECT_EQ(sizeText(-2147483647 - 1).str(), "-2147483648 bytes");
}

TEST(RemotePaths, PlacingUploadAndParent) {
  EXPECT_EQ(placeIn("/", "a.txt"), "/a.txt");
  EXPECT_EQ(placeIn("/pub", "a.txt  "), "/pub/a.txt");
  EXPECT_EQ(uploadTarget("/", "a.txt"), "a.txt");  // the root takes the bare name
  EXPECT_EQ(uploadTarget("/pub", "a.txt"), "/pub/a.txt");
  EXPECT_EQ(parentOf("/pub/src/old"), "/pub/src");
  EXPECT_EQ(parentOf("/pub"), "/");  // directly under the root
  EXPECT_EQ(parentOf("/"), "/");
}

class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerName = "srv";
    DirectoryList.free();
    FoundFiles.free();
    insertListing("srv");
  }
  void TearDown() override { ServerName = kDefaultServerName; }

  static void found(std::vector<std::pair<std::string, std::uint32_t>> entries) {
    FoundFiles.free();
    for (auto& [name, attribute] : entries) {
      FoundFilesRecord r;
      r.FILENAME = name;
      r.ATTRIBUTE = attribute;
      r.SIZE = 2048;
      FoundFiles.add(r);
    }
  }
  static std::vector<std::string> paths() {
    std::vector<std::string> out;
    for (const auto& r : DirectoryList.snapshot()) out.emplace_back(r.FULLPATHNAME.view());
    return out;
  }
  static DirectoryListRecord node(std::string_view path, std::int32_t* index = nullptr) {
    DirectoryListRecord r;
    const auto all = DirectoryList.snapshot();
    for (std::size_t i = 0; i < all.size(); ++i)
      if (all[i].FULLPATHNAME == path) {
        if (index) *index = static_cast<std::int32_t>(i + 1);
        return all[i];
      }
    ADD_FAILURE() << "no node " << path;
    return r;
  }
};

TEST_F(Tree, RootThenEntriesInTreeOrder) {
  ASSERT_EQ(DirectoryList.count(), 1u);
  const auto root = node("srv");
  EXPECT_EQ(root.ICONFIELD, icon::Server);
  EXPECT_EQ(root.TREELEVEL, 1);
  EXPECT_EQ(root.ATTRIBUTE, 16);

  // "pub.txt" and "pub-old" share a prefix with "pub": its children must still follow it directly.
  found({{"pub.txt", 0x80}, {"pub", 16}, {"pub-old", 16}, {"ro-dir", 16 | 1}});
  insertListing("srv");
  found({{"z", 0x80}, {"a", 16}});
  insertListing("srv/pub");
  EXPECT_EQ(paths(), (std::vector<std::string>{"srv", "srv/pub", "srv/pub/a", "srv/pub/z", "srv/pub-old",
                                               "srv/pub.txt", "srv/ro-dir"}));
  const auto a = node("srv/pub/a");
  EXPECT_EQ(a.TREELEVEL, 3);
  EXPECT_EQ(a.ICONFIELD, icon::ClosedFolder);
  EXPECT_EQ(a.NAME.str(), "a");
  EXPECT_EQ(a.SIZESTR.str(), "2 KB");
  EXPECT_EQ(a.WASENUMERATED, 0);
  EXPECT_EQ(node("srv/ro-dir").ICONFIELD, icon::File);  // 16 plus other bits is not a directory
}

TEST_F(Tree, LongNamesCutAndUnfittingPathsLeftOut) {
  const std::string longName(100, 'n');
  FoundFilesRecord r;
  r.FILENAME = longName;
  EXPECT_EQ(r.FILENAME.length(), 79u);
  found({{longName, 0x80}, {std::string(79, 'd'), 16}});
  insertListing("srv");
  EXPECT_EQ(node("srv/" + std::string(79, 'n')).NAME.length(), 79u);

  // Four levels of 79 characters do not fit a full path of 259: the fourth is not shown at all.
  std::string parent = "srv/" + std::string(79, 'd');
  for (int level = 0; level < 3; ++level) {
    found({{std::string(79, 'd'), 16}});
    insertListing(parent);
    parent += "/" + std::string(79, 'd');
  }
  EXPECT_EQ(DirectoryList.count(), 5u);
  for (const auto& p : paths()) EXPECT_LE(p.size(), 259u);
}

TEST_F(Tree, EntriesOfAMissingParentGoNowhere) {
  found({{"x", 0x80}});
  insertListing("srv/gone");
  EXPECT_EQ(DirectoryList.count(), 1u);
}

TEST_F(Tree, NodeActionsThatListNothing) {
  found({{"pub", 16}, {"readme.txt", 0x80}});
  insertListing("srv");
  found({{"notes.txt", 0x80}});
  insertListing("srv/pub");
  std::int32_t index = 0;
  auto pub = node("srv/pub", &index);
  pub.ICONFIELD = icon::OpenFolder;
  pub.WASENUMERATED = 1;
  DirectoryList.put(index, pub);

  TreeIndex = index;
  nodeAction(pub);  // collapse
  auto collapsed = node("srv/pub");
  EXPECT_EQ(collapsed.ICONFIELD, icon::ClosedFolder);
  EXPECT_EQ(collapsed.TREELEVEL, -2);
  EXPECT_EQ(RemoteDirectory.get().str(), "/pub");

  OperationState = state::Idle;
  nodeAction(collapsed);  // reopen: listed already, so nothing is listed
  EXPECT_EQ(node("srv/pub").ICONFIELD, icon::OpenFolder);
  EXPECT_EQ(node("srv/pub").TREELEVEL, 2);
  EXPECT_EQ(DirectoryList.count(), 4u);
  EXPECT_EQ(OperationState.load(), state::Idle);

  nodeAction(node("srv/pub/notes.txt"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/pub");
  nodeAction(node("srv/readme.txt"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/");
  RemoteDirectory = "/pub";
  nodeAction(node("srv"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/");
  EXPECT_EQ(relativePathOf("srv"), "/");
  EXPECT_EQ(relativePathOf("srv/pub/notes.txt"), "/pub/notes.txt");
}

TEST(StatusCallback, TextsHandlesAndCompletionsOutsideACommand) {
  ui::test::headlessDialogs(true);
  ui::test::messagesShown();
  enginetest::StandInWindow window;
  statusCallback(nullptr, 1, INTERNET_STATUS_RESOLVING_NAME, nullptr, 0);
  EXPECT_EQ(window.status(1), "Resolving name");
  statusCallback(nullptr, 1, INTERNET_STATUS_DETECTING_PROXY, nullptr, 0);
  EXPECT_EQ(window.status(1), "");

  INTERNET_ASYNC_RESULT created{0x1234, 0};
  statusCallback(nullptr, 1, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
  EXPECT_EQ(hFtp.load(), 0x1234u);
  EXPECT_EQ(window.status(1), "Handle created");
  DWORD shortData = 7;
  statusCallback(nullptr, 1, INTERNET_STATUS_HANDLE_CREATED, &shortData, 2);  // less than a handle
  EXPECT_EQ(hFtp.load(), 0x1234u);

  OperationState = state::Idle;
  INTERNET_ASYNC_RESULT done{TRUE, 0};
  statusCallback(nullptr, 1, INTERNET_STATUS_REQUEST_COMPLETE, &done, sizeof done);
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(window.status(1), "Request completed");
  EXPECT_TRUE(ui::test::messagesShown().empty());

  // A completion too short to say how it ended is a failure, not a success.
  OperationState = state::DeleteRunning;
  window.window().setStatus(1, "before");
  statusCallback(nullptr, 1, INTERNET_STATUS_REQUEST_COMPLETE, &done, 4);
  EXPECT_EQ(OperationState.load(), state::Idle);
  const auto shown = ui::test::messagesShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "OrinFTP Client Error");
  EXPECT_EQ(window.status(1), "before");  // the error path leaves the status line alone
}

TEST(StatusCallback, ProgressSkipsThreeCountsThenAddsUp) {
  enginetest::StandInWindow window;
  TransferSize = 1000;
  ProgressLabel = "Received:";
  bProgressStarted = 0;
  window.window().setStatus(2, "idle");
  DWORD bytes = 100;
  OperationState = state::GetConnecting;  // a connect's replies are not the transfer's
  statusCallback(nullptr, 1, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
  EXPECT_EQ(bProgressStarted.load(), 0);

  OperationState = state::GetRunning;
  for (int i = 0; i < 3; ++i)
    statusCallback(nullptr, 1, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
  EXPECT_EQ(ProgressTotal.load(), 0);
  EXPECT_EQ(window.status(2), "idle");
  statusCallback(nullptr, 1, INTERNET_STATUS_REQUEST_SENT, &bytes,
                 sizeof bytes);  // not counted in a download
  statusCallback(nullptr, 1, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
  EXPECT_EQ(ProgressTotal.load(), 100);
  EXPECT_EQ(ProgressPercent.load(), 10);
  EXPECT_EQ(window.status(2), "Received: 100 bytes.");
  for (int i = 0; i < 10; ++i)
    statusCallback(nullptr, 1, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
  EXPECT_EQ(ProgressPercent.load(), 100);  // the closing reply may take it past the size

  TransferSize = 0;
  statusCallback(nullptr, 1, INTERNET_STATUS_RESPONSE_RECEIVED, &bytes, sizeof bytes);
  EXPECT_EQ(ProgressPercent.load(), 0);
  finishTransfer(state::Idle);
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(bProgressStarted.load(), 0);
  EXPECT_EQ(window.status(2), "Finished");
}

}  // namespace
