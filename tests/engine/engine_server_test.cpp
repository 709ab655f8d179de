// The engine against real servers (pyftpdlib and vsftpd on loopback), driven through a stand-in window
// as the client window drives it: session, root listing, folders, the six commands, progress, failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "engine/remote_commands.h"
#include "engine/status_callback.h"
#include "engine/texts.h"
#include "engine/thread_check.h"
#include "ftp_servers.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "kernel/paths.h"
#include "standin_window.h"

namespace {

using namespace engine;
using testsupport::randomBytes;
using Transitions = std::vector<std::pair<int, int>>;

// One notification as the engine saw it: the state before and after, and the progress it left.
struct Step {
  DWORD status = 0, bytes = 0;
  std::int16_t before = 0, after = 0;
  std::int64_t total = 0;
  std::int32_t percent = 0;
  std::string progressText;
  bool onWindowThread = false;
};

// Never destroyed: the FTP layer's delivery threads are not joined at exit.
std::mutex& traceMutex = *new std::mutex;
std::vector<Step>& trace = *new std::vector<Step>;

void tracingCallback(HINTERNET h, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  Step step;
  step.status = status;
  step.before = OperationState.load();
  if ((status == INTERNET_STATUS_REQUEST_SENT || status == INTERNET_STATUS_RESPONSE_RECEIVED) && info)
    step.bytes = *static_cast<DWORD*>(info);
  statusCallback(h, context, status, info, length);
  step.after = OperationState.load();
  step.total = ProgressTotal.load();
  step.percent = ProgressPercent.load();
  step.progressText = ui::status(MainWindow.load(), 2);
  step.onWindowThread = onWindowThread();
  std::lock_guard lock(traceMutex);
  trace.push_back(step);
}

std::vector<Step> traced(DWORD status, std::optional<std::int16_t> before = std::nullopt) {
  std::lock_guard lock(traceMutex);
  std::vector<Step> out;
  for (const Step& s : trace)
    if (s.status == status && (!before || s.before == *before)) out.push_back(s);
  return out;
}

// Whether the parts appear in the text in this order.
bool inOrder(const std::string& text, std::initializer_list<std::string_view> parts) {
  std::size_t at = 0;
  for (const std::string_view part : parts)
    if ((at = text.find(part, at)) == std::string::npos) return false;
  return true;
}

Transitions completions() {
  Transitions out;
  for (const Step& s : traced(INTERNET_STATUS_REQUEST_COMPLETE)) out.emplace_back(s.before, s.after);
  return out;
}

class EngineOnServer : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ui::test::headlessDialogs(true);
    server_ = GetParam() == "vsftpd" ? testsupport::startVsftpd() : testsupport::startPyftpdlib();
    REQUIRE_FTP_SERVER(server_);
    server_->put("readme.txt", randomBytes(1500));
    server_->put("pub.txt", "ten bytes!");
    server_->put("pub/notes.txt", randomBytes(3000, 2));
    server_->put("pub/big.bin", randomBytes(300000, 3));
    server_->makeDirectory("old");
    testsupport::writeFile(local_ / "upload.bin", randomBytes(100000, 4));
    localDirectory_ = kernel::windowsPath(local_.path().string()) + "\\";
    window_.emplace();
    ui::test::messagesShown();
    installWindowHooks({{}, [this] { ++localReads_; }, {}, {}});
    ServerName = address_ = server_->address();
    UserName = server_->user();
    Password = server_->password();
    AgentName = kAgentName;
    bPassive = 1;
  }
  void TearDown() override {
    closeSession();
    installWindowHooks({});
    window_.reset();
    ServerName = kDefaultServerName;
  }

  bool connected() {
    return window_->waitUntil(
        [] { return bActiveSession.load() == 1 && OperationState.load() == state::Idle; });
  }
  void connectToServer() {
    openSession();
    connect();
    ASSERT_TRUE(connected()) << server_->log();
  }
  // Starts a command with the trace on and waits until it has ended; its state transitions.
  Transitions run(const std::function<void()>& start) {
    {
      std::lock_guard lock(traceMutex);
      trace.clear();
    }
    InternetSetStatusCallback(INET_HANDLE(hOpen.load()), tracingCallback);
    start();
    EXPECT_TRUE(window_->waitUntil([] {
      const auto done = completions();
      return OperationState.load() == state::Idle && !done.empty() && done.back().second == state::Idle;
    })) << server_->log();
    return completions();
  }

  DirectoryListRecord node(std::string_view relative) {
    DirectoryListRecord r;
    const std::string full = relative == "/" ? address_ : address_ + std::string(relative);
    TreeIndex = static_cast<std::int32_t>(
        DirectoryList.find([&](const auto& n) { return n.FULLPATHNAME == full; }, r));
    EXPECT_NE(TreeIndex.load(), 0) << full;
    return r;
  }
  bool hasNode(std::string_view relative) {
    DirectoryListRecord r;
    const std::string full = address_ + std::string(relative);
    return DirectoryList.find([&](const auto& n) { return n.FULLPATHNAME == full; }, r) != 0;
  }
  std::vector<std::string> relativePaths() {
    std::vector<std::string> out;
    for (const auto& r : DirectoryList.snapshot()) out.push_back(relativePathOf(r.FULLPATHNAME.view()));
    return out;
  }

  testsupport::StartedServer server_;
  testsupport::TempDir local_;
  std::string localDirectory_, address_;
  std::optional<enginetest::StandInWindow> window_;
  std::atomic<int> localReads_{0};
};

