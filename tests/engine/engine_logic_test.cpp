// The engine's logic without a server: size texts, remote paths, tree order and insertion, node actions
// that list nothing, the status callback fed by hand, and commands refused before they reach a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "engine/notification.h"
#include "engine/remote_commands.h"
#include "engine/status_callback.h"
#include "engine/texts.h"
#include "engine/thread_check.h"
#include "standin_window.h"

namespace {

using namespace engine;

TEST(SizeText, BoundariesAndSign) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, ""},
      {1023, "1023 bytes"},
      {1024, "1 KB"},
      {2047, "1 KB"},
      {1048576, "1,024 KB"},
      {2147483647, "2,097,151 KB"},
      {std::int64_t{3} << 30, "3,145,728 KB"},  // past 2 GiB, no longer negative
      {std::int64_t{5} << 30, "5,242,880 KB"},  // past 4 GiB, not its low 32 bits
      {-5, "-5 bytes"}};
  for (const auto& [size, text] : cases) EXPECT_EQ(sizeText(size).str(), text) << size;
}

TEST(RemotePaths, PlacingUploadAndParent) {
  EXPECT_EQ(placeIn("/", "a.txt"), "/a.txt");
  EXPECT_EQ(placeIn("/pub", "a.txt  "), "/pub/a.txt");
  EXPECT_EQ(uploadTarget("/", "a.txt"), "a.txt");
  EXPECT_EQ(uploadTarget("/pub", "a.txt"), "/pub/a.txt");
  EXPECT_EQ(parentOf("/pub/src/old"), "/pub/src");
  EXPECT_EQ(parentOf("/pub"), "/");
}

void listed(std::string_view parent, std::vector<std::pair<std::string, std::uint32_t>> entries) {
  FoundFiles.free();
  for (auto& [name, attribute] : entries) {
    FoundFilesRecord r;
    r.FILENAME = name;
    r.ATTRIBUTE = attribute;
    r.SIZE = 2048;
    FoundFiles.add(r);
  }
  insertListing(parent);
}

DirectoryListRecord node(std::string_view path) {
  DirectoryListRecord r;
  EXPECT_NE(DirectoryList.find([&](const auto& n) { return n.FULLPATHNAME == path; }, r), 0u) << path;
  return r;
}

