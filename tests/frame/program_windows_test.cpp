// The program's windows as a user drives them, with the library's two procedures replaced by
// stand-ins that record their calls: what the parameters window shows and passes, the frame's
// standard entries, and the procedure names the error manager sees.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/message_table.h"
#include "ftp_servers.h"
#include "program_driver.h"
#include "tarnwick/parameters.h"

namespace {

using namespace programtest;
namespace ts = testsupport;

struct BatchCall {
  std::vector<std::string> texts;  // as passed, padding and all
  int passive = -1;
  int direction = -1;
};

std::mutex callsMutex;
std::vector<BatchCall> batchCalls;
int clientCalls = 0;
// While the stand-in batch runs, it presses Start and Cancel of this window, as an impatient user
// would, and records whether they took the click.
std::atomic<ui::WindowRef> pressedDuringBatch{0};
std::vector<bool> tookPressDuringBatch;  // under callsMutex

std::vector<BatchCall> takeBatchCalls() {
  std::lock_guard lock(callsMutex);
  return std::exchange(batchCalls, {});
}

std::string padded(std::string_view text, std::size_t width) {
  std::string out(text);
  out.resize(width, ' ');
  return out;
}

class ProgramWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    setenv(tarnwick::kDefaultServerVariable, "192.0.2.7:2121", 1);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(here_.path());
    takeBatchCalls();
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  ts::TempDir config_{"program-config"};
  ts::TempDir here_{"program-here"};
  std::filesystem::path previous_;
};

// Opens the parameters window from the frame; 0 when it did not come.
ui::WindowRef openParameters(User& user, ui::WindowRef frame) {
  if (!uitest::chooseMenu(frame, kStartAutoUploadDownload)) return 0;
  return user.nextWindow(frame);
}

TEST_F(ProgramWindows, ParametersShowTheirDefaultsAtEveryOpeningAndPassThemAtFullWidth) {
  const std::string here(ui::clip(ui::currentDirectory()));
  ASSERT_LE(here.size(), tarnwick::kLocalDirectoryWidth) << "the test's temporary directory is too deep";
  std::vector<std::vector<std::string>> shown;
  const int code = runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    ASSERT_NE(frame, 0u);
    for (int opening = 1; opening <= 2; ++opening) {
      const ui::WindowRef params = openParameters(user, frame);
      ASSERT_NE(params, 0u);
      std::vector<std::string> texts;
      for (int control :
           {1, kPassive, kServer, kUserName, kPassword, kRemoteDirectory, kLocalDirectory, kFileList})
        texts.push_back(ui::test::shownText(params, control));
      shown.push_back(texts);
      // The first time, the user changes everything and starts a batch; the second, only starts one.
      if (opening == 1) {
        ASSERT_TRUE(uitest::press(params, kUpload));
        ASSERT_TRUE(uitest::press(params, kPassive));
        ASSERT_TRUE(uitest::type(params, kServer, "ftp.example.org"));
        ASSERT_TRUE(uitest::type(params, kUserName, "ann"));
        ASSERT_TRUE(uitest::type(params, kPassword, "secret"));
        ASSERT_TRUE(uitest::type(params, kRemoteDirectory, "/pub"));
        ASSERT_TRUE(uitest::type(params, kLocalDirectory, "C:\\TEMP"));
        // The entry takes 255 characters of a longer list; the variable is passed at 512.
        ASSERT_TRUE(uitest::type(params, kFileList, std::string(300, 'x')));
      }
      if (opening == 2) pressedDuringBatch = params;
      ASSERT_TRUE(uitest::press(params, kStart));
      ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(callsMutex);
        return batchCalls.size() == static_cast<std::size_t>(opening);
      }));
      // The window stays open after the batch; Cancel closes it.
      EXPECT_EQ(user.front(), params);
      ASSERT_TRUE(uitest::press(params, kCancel));
      ASSERT_TRUE(user.backTo(frame));
    }
  });
  EXPECT_EQ(code, 0);
  {
    std::lock_guard lock(callsMutex);
    EXPECT_EQ(tookPressDuringBatch, (std::vector<bool>{false, false})) << "Start and Cancel during a batch";
  }

  const std::vector<std::string> defaults = {
      "1", "1", "192.0.2.7:2121", "", "", "/incoming", here, std::string(tarnwick::kDefaultFileList)};
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], defaults);
  EXPECT_EQ(shown[1], defaults);

  const auto calls = takeBatchCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].texts,
            (std::vector<std::string>{padded("ftp.example.org", 40), padded("ann", 20), padded("secret", 20),
                                      padded("/pub", 60), padded("C:\\TEMP", 60),
                                      padded(std::string(255, 'x'), 512)}));
  EXPECT_EQ(calls[0].passive, 0);
  EXPECT_EQ(calls[0].direction, 0);
  EXPECT_EQ(calls[1].texts,
            (std::vector<std::string>{padded("192.0.2.7:2121", 40), padded("", 20), padded("", 20),
                                      padded("/incoming", 60), padded(here, 60),
                                      padded(tarnwick::kDefaultFileList, 512)}));
  EXPECT_EQ(calls[1].passive, 1);
  EXPECT_EQ(calls[1].direction, 1);
}

