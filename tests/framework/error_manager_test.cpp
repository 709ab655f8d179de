#include "framework/error_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/runtime.h"

namespace framework {
namespace {

using ui::test::MessageShown;

class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    ui::setError(0, "");
    errors.init();
  }
  void TearDown() override { errors.kill(); }

  // Messages of the tests' own, loaded after the program's table from a buffer that dies at once.
  void add(std::vector<MessageDefinition> messages) { errors.addErrors(packMessages(messages)); }

  // Raises a message and returns the one box it showed.
  MessageShown raise(std::uint16_t id, int expectedResult = level::Notify) {
    EXPECT_EQ(errors.takeError(id), expectedResult);
    auto boxes = ui::test::messagesShown();
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.empty() ? MessageShown{} : boxes.back();
  }

  ErrorManager errors;
};

TEST_F(ErrorManagerTest, WholeTableIsLoadedAndFindable) {
  ASSERT_EQ(errors.ERRORS->count(), messageDefinitions().size());
  for (const MessageDefinition& m : messageDefinitions()) {
    EXPECT_EQ(errors.message(m.id, ui::BUTTON_OK, ui::BUTTON_OK), ui::BUTTON_OK);
    const auto boxes = ui::test::messagesShown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, m.title) << m.id;
    if (m.text.find('%') == std::string_view::npos) {
      EXPECT_EQ(boxes[0].text, m.text) << m.id;
    }
  }
}

TEST_F(ErrorManagerTest, LaterEntryWinsAndMayQuoteTheOneItReplaces) {
  add({{8, level::Notify, "Replaced", "New. Was: %Previous"},
       {9, level::Notify, "Second", "Nothing quoted: %previous."},
       {8, level::Notify, "Again", "[%Previous]"},
       {77, level::Notify, "Alone", "<%Previous>"}});
  const auto box = raise(8);
  EXPECT_EQ(box.caption, "Again");
  EXPECT_EQ(box.text, "[New. Was: %Previous]");  // quoted raw
  EXPECT_EQ(raise(9).text, "Nothing quoted: %previous.");
  EXPECT_EQ(raise(77).text, "<>");
}

TEST_F(ErrorManagerTest, PlaceholdersInAnyLetterCase) {
  add({{100, level::Notify, "All",
        "%errorcode|%ERRORTEXT|%error|%fileerrorcode|%FileError|%file|%MESSAGE|%field|%Field"},
       {101, level::Notify, "T", "Error: %ErrorText."}});
  ui::setError(5, "Access denied  ", "13", "Permission denied");
  errors.setFile("report.txt   ");
  errors.setErrors();
  EXPECT_EQ(raise(100).text, "5|Access denied (5)|Access denied|13|Permission denied|report.txt|||");

  ui::setError(ui::ERROR_FILE_SYSTEM, "File System Error", "2", "No such file or directory");
  EXPECT_EQ(errors.throwError(101), level::Notify);
  EXPECT_EQ(ui::test::messagesShown().at(0).text, "Error: No such file or directory (2).");
  ui::setError(33, "Record locked");
  errors.setErrors();
  ui::setError(47, "Not saved");  // take-error shows what was saved, not the latest
  EXPECT_EQ(raise(101).text, "Error: Record locked (33).");
}

TEST_F(ErrorManagerTest, ValuesAreShownAsTheyAreAndCut) {
  errors.setFile("%file-%Message-%PROCEDURE.dat");
  errors.setProcedureName("Main");
  EXPECT_EQ(raise(27).text, "%file-%Message-%PROCEDURE.dat key file is invalid. Key must be rebuilt.");

  std::string text;
  for (int i = 0; i < 51; ++i) text += "%File";
  add({{102, level::Notify, "Long", text}});
  errors.setFile(std::string(300, 'f'));
  EXPECT_EQ(errors.FILENAME.view().size(), 254u);
  EXPECT_EQ(raise(102).text, std::string(1999, 'f'));
}

TEST_F(ErrorManagerTest, ProcedureNameIsAStackPerThread) {
  add({{103, level::Notify, "T", "In %Procedure."}});
  EXPECT_EQ(raise(103).text, "In .");
  errors.setProcedureName("Main   ");
  errors.setProcedureName("SetUplDnlParameters");
  EXPECT_EQ(raise(103).text, "In SetUplDnlParameters.");
  std::thread([&] { errors.setProcedureName("Worker"); }).join();
  errors.setProcedureName("ignored", true);
  EXPECT_EQ(raise(103).text, "In Main.");
  errors.setProcedureName("");  // an empty name is undone by one remove like any other
  errors.setProcedureName("", true);
  EXPECT_EQ(raise(103).text, "In Main.");
  errors.setProcedureName("", true);
  errors.setProcedureName("", true);  // nothing of this thread is left; the worker's name stays
  EXPECT_EQ(raise(103).text, "In .");
  EXPECT_EQ(errors.PROCNAMES->count(), 1u);

  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
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
  for (auto& t : threads) t.join();
  EXPECT_FALSE(wrong);
  EXPECT_EQ(errors.PROCNAMES->count(), 1u);
}

TEST_F(ErrorManagerTest, BoxesAndResultsByLevel) {
  add({{104, level::Benign, "Quiet", "Never shown"}, {105, level::Cancel, "Cancel level", "Go on?"}});
  EXPECT_EQ(errors.takeError(104), level::Benign);
  EXPECT_TRUE(ui::test::messagesShown().empty());

  ui::test::answerMessage(ui::BUTTON_YES);
  auto box = raise(8, 0);
  EXPECT_EQ(box.text, "Are you sure you want to cancel?");
  EXPECT_EQ(std::tuple(box.icon, box.buttons, box.defaultButton), std::tuple(ui::IDI_EXCLAMATION, 6, 2));
  ui::test::answerMessage(ui::BUTTON_NO);
  raise(8, level::Cancel);
  ui::test::answerMessage(ui::BUTTON_NO);
  raise(105, level::Cancel);

  box = raise(22, level::Notify);
  EXPECT_EQ(box.caption, "No Records");
  EXPECT_EQ(std::tuple(box.icon, box.buttons, box.defaultButton), std::tuple(ui::IDI_ASTERISK, 1, 1));

  ui::test::answerMessage(ui::BUTTON_CANCEL);
  EXPECT_EQ(errors.message(9, ui::BUTTON_OK + ui::BUTTON_CANCEL, ui::BUTTON_CANCEL), ui::BUTTON_CANCEL);
  box = ui::test::messagesShown().at(0);
  EXPECT_EQ(std::tuple(box.icon, box.buttons, box.defaultButton), std::tuple(ui::IDI_EXCLAMATION, 65, 64));

  // An id the table lacks is reported as such, not as the table's first message.
  EXPECT_EQ(raise(29).text, "Message 29 is not in the message table.");
}

// Fatal, program-level and unknown levels show their box and end the program with its title.
void raiseFatal(std::uint8_t tableLevel) {
  ui::test::headlessDialogs(true);
  ErrorManager errors;
  errors.init();
  errors.addErrors(packMessages(std::vector<MessageDefinition>{{200, tableLevel, "Doomed", "Gone."}}));
  errors.takeError(200);
  std::exit(42);  // not reached
}

TEST(ErrorManagerDeathTest, FatalLevelsEndTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (std::uint8_t l : {level::Fatal, level::Program, std::uint8_t{9}})
    EXPECT_EXIT(raiseFatal(l), ::testing::ExitedWithCode(ErrorManager::kFatalExitCode), "Doomed");
}

}  // namespace
}  // namespace framework