TEST(Tree, GrowsInTreeOrderAndLeavesOutWhatCannotBeNamed) {
  ServerName = "srv";
  DirectoryList.free();
  listed("srv", {{"ignored", 0x80}});  // an empty tree takes the root only
  ASSERT_EQ(DirectoryList.count(), 1u);
  EXPECT_EQ(node("srv").ICONFIELD, icon::Server);

  // "pub.txt" and "pub-old" share a prefix with "pub": its children must still follow it directly.
  listed("srv", {{"pub.txt", 0x80}, {"pub", 16}, {"pub-old", 16}, {"ro-dir", 16 | 1}});
  listed("srv/pub", {{"z", 0x80}, {"a", 16}});
  listed("srv/gone", {{"x", 0x80}});  // a parent that is not there takes nothing
  std::vector<std::string> paths;
  for (const auto& r : DirectoryList.snapshot()) paths.emplace_back(r.FULLPATHNAME.view());
  EXPECT_EQ(paths, (std::vector<std::string>{"srv", "srv/pub", "srv/pub/a", "srv/pub/z", "srv/pub-old",
                                             "srv/pub.txt", "srv/ro-dir"}));
  const auto a = node("srv/pub/a");
  EXPECT_EQ(a.TREELEVEL, 3);
  EXPECT_EQ(a.ICONFIELD, icon::ClosedFolder);
  EXPECT_EQ(a.SIZESTR.str(), "2 KB");
  EXPECT_EQ(node("srv/ro-dir").ICONFIELD, icon::File);  // 16 plus other bits is a file

  // Names are cut at 79; a fourth level of such names would not fit a full path of 259 and is left out.
  const std::string d(100, 'd');
  listed("srv", {{d, 16}});
  std::string parent = "srv/" + d.substr(0, 79);
  EXPECT_EQ(node(parent).NAME.length(), 79u);
  for (int level = 0; level < 3; ++level, parent += "/" + d.substr(0, 79)) listed(parent, {{d, 16}});
  EXPECT_EQ(DirectoryList.count(), 10u);

  // A file's directory, and the root's, become the current remote directory.
  nodeAction(node("srv/pub/z"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/pub");
  nodeAction(node("srv/pub.txt"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/");
  ServerName = kDefaultServerName;
}

TEST(NotificationData, EachValueIsReadOnlyWhenTheDataHoldsItWhole) {
  // Buffers of exactly the length reported: reading one byte further is an error the sanitizer sees.
  const auto exactly = [](const auto& value, std::size_t length) {
    auto bytes = std::make_unique<unsigned char[]>(length);
    std::memcpy(bytes.get(), &value, std::min(length, sizeof value));
    return bytes;
  };
  const INTERNET_ASYNC_RESULT done{0x1234, 0};
  constexpr std::size_t withoutPadding = offsetof(INTERNET_ASYNC_RESULT, dwError) + sizeof(DWORD);
  auto data = exactly(done, withoutPadding);
  EXPECT_EQ(completionOf(data.get(), withoutPadding).dwResult, 0x1234u);
  EXPECT_EQ(completionOf(data.get(), withoutPadding).dwError, 0u);
  data = exactly(done, withoutPadding - 1);
  EXPECT_EQ(completionOf(data.get(), withoutPadding - 1).dwError, DWORD{ERROR_INTERNET_INTERNAL_ERROR})
      << "a completion that cannot say how it ended has failed";
  EXPECT_EQ(completionOf(nullptr, sizeof done).dwError, DWORD{ERROR_INTERNET_INTERNAL_ERROR});

  data = exactly(done, 4);
  EXPECT_EQ(createdHandleOf(data.get(), 4), 0x1234u);
  EXPECT_EQ(createdHandleOf(data.get(), 3), std::nullopt);
  const DWORD count = 4096;
  data = exactly(count, 4);
  EXPECT_EQ(byteCountOf(data.get(), 4), 4096u);
  EXPECT_EQ(byteCountOf(data.get(), 3), std::nullopt);
  EXPECT_EQ(byteCountOf(nullptr, 4), std::nullopt);
}

TEST(StatusCallback, NotificationsFedByHand) {
  ui::test::headlessDialogs(true);
  ui::test::messagesShown();
  enginetest::StandInWindow window;
  // As the FTP layer delivers them: on a thread other than the window's.
  const auto notify = [](DWORD status, auto value, DWORD length) {
    std::thread([&] { statusCallback(nullptr, 1, status, &value, length); }).join();
  };
  window.window().setStatus(1, "Resolving name");
  notify(INTERNET_STATUS_DETECTING_PROXY, 0, 0);  // not described: clears the line
  EXPECT_EQ(window.status(1), "");
  notify(INTERNET_STATUS_HANDLE_CREATED, INTERNET_ASYNC_RESULT{0x1234, 0}, sizeof(INTERNET_ASYNC_RESULT));
  notify(INTERNET_STATUS_HANDLE_CREATED, DWORD{7}, 2);  // less than a handle: not read
  EXPECT_EQ(hFtp.load(), 0x1234u);

  enter(state::Idle);
  notify(INTERNET_STATUS_REQUEST_COMPLETE, INTERNET_ASYNC_RESULT{TRUE, 0}, sizeof(INTERNET_ASYNC_RESULT));
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(window.status(1), "Request completed");
  EXPECT_TRUE(ui::test::messagesShown().empty());
  // A completion too short to say how it ended is a failure, not a success.
  enter(state::DeleteRunning);
  notify(INTERNET_STATUS_REQUEST_COMPLETE, INTERNET_ASYNC_RESULT{TRUE, 0}, 4);
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(ui::test::messagesShown().at(0).caption, "OrinFTP Client Error");

  // Progress: a connect's replies are not a transfer's, nor are the commands sent in a download.
  TransferSize = 1000;
  ProgressLabel = "Received:";
  enter(state::GetConnecting);
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, DWORD{100}, 4);
  EXPECT_EQ(bProgressStarted.load(), 0);
  enter(state::GetRunning);
  for (int i = 0; i < 3; ++i) notify(INTERNET_STATUS_RESPONSE_RECEIVED, DWORD{100}, 4);
  notify(INTERNET_STATUS_REQUEST_SENT, DWORD{100}, 4);  // not a download's count
  EXPECT_EQ(ProgressTotal.load(), 0);
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, DWORD{100}, 4);
  EXPECT_EQ(ProgressPercent.load(), 10);
  for (int i = 0; i < 10; ++i) notify(INTERNET_STATUS_RESPONSE_RECEIVED, DWORD{100}, 4);
  EXPECT_EQ(ProgressPercent.load(), 100);  // the closing reply may take it past the size
  TransferSize = 0;
  notify(INTERNET_STATUS_RESPONSE_RECEIVED, DWORD{100}, 4);
  EXPECT_EQ(ProgressPercent.load(), 0);
  finishTransfer(state::Idle);
  EXPECT_EQ(window.status(2), "Finished");
}

TEST(Commands, RefusedBeforeTheyReachTheServer) {
  ui::test::headlessDialogs(true);
  ui::test::messagesShown();
  // A path cut to its field would name another file: the command is not started.
  enter(state::Idle);
  RemoteDirectory = "/" + std::string(250, 'd');
  startDeleteFile("a-name-that-does-not-fit.txt");
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(ui::test::messagesShown().at(0).text.rfind("The path is too long:|", 0), 0u);

  // A connect the FTP layer refuses at once gets no completion: it must not leave the state busy.
  hOpen = 0x7ffffff0;
  enter(state::DeleteConnecting);
  EXPECT_FALSE(issueConnect());
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(ui::test::messagesShown().at(0).caption, "OrinFTP Client Error");
  hOpen = 0;
  RemoteDirectory = "/";
}

#if NIMBO_THREAD_CHECKS
// A window's entry point run on another thread, or a delivery thread's run on the window's, stops the
// program at once and names it.
TEST(ThreadChecksDeathTest, AnEntryPointOnTheWrongThreadAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        MainThread = ui::currentThread();
        std::thread([] { startDeleteFile("a.txt"); }).join();
      },
      "startDeleteFile runs on the window's thread");
  EXPECT_DEATH(
      {
        MainThread = ui::currentThread();
        requestCompleted(INTERNET_ASYNC_RESULT{TRUE, 0});
      },
      "requestCompleted runs on a delivery thread");
  EXPECT_TRUE(onWindowThread());  // no window: nothing to tell apart
}
#endif

}  // namespace
