#include "framework/error_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ui/runtime.h"

namespace framework {
namespace {

class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    ui::setError(0, "");
    errors.init();
  }
  void TearDown() override {
    errors.kill();
    ui::test::messagesShown();
  }

  // Adds messages of the tests' own after the program's table.
  void add(std::initializer_list<MessageDefinition> messages) {
    const std::vector<MessageDefinition> list(messages);
    errors.addErrors(packMessages(list));  // a temporary: the manager keeps its own copy
  }

  // The one box shown since the last call.
  ui::test::MessageShown shown() {
    auto boxes = ui::test::messagesShown();
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.empty() ? ui::test::MessageShown{} : boxes.back();
  }

  ErrorManager errors;
};

TEST_F(ErrorManagerTest, WholeTableIsLoadedAndFindable) {
  const auto table = messageDefinitions();
  ASSERT_EQ(errors.ERRORS->count(), table.size());
  for (const MessageDefinition& m : table) {
    SCOPED_TRACE(m.id);
    EXPECT_EQ(errors.message(m.id, ui::BUTTON_OK, ui::BUTTON_OK), ui::BUTTON_OK);
    const auto box = shown();
    EXPECT_EQ(box.caption, m.title);
    if (m.text.find('%') == std::string_view::npos) {
      EXPECT_EQ(box.text, m.text);
    }
  }
}

TEST_F(ErrorManagerTest, LaterEntryWithTheSameIdWinsAndCanQuoteTheOneItReplaces) {
  add({{8, level::Notify, "Replaced", "New. Was: %Previous"},
       {9, level::Notify, "Second", "No quote here, nor %previous."},
       {8, level::Notify, "Again", "[%Previous]"}});
  EXPECT_EQ(errors.takeError(8), level::Notify);
  auto box = shown();
  EXPECT_EQ(box.caption, "Again");
  EXPECT_EQ(box.text, "[New. Was: %Previous]");  // quoted raw, not filled in again

  EXPECT_EQ(errors.takeError(9), level::Notify);
  EXPECT_EQ(shown().text, "No quote here, nor %previous.");

  // The first entry of an id has nothing to quote.
  add({{77, level::Notify, "Alone", "<%Previous>"}});
  errors.takeError(77);
  EXPECT_EQ(shown().text, "<>");
}

TEST_F(ErrorManagerTest, PlaceholdersInAnyLetterCase) {
  add({{100, level::Notify, "All",
        "%errorcode|%ERRORTEXT|%error|%fileerrorcode|%FileError|%file|%MESSAGE|%field|%procedure|%Field"}});
  ui::setError(5, "Access denied  ", "13", "Permission denied");
  errors.setFile("report.txt   ");
  EXPECT_EQ(errors.throwError(100), level::Notify);
  EXPECT_EQ(shown().text, "5|Access denied (5)|Access denied|13|Permission denied|report.txt||||");
}

TEST_F(ErrorManagerTest, ErrorTextNamesTheFileSystemErrorAfterError90) {
  add({{101, level::Notify, "T", "Error: %ErrorText."}});
  ui::setError(ui::ERROR_FILE_SYSTEM, "File system error", "2", "No such file or directory");
  errors.throwError(101);
  EXPECT_EQ(shown().text, "Error: No such file or directory (2).");

  ui::setError(33, "Record locked");
  errors.throwError(101);
  EXPECT_EQ(shown().text, "Error: Record locked (33).");

  // take-error shows the errors saved last, not the runtime's latest.
  ui::setError(47, "Something else");
  errors.takeError(101);
  EXPECT_EQ(shown().text, "Error: Record locked (33).");
}

TEST_F(ErrorManagerTest, FileNameHoldingPlaceholdersIsShownAsItIs) {
  errors.setFile("%file-%Message-%procedure.dat");
  errors.setProcedureName("Main");
  errors.takeError(27);
  EXPECT_EQ(shown().text, "%file-%Message-%procedure.dat key file is invalid. Key must be rebuilt.");
  errors.setProcedureName("", true);
}

TEST_F(ErrorManagerTest, ComposedTextIsCutTo1999Characters) {
  std::string text;
  for (int i = 0; i < 51; ++i) text += "%File";
  add({{102, level::Notify, "Long", text}});
  errors.setFile(std::string(300, 'f'));
  EXPECT_EQ(errors.FILENAME.view().size(), 254u);
  errors.takeError(102);
  EXPECT_EQ(shown().text, std::string(1999, 'f'));
}