// The numbers the program and these tests use (tarnwick/controls.h) are those of the windows as built
// from their definitions, each of the kind the code expects of it.
TEST_F(ProgramWindows, EveryControlNumberTheProgramUsesIsInItsWindows) {
  runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    ASSERT_NE(frame, 0u);
    ui::test::withWidgets(frame, [](const ui::test::Widgets& w) {
      for (int entry : {kPrintSetup, kExit, kStartAsyncClient, kStartAutoUploadDownload, kCut, kCopy, kPaste,
                        kTile, kCascade, kHelpContents})
        EXPECT_NE(w.menuEntry(entry), nullptr) << "menu entry " << entry;
    });
    const ui::WindowRef params = openParameters(user, frame);
    ASSERT_NE(params, 0u);
    ui::test::withWidgets(params, [](const ui::test::Widgets& w) {
      const std::pair<int, const char*> controls[] = {
          {kActionType, "QGroupBox"}, {kUpload, "QRadioButton"},       {kDownload, "QRadioButton"},
          {kPassive, "QCheckBox"},    {kServer, "QLineEdit"},          {kUserName, "QLineEdit"},
          {kPassword, "QLineEdit"},   {kRemoteDirectory, "QLineEdit"}, {kLocalDirectory, "QLineEdit"},
          {kFileList, "QLineEdit"},   {kStart, "QPushButton"},         {kCancel, "QPushButton"}};
      for (const auto& [number, kind] : controls) {
        QWidget* control = w.control(number);
        ASSERT_NE(control, nullptr) << "control " << number;
        EXPECT_TRUE(control->inherits(kind))
            << "control " << number << " is a " << control->metaObject()->className();
      }
    });
    ASSERT_TRUE(uitest::press(params, kCancel));
    ASSERT_TRUE(user.backTo(frame));
  });
}

// A current directory whose name does not fit the 60-character field is not cut (a cut name is
// another folder): the field names it relative to itself, and the frame's status bar says why.
TEST_F(ProgramWindows, ACurrentDirectoryTooLongForTheFieldIsNamedRelativeToItself) {
  std::filesystem::path deep = here_.path();
  for (int i = 0; i < 4; ++i) deep /= "a folder with a rather long name";
  std::filesystem::create_directories(deep);
  std::filesystem::current_path(deep);
  const std::string full(ui::clip(ui::currentDirectory()));
  ASSERT_GT(full.size(), tarnwick::kLocalDirectoryWidth);

  std::string local, hint, hintAfter;
  runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    const ui::WindowRef params = openParameters(user, frame);
    ASSERT_NE(params, 0u);
    local = ui::test::shownText(params, kLocalDirectory);
    hint = ui::test::shownStatus(frame, 0);
    ASSERT_TRUE(uitest::press(params, kStart));
    ASSERT_TRUE(uitest::press(params, kCancel));
    ASSERT_TRUE(user.backTo(frame));
    hintAfter = ui::test::shownStatus(frame, 0);
  });
  EXPECT_EQ(local, ".\\");
  EXPECT_NE(hint.find(full), std::string::npos) << hint;
  EXPECT_EQ(hintAfter, "");
  const auto calls = takeBatchCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].texts[4], padded(".\\", 60));
}

TEST_F(ProgramWindows, ProcedureNamesFollowTheWindowInFront) {
  // A message of our own, raised on the program's thread while each window is in front.
  static const framework::MessageDefinition probe[] = {
      {900, framework::level::Notify, "Probe", "In %Procedure"}};
  const auto raise = [](User& user) {
    return user.onGui([] {
      tarnwick::errors().addErrors(framework::packMessages(probe));
      tarnwick::errors().takeError(900);
      const auto shown = ui::test::messagesShown();
      return shown.empty() ? std::string() : shown.back().text;
    });
  };
  std::vector<std::string> seen;
  runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    seen.push_back(raise(user));
    const ui::WindowRef params = openParameters(user, frame);
    ASSERT_NE(params, 0u);
    seen.push_back(raise(user));
    ASSERT_TRUE(uitest::press(params, kCancel));
    ASSERT_TRUE(user.backTo(frame));
    seen.push_back(raise(user));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"In Main", "In SetUplDnlParameters", "In Main"}));
}

