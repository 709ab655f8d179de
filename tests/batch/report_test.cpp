// The report's texts and classes on their own: what reaches a JSON reader from any server, and how a
// failed request is classed.
#include "batch/report.h"

#include <gtest/gtest.h>

namespace {

using batch::report::classify;
using batch::report::cutText;
using batch::report::jsonString;
using batch::report::Outcome;

TEST(Report, JsonStringsEscapeControlsAndReplaceWhatIsNotUtf8) {
  EXPECT_EQ(jsonString("plain /a b.txt"), R"("plain /a b.txt")");
  EXPECT_EQ(jsonString("q\"b\\s\r\n\t\x01\x1b\x7f"), R"("q\"b\\s\r\n\t\u0001\u001b\u007f")");
  EXPECT_EQ(jsonString(std::string_view("a\0b", 3)), R"("a\u0000b")");
  // Well-formed sequences pass whole, the JavaScript line separators escaped.
  EXPECT_EQ(jsonString("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x81"),
            "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x93\x81\"");
  EXPECT_EQ(jsonString("\xE2\x80\xA8\xE2\x80\xA9"), R"("\u2028\u2029")");
  // Latin-1, a cut sequence, an overlong form, a surrogate, a stray continuation, beyond U+10FFFF.
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(jsonString("caf\xE9"), "\"caf" + fffd + "\"");
  EXPECT_EQ(jsonString("x\xE2\x82"), "\"x" + fffd + fffd + "\"");
  EXPECT_EQ(jsonString("\xC0\xAF"), "\"" + fffd + fffd + "\"");
  EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"" + fffd + fffd + fffd + "\"");
  EXPECT_EQ(jsonString("\x80z"), "\"" + fffd + "z\"");
  EXPECT_EQ(jsonString("\xF4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\"");
}

TEST(Report, TextsAreCutWhereACharacterBegins) {
  EXPECT_EQ(cutText("abcdef", 4), "abcd");
  EXPECT_EQ(cutText("ab\xE2\x82\xAC", 4), "ab");  // the euro sign does not fit whole
  EXPECT_EQ(cutText("ab\xE2\x82\xAC", 5), "ab\xE2\x82\xAC");
  EXPECT_EQ(cutText("\xF0\x9F\x93\x81", 3), "");
}

TEST(Report, FailuresAreClassedByReplyThenByError) {
  EXPECT_EQ(classify(0, 226), Outcome::Done);
  EXPECT_EQ(classify(ERROR_INTERNET_EXTENDED_ERROR, 450), Outcome::FailedTransient);
  EXPECT_EQ(classify(ERROR_INTERNET_EXTENDED_ERROR, 421), Outcome::FailedTransient);
  EXPECT_EQ(classify(ERROR_INTERNET_EXTENDED_ERROR, 550), Outcome::FailedPermanent);
  EXPECT_EQ(classify(ERROR_INTERNET_INCORRECT_PASSWORD, 530), Outcome::FailedPermanent);
  EXPECT_EQ(classify(ERROR_INTERNET_LOGIN_FAILURE, 421), Outcome::FailedTransient);
  for (DWORD e : {ERROR_INTERNET_TIMEOUT, ERROR_FTP_DROPPED, ERROR_INTERNET_CONNECTION_RESET,
                  ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_CANNOT_CONNECT})
    EXPECT_EQ(classify(e, 150), Outcome::FailedTransient) << e;
  for (DWORD e :
       {ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SECURITY_CHANNEL_ERROR})
    EXPECT_EQ(classify(e, 0), Outcome::FailedPermanent) << e;
  // A local failure is the local side's whatever the connection heard last.
  EXPECT_EQ(classify(ERROR_PATH_NOT_FOUND, 550), Outcome::LocalError);
  EXPECT_EQ(classify(ERROR_ACCESS_DENIED, 0), Outcome::LocalError);
  EXPECT_EQ(classify(ERROR_INTERNET_OPERATION_CANCELLED, 0), Outcome::Stopped);
}

}  // namespace
