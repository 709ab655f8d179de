// The ASCII case helpers fold letters only: the bytes beside the letter ranges and every byte of a
// UTF-8 or Latin-1 name stand for themselves, whatever the locale.
#include "kernel/ascii.h"

#include <gtest/gtest.h>

namespace {

TEST(AsciiCase, FoldsLettersAndNothingElse) {
  EXPECT_EQ(kernel::asciiUppered("ms sans serif 8"), "MS SANS SERIF 8");
  EXPECT_EQ(kernel::asciiLowered("WinINet.DLL"), "wininet.dll");
  // '@' '[' '`' '{' border the letter ranges.
  EXPECT_EQ(kernel::asciiUppered("@[`{az"), "@[`{AZ");
  EXPECT_EQ(kernel::asciiLowered("@[`{AZ"), "@[`{az");
  const std::string utf8 = "\xc3\xa9t\xc3\xa9";  // "été"
  EXPECT_EQ(kernel::asciiUppered(utf8), "\xc3\xa9T\xc3\xa9");
  const std::string latin1 = "\xe0\xc0\xff";
  EXPECT_EQ(kernel::asciiUppered(latin1), latin1);
  EXPECT_EQ(kernel::asciiLowered(latin1), latin1);
}

TEST(AsciiCase, ComparesWithoutRegardToAsciiCaseOnly) {
  EXPECT_TRUE(kernel::equalIgnoringAsciiCase("Settings", "SETTINGS"));
  EXPECT_TRUE(kernel::equalIgnoringAsciiCase("", ""));
  EXPECT_FALSE(kernel::equalIgnoringAsciiCase("Setting", "Settings"));
  EXPECT_FALSE(kernel::equalIgnoringAsciiCase("[", "{"));        // 0x5B and 0x7B differ by the case bit
  EXPECT_FALSE(kernel::equalIgnoringAsciiCase("\xe0", "\xc0"));  // Latin-1 à and À are not ASCII
}

}  // namespace