// The frame's standard entries need no program code: the clipboard acts on the focused control, the
// window entries on the child windows, the help entries say there is no help file.
TEST_F(ProgramWindows, StandardEntriesActOnTheFocusedControlAndTheChildWindows) {
  runProgram([&](User& user) {
    const ui::WindowRef frame = frameOf(user);
    const ui::WindowRef params = openParameters(user, frame);
    ASSERT_NE(params, 0u);
    const auto focusEntryShowing = [&](const QString& text) {
      return user.onGui([text] {
        for (QWidget* w : QApplication::allWidgets())
          if (auto* e = qobject_cast<QLineEdit*>(w); e && e->isVisible() && e->text() == text) {
            e->setFocus();
            e->selectAll();
            return true;
          }
        return false;
      });
    };
    // The file list, longer than its entry, shows its beginning.
    EXPECT_EQ(user.onGui([] {
      for (QWidget* w : QApplication::allWidgets())
        if (auto* e = qobject_cast<QLineEdit*>(w); e && e->text().startsWith("FTPClient.txt"))
          return e->cursorPosition();
      return -1;
    }),
              0);
    // Copy the server, paste it over the remote directory; cut the file list.
    ASSERT_TRUE(focusEntryShowing("192.0.2.7:2121"));
    ASSERT_TRUE(uitest::chooseMenu(frame, kCopy));
    EXPECT_EQ(user.onGui([] { return QApplication::clipboard()->text(); }), "192.0.2.7:2121");
    ASSERT_TRUE(focusEntryShowing("/incoming"));
    ASSERT_TRUE(uitest::chooseMenu(frame, kPaste));
    EXPECT_EQ(ui::test::shownText(params, kRemoteDirectory), "192.0.2.7:2121");
    ASSERT_TRUE(focusEntryShowing(QString::fromLatin1(tarnwick::kDefaultFileList.data(),
                                                      static_cast<int>(tarnwick::kDefaultFileList.size()))));
    ASSERT_TRUE(uitest::chooseMenu(frame, kCut));
    EXPECT_EQ(ui::test::shownText(params, kFileList), "");

    // Tile gives the one child window the whole area; cascade puts it back to a corner.
    const auto childGeometry = [&] {
      return user.onGui([] {
        for (QWidget* w : QApplication::allWidgets())
          if (auto* area = qobject_cast<QMdiArea*>(w); area && !area->subWindowList().isEmpty())
            return std::make_pair(area->subWindowList().front()->geometry(), area->viewport()->rect());
        return std::make_pair(QRect(), QRect());
      });
    };
    ASSERT_TRUE(uitest::chooseMenu(frame, kTile));
    auto [tiled, area] = childGeometry();
    EXPECT_EQ(tiled, area);
    ASSERT_TRUE(uitest::chooseMenu(frame, kCascade));
    auto [cascaded, sameArea] = childGeometry();
    EXPECT_EQ(cascaded.topLeft(), QPoint(0, 0));
    EXPECT_NE(cascaded, sameArea);

    // The window menu lists the child windows.
    const QStringList listed = user.onGui([] {
      QStringList texts;
      for (QWidget* w : QApplication::allWidgets())
        if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->title() == "&Window") {
          emit menu->aboutToShow();
          for (QAction* a : menu->actions()) texts << a->text();
        }
      return texts;
    });
    EXPECT_TRUE(listed.contains("&1 Upload/Download Parameters")) << listed.join("|").toStdString();

    ASSERT_TRUE(uitest::chooseMenu(frame, kPrintSetup));
    ASSERT_TRUE(uitest::chooseMenu(frame, kHelpContents));
    EXPECT_EQ(ui::test::standardDialogsShown(), (std::vector<std::string>{"printsetup", "helpcontents"}));
    const auto messages = ui::test::messagesShown();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No help file is installed for this program.");
    ASSERT_TRUE(uitest::press(params, kCancel));
    ASSERT_TRUE(user.backTo(frame));
    ASSERT_TRUE(uitest::chooseMenu(frame, kExit));
  });
}

}  // namespace

// Stand-ins for the library's procedures: they record what the program passes.
extern "C" void UPLDNL_AS(const char* server, const char* userName, const char* password,
                          const char* remoteDirectory, const char* localDirectory, const char* fileList,
                          uint8_t passive, uint8_t direction) {
  // On the window's thread, inside the parameters window's Start.
  std::vector<bool> took;
  if (const ui::WindowRef params = pressedDuringBatch.exchange(0)) {
    took.push_back(uitest::press(params, kStart));
    took.push_back(uitest::press(params, kCancel));
  }
  std::lock_guard lock(callsMutex);
  tookPressDuringBatch.insert(tookPressDuringBatch.end(), took.begin(), took.end());
  batchCalls.push_back(
      {{server, userName, password, remoteDirectory, localDirectory, fileList}, passive, direction});
}

extern "C" void CLIENT_AS(void) {
  std::lock_guard lock(callsMutex);
  ++clientCalls;
}
