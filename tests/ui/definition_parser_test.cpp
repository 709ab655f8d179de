// Window definitions read and checked without the runtime: what a check refuses comes back as a
// message, so the geometry rules can be tried at the edges of their arithmetic.
#include "definition_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ui::detail::parseWindows;
using ui::detail::readModule;

// The error of a one-window module holding these controls, or "" when it is accepted.
std::string check(const std::string& controls) {
  const std::string json =
      R"({"module":"M","windows":[{"name":"W","size":[100,100],"controls":[)" + controls + "]}]}";
  std::string error;
  auto module = readModule(QByteArray::fromStdString(json), "", "M", error);
  if (!module) return error;
  return parseWindows(*module, error) ? std::string() : error;
}

TEST(DefinitionParser, OverlapAndContainmentHoldNearTheLimitsOfInt) {
  // Right and bottom edges beyond INT_MAX: overlapping controls are still seen to overlap.
  EXPECT_EQ(check(R"({"number":1,"kind":"button","at":[2147483600,0,100,10]},
                     {"number":2,"kind":"button","at":[2147483640,0,20,10]})"),
            "Window definition M, window W, control 2: overlaps control 1");
  EXPECT_EQ(check(R"({"number":1,"kind":"button","at":[0,2147483000,10,2147483647]},
                     {"number":2,"kind":"button","at":[5,2147483647,10,2147483647]})"),
            "Window definition M, window W, control 2: overlaps control 1");
  // Left of the other, at the far ends of the range: apart.
  EXPECT_EQ(check(R"({"number":1,"kind":"button","at":[-2147483648,0,2147483647,10]},
                     {"number":2,"kind":"button","at":[0,0,2147483647,10]})"),
            "");
  // What lies wholly inside a frame out there is inside it; what sticks out is not.
  EXPECT_EQ(check(R"({"number":1,"kind":"frame","at":[2147483000,0,600,100]},
                     {"number":2,"kind":"display","at":[2147483100,10,500,10]})"),
            "");
  EXPECT_EQ(check(R"({"number":1,"kind":"frame","at":[2147483000,0,600,100]},
                     {"number":2,"kind":"display","at":[2147483100,10,2147483647,10]})"),
            "Window definition M, window W, control 2: overlaps control 1");
}

TEST(DefinitionParser, ProblemsComeBackAsMessagesNamingWhere) {
  EXPECT_EQ(check(R"({"number":1,"kind":"radio","group":7,"at":[0,0]})"),
            "Window definition M, window W, control 1: its group 7 is not an option control");
  std::string error;
  EXPECT_FALSE(readModule("[1,2]", "", "F.json", error));
  EXPECT_EQ(error, "Window definition F.json: not a definition module (not an object)");
}

}  // namespace
