#include "framework/stored_list.h"

#include <gtest/gtest.h>

namespace framework {
namespace {

TEST(StoredList, FieldsKeepTheirBlanks) {
  const std::string_view value = " alpha , beta ,gamma ";
  EXPECT_EQ(fieldOf(value, 1), " alpha ");
  EXPECT_EQ(fieldOf(value, 2), " beta ");
  EXPECT_EQ(fieldOf(value, 3), "gamma ");
  EXPECT_EQ(fieldOf("a,,c", 2), "");
  EXPECT_EQ(fieldOf("a,,c", 3), "c");
  EXPECT_EQ(fieldOf("", 1), "");
}

TEST(StoredList, FieldBeyondTheLastIsEmpty) {
  EXPECT_EQ(fieldOf("only", 1), "only");
  EXPECT_EQ(fieldOf("only", 2), "");
  EXPECT_EQ(fieldOf("a,b", 3), "");
  EXPECT_EQ(fieldOf("a,b,", 3), "");
  EXPECT_EQ(fieldOf("a,b", 0), "");
  EXPECT_EQ(fieldOf("a,b", -1), "");
  EXPECT_EQ(fieldOf("---Unknown---", 2), "");
}

TEST(StoredList, CountIsADecimalNumberOrZero) {
  EXPECT_EQ(countOf("2"), 2);
  EXPECT_EQ(countOf(" 3 "), 3);
  EXPECT_EQ(countOf("0"), 0);
  EXPECT_EQ(countOf("65535"), 65535);
  for (const char* bad : {"---Unknown---", "", " ", "65536", "99999999999", "-1", "+2", "3x", "0x10", "1 2"})
    EXPECT_EQ(countOf(bad), 0) << bad;
}

TEST(StoredList, RecordEntriesAreNumberedWithoutLeadingZeros) {
  EXPECT_EQ(recordEntry("Sectors", 1), "Sectors_1");
  EXPECT_EQ(recordEntry("Sectors", 10), "Sectors_10");
}

}  // namespace
}  // namespace framework