TEST_P(EngineOnServer, ConnectListsTheRootFoldersOnceAndDisconnectEmptiesTheTree) {
  openSession();
  ServerName = "   ";
  const auto stateBefore = OperationState.load();
  connect();
  EXPECT_EQ(ui::test::messagesShown().at(0).text, "Please enter a server name!");
  EXPECT_EQ(OperationState.load(), stateBefore);

  ServerName = address_;
  connect();
  ASSERT_TRUE(connected());
  EXPECT_TRUE(window_->waitUntil([&] {
    const auto seen = window_->events();
    return std::find(seen.begin(), seen.end(), ui::event::User) != seen.end();
  }));
  EXPECT_EQ(FoundFiles.count(), 4u);
  EXPECT_EQ(relativePaths(), (std::vector<std::string>{"/", "/old", "/pub", "/pub.txt", "/readme.txt"}));
  EXPECT_EQ(node("/").NAME.str(), address_);
  EXPECT_EQ(node("/pub").ICONFIELD, icon::ClosedFolder);
  EXPECT_EQ(node("/readme.txt").SIZESTR.str(), "1 KB");
  EXPECT_EQ(node("/pub.txt").SIZESTR.str(), "10 bytes");
  EXPECT_EQ(window_->status(3), "");

  const auto rootSession = hOpen.load();
  nodeAction(node("/pub"));
  EXPECT_NE(hOpen.load(), rootSession);  // every listing makes a new session
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_EQ(RemoteDirectory.get().str(), "/pub");
  EXPECT_EQ(relativePaths(), (std::vector<std::string>{"/", "/old", "/pub", "/pub/big.bin", "/pub/notes.txt",
                                                       "/pub.txt", "/readme.txt"}));
  EXPECT_EQ(node("/pub/big.bin").TREELEVEL, 3);
  EXPECT_EQ(node("/pub/big.bin").SIZESTR.str(), "292 KB");

  nodeAction(node("/pub"));  // collapse
  EXPECT_EQ(node("/pub").TREELEVEL, -2);
  const auto listed = hOpen.load();
  nodeAction(node("/pub"));  // reopen: nothing listed
  EXPECT_EQ(hOpen.load(), listed);
  EXPECT_EQ(node("/pub").TREELEVEL, 2);
  EXPECT_EQ(DirectoryList.count(), 7u);

  connect();  // already active: nothing
  EXPECT_EQ(hOpen.load(), listed);
  disconnect();
  EXPECT_EQ(hConnection.load(), 0u);
  EXPECT_EQ(hOpen.load(), listed);
  EXPECT_EQ(DirectoryList.count() + FoundFiles.count(), 0u);
  EXPECT_EQ(bActiveSession.load(), 0);

  bPassive = 0;
  connect();  // a new root listing from an empty tree, in active mode this time
  ASSERT_TRUE(connected());
  EXPECT_EQ(ConnectFlags.load(), 0u);
  EXPECT_EQ(DirectoryList.count(), 5u);
  closeSession();
  EXPECT_EQ(hOpen.load() + DirectoryList.count() + bActiveSession.load() + bSessionOpen.load(), 0u);
}