TEST_F(ErrorManagerTest, ProcedureNameFollowsTheWindowsOfEachThread) {
  add({{103, level::Notify, "T", "In %Procedure."}});
  auto raised = [&] {
    errors.takeError(103);
    return shown().text;
  };
  EXPECT_EQ(raised(), "In .");
  errors.setProcedureName("Main   ");
  EXPECT_EQ(raised(), "In Main.");
  errors.setProcedureName("SetUplDnlParameters");
  EXPECT_EQ(raised(), "In SetUplDnlParameters.");

  std::string onWorker;
  std::thread worker([&] {
    onWorker = errors.getProcedureName();
    errors.setProcedureName("Worker");
  });
  worker.join();
  EXPECT_EQ(onWorker, "");
  EXPECT_EQ(raised(), "In SetUplDnlParameters.");

  errors.setProcedureName("ignored", true);
  EXPECT_EQ(raised(), "In Main.");
  // An empty name is undone by one remove like any other.
  errors.setProcedureName("");
  EXPECT_EQ(raised(), "In .");
  errors.setProcedureName("", true);
  EXPECT_EQ(raised(), "In Main.");
  errors.setProcedureName("", true);
  EXPECT_EQ(raised(), "In .");
  errors.setProcedureName("", true);  // nothing left of this thread: the worker's stays
  EXPECT_EQ(errors.PROCNAMES->count(), 1u);
}

TEST_F(ErrorManagerTest, ThreadsRegisterAndRemoveNamesConcurrently) {
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string outer = "Outer" + std::to_string(t), inner = "Inner" + std::to_string(t);
      for (int i = 0; i < 200; ++i) {
        errors.setProcedureName(outer);
        errors.setProcedureName(inner);
        if (errors.getProcedureName() != inner) wrong = true;
        errors.setProcedureName("", true);
        if (errors.getProcedureName() != outer) wrong = true;
        errors.setProcedureName("", true);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(wrong);
  EXPECT_EQ(errors.PROCNAMES->count(), 0u);
}

TEST_F(ErrorManagerTest, BoxesAndResultsByLevel) {
  add({{104, level::Benign, "Quiet", "Never shown"}, {105, level::Cancel, "Cancel level", "Go on?"}});
  EXPECT_EQ(errors.takeError(104), level::Benign);
  EXPECT_TRUE(ui::test::messagesShown().empty());

  ui::test::answerMessage(ui::BUTTON_YES);
  EXPECT_EQ(errors.takeError(8), 0);
  auto box = shown();
  EXPECT_EQ(box.caption, "Changes will be lost!");
  EXPECT_EQ(box.text, "Are you sure you want to cancel?");
  EXPECT_EQ(box.icon, ui::IDI_EXCLAMATION);
  EXPECT_EQ(box.buttons, ui::BUTTON_YES + ui::BUTTON_NO);
  EXPECT_EQ(box.defaultButton, ui::BUTTON_YES);

  ui::test::answerMessage(ui::BUTTON_NO);
  EXPECT_EQ(errors.takeError(8), level::Cancel);
  shown();
  ui::test::answerMessage(ui::BUTTON_NO);
  EXPECT_EQ(errors.takeError(105), level::Cancel);
  EXPECT_EQ(shown().icon, ui::IDI_EXCLAMATION);

  EXPECT_EQ(errors.takeError(22), level::Notify);
  box = shown();
  EXPECT_EQ(box.caption, "No Records");
  EXPECT_EQ(box.icon, ui::IDI_ASTERISK);
  EXPECT_EQ(box.buttons, ui::BUTTON_OK);
  EXPECT_EQ(box.defaultButton, ui::BUTTON_OK);

  ui::test::answerMessage(ui::BUTTON_CANCEL);
  EXPECT_EQ(errors.message(9, ui::BUTTON_OK + ui::BUTTON_CANCEL, ui::BUTTON_CANCEL), ui::BUTTON_CANCEL);
  box = shown();
  EXPECT_EQ(box.caption, "Confirm Delete");
  EXPECT_EQ(box.icon, ui::IDI_EXCLAMATION);
  EXPECT_EQ(box.buttons, ui::BUTTON_OK + ui::BUTTON_CANCEL);
  EXPECT_EQ(box.defaultButton, ui::BUTTON_CANCEL);
}

TEST_F(ErrorManagerTest, UnknownIdIsReportedAsSuch) {
  EXPECT_EQ(errors.takeError(29), level::Notify);
  const auto box = shown();
  EXPECT_EQ(box.text, "Message 29 is not in the message table.");
  EXPECT_NE(box.caption, "Invalid Key");
}

// A fatal, program-level or unknown-level message shows its box and ends the program.
void raiseAndSurvive(std::uint16_t id, std::uint8_t tableLevel) {
  ui::test::headlessDialogs(true);
  ErrorManager errors;
  errors.init();
  const MessageDefinition extra[] = {{id, tableLevel, "Doomed", "Cannot open %File."}};
  errors.addErrors(packMessages(extra));
  errors.setFile("x.dat");
  errors.takeError(id);
  // Not reached when the message ended the program.
  std::exit(42);
}

TEST(ErrorManagerDeathTest, FatalLevelsEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(raiseAndSurvive(200, level::Fatal), ::testing::ExitedWithCode(ErrorManager::kFatalExitCode),
              "Doomed");
  EXPECT_EXIT(raiseAndSurvive(201, level::Program), ::testing::ExitedWithCode(ErrorManager::kFatalExitCode),
              "Doomed");
  EXPECT_EXIT(raiseAndSurvive(202, 9), ::testing::ExitedWithCode(ErrorManager::kFatalExitCode), "Doomed");
}

}  // namespace
}  // namespace framework
