// Process services: start, threads, key codes, the last error, message boxes and popups, halt, and
// directory listings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "kernel/paths.h"
#include "ui/runtime.h"

namespace fs = std::filesystem;

namespace {

// The runtime keeps threads of its own: children re-run the binary instead of forking it.
void threadsafeDeathTests() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

TEST(Start, WithoutAnyDisplayFailsWithAPlainReasonInsteadOfAborting) {
  threadsafeDeathTests();
  EXPECT_EXIT(
      {
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const bool ok = ui::start();
        std::fprintf(stderr, "reason: %s\n", ui::startError().c_str());
        std::_Exit(ok ? 1 : 7);
      },
      ::testing::ExitedWithCode(7), "reason: No display");
  EXPECT_EXIT(
      {
        ::unsetenv("QT_QPA_PLATFORM");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("DISPLAY", ":987", 1);
        const bool ok = ui::start();
        std::fprintf(stderr, "reason: %s\n", ui::startError().c_str());
        std::_Exit(ok ? 1 : 7);
      },
      ::testing::ExitedWithCode(7), "reason: Cannot open the display \":987\"");
}

TEST(Start, HeadlessStartsAndIsIdempotent) {
  ASSERT_TRUE(ui::start()) << ui::startError();
  EXPECT_TRUE(ui::start());
  EXPECT_NE(QApplication::instance(), nullptr);
  EXPECT_TRUE(ui::startError().empty());
}

TEST(Threads, NumbersAreStablePerThreadAndDistinct) {
  const ui::ThreadNo mine = ui::currentThread();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(ui::currentThread(), mine);
  std::set<ui::ThreadNo> seen{mine};
  std::mutex m;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      std::lock_guard lock(m);
      seen.insert(ui::currentThread());
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(seen.size(), 5u);
}

TEST(KeyCodesAndErrors, ArePerThread) {
  ui::setKeyCode(ui::key::MouseRight);
  ui::setError(ui::ERROR_FILE_SYSTEM, "File System Error", "13", "Permission denied");
  std::thread([] {
    EXPECT_EQ(ui::keyCode(), ui::key::None);
    EXPECT_EQ(ui::errorCode(), 0);
    ui::setKeyCode(ui::key::Enter);
    ui::setError(2, "File Not Found");
  }).join();
  EXPECT_EQ(ui::keyCode(), ui::key::MouseRight);
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
  EXPECT_EQ(ui::errorText(), "File System Error");
  EXPECT_EQ(ui::fileErrorCode(), "13");
  EXPECT_EQ(ui::fileError(), "Permission denied");
  ui::setKeyCode(0);
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ui::start());
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    ui::test::popupsShown();
  }
};

TEST_F(Dialogs, MessageHookRecordsAndAnswersQueuedThenDefault) {
  ui::test::answerMessage(ui::BUTTON_YES);
  EXPECT_EQ(ui::message("Do you want to delete: |/readme.txt file.", "FTP Client", ui::IDI_EXCLAMATION,
                        ui::BUTTON_YES + ui::BUTTON_NO, ui::BUTTON_NO),
            ui::BUTTON_YES);
  EXPECT_EQ(
      ui::message("again", "FTP Client", ui::IDI_EXCLAMATION, ui::BUTTON_YES + ui::BUTTON_NO, ui::BUTTON_NO),
      ui::BUTTON_NO);
  EXPECT_EQ(ui::message("no default", "", ui::ICON_NONE, ui::BUTTON_NO + ui::BUTTON_CANCEL), ui::BUTTON_NO);
  EXPECT_EQ(ui::message("plain"), ui::BUTTON_OK);
  const auto shown = ui::test::messagesShown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Do you want to delete: |/readme.txt file.");
  EXPECT_EQ(shown[0].caption, "FTP Client");
  EXPECT_EQ(shown[0].icon, ui::IDI_EXCLAMATION);
  EXPECT_EQ(shown[0].buttons, ui::BUTTON_YES + ui::BUTTON_NO);
  EXPECT_EQ(shown[0].defaultButton, ui::BUTTON_NO);
  EXPECT_EQ(shown[3].caption, "");
  EXPECT_TRUE(ui::test::messagesShown().empty());
}

TEST_F(Dialogs, PopupHookSplitsItemsAndNeverChoosesAGreyedOne) {
  ui::test::answerPopup(2);
  EXPECT_EQ(ui::popup("~Rename|Delete pub|Create Dir"), 2);
  ui::test::answerPopup(1);
  EXPECT_EQ(ui::popup("~Rename|Delete pub|Create Dir"), 0);
  EXPECT_EQ(ui::popup("a|b"), 0);  // nothing queued: dismissed
  ui::test::answerPopup(9);
  EXPECT_EQ(ui::popup("a|b"), 0);
  const auto shown = ui::test::popupsShown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "~Rename|Delete pub|Create Dir");
  EXPECT_EQ(shown[0].items, (std::vector<std::string>{"Rename", "Delete pub", "Create Dir"}));
  EXPECT_EQ(shown[0].greyed, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(ui::popup(""), 0);
  EXPECT_EQ(ui::test::popupsShown()[0].items, std::vector<std::string>{""});
}