TEST_P(EngineOnServer, DownloadAndUploadCountTheirBytes) {
  connectToServer();
  nodeAction(node("/pub"));
  // A file of its own: the layer keeps a trace file open for the whole process.
  const std::string ftpTrace =
      testing::TempDir() + "engine-ftp-trace-" + GetParam() + "-" + std::to_string(::getpid());
  std::remove(ftpTrace.c_str());
  ::setenv("NIMBO_FTP_TRACE", ftpTrace.c_str(), 1);
  EXPECT_EQ(run([&] { startGet(node("/pub/big.bin"), localDirectory_); }), (Transitions{{3, 4}, {4, 1}}));
  ::unsetenv("NIMBO_FTP_TRACE");
  // Each state change is in the trace, in order with the dialogue that led to it.
  const std::string dialogue = testsupport::readFile(ftpTrace).value_or("");
  std::remove(ftpTrace.c_str());
  // The command's connect logs on, or takes the listing's logged-on connection again.
  if (inet::currentKeeping().on)
    EXPECT_TRUE(inOrder(dialogue, {"#0 = operation state Idle -> Connecting for Get", "= taken again",
                                   "#0 = operation state Connecting for Get -> Get in flight", "> TYPE I",
                                   "> RETR ", "< 226", "#0 = operation state Get in flight -> Idle"}))
        << dialogue;
  else
    EXPECT_TRUE(
        inOrder(dialogue, {"#0 = operation state Idle -> Connecting for Get", "> USER ", "> PASS ****",
                           "#0 = operation state Connecting for Get -> Get in flight", "> TYPE I", "> RETR ",
                           "< 226", "#0 = operation state Get in flight -> Idle"}))
        << dialogue;
  EXPECT_EQ(testsupport::readFile(local_ / "big.bin"), randomBytes(300000, 3));
  EXPECT_EQ(localReads_.load(), 1);
  EXPECT_EQ(hConnection.load() + hFtp.load(), 0u);  // its connection closed, not left logged in
  EXPECT_EQ(window_->status(0), "Done");
  EXPECT_EQ(window_->status(2), "Finished");

  // The first three counts open the transfer and are passed over; the rest are added up.
  auto counts = traced(INTERNET_STATUS_RESPONSE_RECEIVED, state::GetRunning);
  ASSERT_GT(counts.size(), 4u);
  std::int64_t expected = 0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    expected += i < 3 ? 0 : counts[i].bytes;
    EXPECT_EQ(counts[i].total, expected);
    if (i >= 3) {
      EXPECT_EQ(counts[i].progressText, "Received: " + std::to_string(expected) + " bytes.");
    }
  }
  EXPECT_GE(expected, 300000);
  EXPECT_EQ(counts.back().percent, 100);
  EXPECT_EQ(counts[4].percent, counts[4].total * 100LL / 300000);

  RemoteDirectory = "/pub";
  EXPECT_EQ(run([&] { startPut("upload.bin  ", 100000, localDirectory_); }), (Transitions{{5, 6}, {6, 1}}));
  EXPECT_EQ(server_->read("pub/upload.bin"), randomBytes(100000, 4));
  EXPECT_TRUE(hasNode("/pub/upload.bin"));  // listed again
  counts = traced(INTERNET_STATUS_REQUEST_SENT, state::PutRunning);
  ASSERT_GT(counts.size(), 3u);
  EXPECT_EQ(counts.back().progressText, "Sent: " + std::to_string(counts.back().total) + " bytes.");
  EXPECT_GE(counts.back().total, 100000);

  RemoteDirectory = "/";
  run([&] { startPut("upload.bin", 100000, localDirectory_); });
  EXPECT_EQ(RemoteFileName.get().str(), "upload.bin");  // the root takes the bare name
  EXPECT_EQ(server_->read("upload.bin"), randomBytes(100000, 4));
  EXPECT_TRUE(hasNode("/upload.bin"));
  EXPECT_EQ(SearchPattern.get().str(), "//*.*");  // the root listed again, doubled slash and all
  EXPECT_TRUE(ui::test::messagesShown().empty());
}