TEST_F(Dialogs, MessagesFromWorkerThreadsAreRecordedToo) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([i] { ui::message("worker " + std::to_string(i), "T", ui::IDI_ASTERISK); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ui::test::messagesShown().size(), 4u);
}

TEST_F(Dialogs, RealBoxFromAWorkerIsShownByTheGuiThreadAndTheWorkerWaits) {
  ui::test::headlessDialogs(false);
  std::atomic<int> answer{-1};
  std::thread worker([&] {
    answer = ui::message("Line one|Line two", "Caption", ui::IDI_EXCLAMATION, ui::BUTTON_YES + ui::BUTTON_NO,
                         ui::BUTTON_NO);
  });
  QString seenText, seenTitle;
  bool pressed = false;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seenText = box->text();
      seenTitle = box->windowTitle();
      EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::No));
      box->button(QMessageBox::Yes)->click();
      pressed = true;
    }
  });
  timer.start();
  while (answer.load() < 0) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  ui::test::headlessDialogs(true);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(answer.load(), ui::BUTTON_YES);
  EXPECT_EQ(seenText, "Line one\nLine two");
  EXPECT_EQ(seenTitle, "Caption");
}

TEST(Halt, ExitsWithTheCodeAndSaysWhy) {
  threadsafeDeathTests();
  EXPECT_EXIT(
      {
        ui::test::headlessDialogs(true);
        ui::halt(3, "Fatal error|Press OK to end this application");
      },
      ::testing::ExitedWithCode(3), "Fatal error");
  EXPECT_EXIT(std::thread([] { ui::halt(0); }).join(), ::testing::ExitedWithCode(0), "");
}

TEST(CursorAndBeep, AreHarmlessFromAnyThread) {
  ASSERT_TRUE(ui::start());
  std::thread([] {
    ui::setCursor(ui::IDC_CROSS);
    ui::beep();
  }).join();
  QApplication::processEvents();
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
  ui::setCursor(ui::IDC_WAIT);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  std::thread([] { ui::restoreCursor(); }).join();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

class Directories : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("uirt-dir-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "Sub Folder");
    std::ofstream(root_ / "readme.txt") << "hello";
    std::ofstream(root_ / "!how to upload.txt") << "12345678";
    std::ofstream(root_ / ".hidden") << "x";
    std::ofstream(root_ / "NoExt") << "";
    saved_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(saved_);
    fs::remove_all(root_);
  }
  // The Windows path of a host path, upper-cased as the client keeps it.
  static std::string windows(const fs::path& p, bool upper = true) {
    std::string s = kernel::windowsPath(p.string());
    if (upper)
      for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  static std::set<std::string> names(const std::vector<ui::DirEntry>& v) {
    std::set<std::string> out;
    for (const auto& e : v) out.insert(e.name);
    return out;
  }
  fs::path root_, saved_;
};

TEST_F(Directories, MaskOptsInHiddenAndDirectoriesWhileOrdinaryFilesAlwaysCome) {
  const std::string pattern = windows(root_) + "\\*.*";
  EXPECT_EQ(names(ui::directory(pattern, ui::ff_NORMAL)),
            (std::set<std::string>{"readme.txt", "!how to upload.txt", "NoExt"}));
  EXPECT_EQ(names(ui::directory(pattern, ui::ff_HIDDEN | ui::ff_SYSTEM)),
            (std::set<std::string>{"readme.txt", "!how to upload.txt", "NoExt", ".hidden"}));
  EXPECT_EQ(names(ui::directory(pattern, ui::ff_DIRECTORY)),
            (std::set<std::string>{"readme.txt", "!how to upload.txt", "NoExt", "Sub Folder"}));
  EXPECT_EQ(names(ui::directory(windows(root_) + "\\*.TXT", ui::ff_NORMAL)),
            (std::set<std::string>{"readme.txt", "!how to upload.txt"}));
  for (const auto& e : ui::directory(pattern, ui::ff_NORMAL)) {
    if (e.name == "!how to upload.txt") {
      EXPECT_EQ(e.size, 8);
      EXPECT_EQ(e.shortName, e.name);
      EXPECT_GT(e.date, 19700101);
    }
  }
}

TEST_F(Directories, MissingDirectoryGivesNothingAndAFileSystemError) {
  ui::setError(0, "");
  EXPECT_TRUE(ui::directory(windows(root_) + "\\NOPE\\*.*", ui::ff_NORMAL).empty());
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
}

TEST_F(Directories, ChangeAndCurrentDirectoryTalkWindowsPaths) {
  ASSERT_TRUE(ui::changeDirectory(windows(root_ / "Sub Folder")));
  EXPECT_EQ(fs::current_path(), root_ / "Sub Folder");
  EXPECT_EQ(ui::currentDirectory(), windows(root_ / "Sub Folder", false));
  EXPECT_FALSE(ui::changeDirectory(windows(root_) + "\\MISSING"));
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
  EXPECT_EQ(fs::current_path(), root_ / "Sub Folder");
}

}  // namespace