TEST_P(EngineOnServer, DirectoryAndFileCommandsReportAndListAgain) {
  connectToServer();
  nodeAction(node("/pub"));
  RemoteDirectory = "/pub";
  EXPECT_EQ(run([] { startCreateDirectory("made"); }), (Transitions{{7, 8}, {8, 1}}));
  EXPECT_TRUE(server_->exists("pub/made"));
  EXPECT_EQ(node("/pub/made").ICONFIELD, icon::ClosedFolder);
  const auto count = DirectoryList.count();
  nodeAction(node("/pub/made"));  // empty: listed, and nothing added
  EXPECT_EQ(DirectoryList.count(), count);
  EXPECT_EQ(node("/pub/made").WASENUMERATED, 1);
  RemoteDirectory = "/pub";
  EXPECT_EQ(run([] { startRenameFile("notes.txt", "renamed.txt"); }), (Transitions{{13, 14}, {14, 1}}));
  EXPECT_TRUE(server_->exists("pub/renamed.txt"));
  EXPECT_FALSE(hasNode("/pub/notes.txt"));
  EXPECT_EQ(run([] { startDeleteFile("renamed.txt"); }), (Transitions{{11, 12}, {12, 1}}));
  EXPECT_FALSE(server_->exists("pub/renamed.txt"));
  EXPECT_FALSE(hasNode("/pub/renamed.txt"));
  EXPECT_EQ(RemoteTarget.get().str(), "");

  // Directly under the root: the root becomes current and is listed again; the open /pub stays
  // open with what it holds.
  EXPECT_EQ(run([&] { startRemoveDirectory(node("/old")); }), (Transitions{{9, 10}, {10, 1}}));
  EXPECT_FALSE(server_->exists("old"));
  EXPECT_EQ(RemoteDirectory.get().str(), "/");
  EXPECT_EQ(relativePaths(),
            (std::vector<std::string>{"/", "/pub", "/pub/big.bin", "/pub/made", "/pub.txt", "/readme.txt"}));
  EXPECT_EQ(node("/pub").WASENUMERATED, 1);

  std::vector<std::string> texts;
  for (const auto& m : ui::test::messagesShown()) texts.push_back(m.text + " / " + m.caption);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "New directory was created! / Orin FTP Client", "File was renamed! / FTP Client",
                       "File was deleted! / FTP Client", "Directory was removed! / FTP Client"}));
  startCreateDirectory("  ");  // an empty name starts nothing
  EXPECT_EQ(OperationState.load(), state::Idle);

  // A call that completes with a result of 0: no message, yet idle again and listed again.
  const auto session = hOpen.load();
  enter(state::DeleteRunning);
  const INTERNET_ASYNC_RESULT noResult{0, 0};
  std::thread([&] {
    statusCallback(nullptr, 1, INTERNET_STATUS_REQUEST_COMPLETE,
                   const_cast<INTERNET_ASYNC_RESULT*>(&noResult), sizeof noResult);
  }).join();
  EXPECT_EQ(OperationState.load(), state::Idle);
  EXPECT_NE(hOpen.load(), session);
  EXPECT_TRUE(ui::test::messagesShown().empty());
}

// The threads of a Get: started on the window's; its FTP call, its end and the hooks its end calls on
// the FTP layer's delivery threads, never on the window's.
TEST_P(EngineOnServer, GetRunsEachStepOnItsThread) {
  connectToServer();
  nodeAction(node("/pub"));
  std::mutex mutex;
  std::vector<std::string> hooks;
  const auto record = [&](std::string step) {
    std::lock_guard lock(mutex);
    hooks.push_back(step + (onWindowThread() ? " on the window's thread" : " on a delivery thread"));
  };
  installWindowHooks({{}, [&] { record("readLocalFiles"); }, [&](bool) { record("commandEnded"); }, {}});
  ASSERT_TRUE(onWindowThread());
  EXPECT_EQ(run([&] { startGet(node("/pub/notes.txt"), localDirectory_); }), (Transitions{{3, 4}, {4, 1}}));
  for (const Step& s : traced(INTERNET_STATUS_REQUEST_COMPLETE))
    EXPECT_FALSE(s.onWindowThread) << "completion in state " << s.before;
  EXPECT_TRUE(window_->waitUntil([&] {
    std::lock_guard lock(mutex);
    return hooks.size() == 2;
  }));
  installWindowHooks({});
  std::lock_guard lock(mutex);
  EXPECT_EQ(hooks, (std::vector<std::string>{"readLocalFiles on a delivery thread",
                                             "commandEnded on a delivery thread"}));
}

TEST_P(EngineOnServer, FailedCommandShowsTheServerReplyAndReturnsToIdle) {
  connectToServer();
  const auto before = relativePaths();
  RemoteDirectory = "/";
  run([] { startDeleteFile("missing.txt"); });
  auto shown = ui::test::messagesShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "OrinFTP Client Error");
  EXPECT_EQ(shown[0].icon, ui::IDI_ASTERISK);
  EXPECT_EQ(shown[0].text.substr(0, 3), "550");  // the server's reply, not a generic text
  EXPECT_EQ(ErrorText.get().str(), shown[0].text);
  EXPECT_EQ(RemoteTarget.get().str(), "/missing.txt");
  EXPECT_EQ(relativePaths(), before);

  // A failed download leaves no count behind: the next one starts afresh.
  DirectoryListRecord missing = node("/readme.txt");
  missing.NAME = "missing.bin";
  missing.FULLPATHNAME = address_ + "/missing.bin";
  run([&] { startGet(missing, localDirectory_); });
  EXPECT_EQ(ui::test::messagesShown().size(), 1u);
  EXPECT_FALSE(testsupport::readFile(local_ / "missing.bin"));
  EXPECT_EQ(bProgressStarted.load() + ProgressTotal.load() + ProgressSkip.load(), 0);
  run([&] { startGet(node("/readme.txt"), localDirectory_); });
  const auto counts = traced(INTERNET_STATUS_RESPONSE_RECEIVED, state::GetRunning);
  ASSERT_GE(counts.size(), 4u);
  EXPECT_EQ(counts[2].total, 0);
  EXPECT_EQ(counts[3].total, static_cast<std::int32_t>(counts[3].bytes));
}

TEST_P(EngineOnServer, CallbackAfterTheWindowClosedLeavesItAlone) {
  connectToServer();
  nodeAction(node("/pub"));
  const ui::WindowRef closed = window_->ref();
  startGet(node("/pub/big.bin"), localDirectory_);
  window_->close();
  EXPECT_TRUE(window_->waitUntil([] { return OperationState.load() == state::Idle; }));
  EXPECT_FALSE(ui::isOpen(closed));
  EXPECT_EQ(testsupport::readFile(local_ / "big.bin"), randomBytes(300000, 3));
}

INSTANTIATE_TEST_SUITE_P(Servers, EngineOnServer, ::testing::Values("pyftpdlib", "vsftpd"),
                         [](const auto& info) { return info.param; });

TEST(ErrorTexts, ExtendedErrorIsTheServerReply) {
  ui::test::headlessDialogs(true);
  auto server = testsupport::startPyftpdlib();
  REQUIRE_FTP_SERVER(server);
  HINTERNET session = InternetOpenA("t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection =
      InternetConnectA(session, server->address().c_str(), 0, server->user().c_str(),
                       server->password().c_str(), INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  ASSERT_FALSE(FtpDeleteFileA(connection, "missing.txt"));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  const std::string response = lastResponseText().str();
  EXPECT_EQ(response.substr(0, 3), "550");
  EXPECT_EQ(internetErrorText(ERROR_INTERNET_EXTENDED_ERROR).str(), response);

  ui::test::messagesShown();
  extendedErrorBox(ERROR_NO_MORE_FILES, "InternetFindNextFile");
  extendedErrorBox(ERROR_INTERNET_EXTENDED_ERROR, "InternetFindNextFile");
  const auto shown = ui::test::messagesShown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "InternetFindNextFile Extd Err: 550 " + response);
  EXPECT_EQ(shown[0].caption, "INTERNET ERROR");
  const std::string text = internetErrorText(ERROR_INTERNET_CANNOT_CONNECT).str();
  EXPECT_TRUE(!text.empty() && text.find_first_of("\r\n") == std::string::npos) << text;
  EXPECT_TRUE(internetErrorText(424242).blank());
  InternetCloseHandle(session);
}

}  // namespace
