#include "framework/placeholder_text.h"

#include <gtest/gtest.h>

#include <string>

namespace framework {
namespace {

TEST(PlaceholderText, FillsEveryOccurrenceInAnyLetterCase) {
  PlaceholderText t("%File, %file and %FILE%fIlE.", 1999);
  t.fill("%File", "a.dat");
  EXPECT_EQ(t.text(), "a.dat, a.dat and a.data.dat.");

  PlaceholderText exact("%Previous and %previous", 1999);
  EXPECT_FALSE(exact.contains("%PREVIOUS", true));
  EXPECT_TRUE(exact.contains("%Previous", true));
  exact.fill("%Previous", "old", true);
  EXPECT_EQ(exact.text(), "old and %previous");
}

TEST(PlaceholderText, ValueHoldingItsOwnPlaceholderIsInsertedOnce) {
  PlaceholderText t("Open %File or %File", 1999);
  t.fill("%File", "x%fileY");
  EXPECT_EQ(t.text(), "Open x%fileY or x%fileY");
}

TEST(PlaceholderText, InsertedValuesAreNeverSearchedAgain) {
  PlaceholderText t("%File: %Message", 1999);
  t.fill("%File", "100%message.txt");
  t.fill("%Message", "gone");
  EXPECT_EQ(t.text(), "100%message.txt: gone");
  EXPECT_FALSE(t.contains("%message"));

  // Nor is a placeholder matched across the edge of a value.
  PlaceholderText edge("%Fi%Xle", 1999);
  edge.fill("%X", "F");
  edge.fill("%FiFle", "bad");
  EXPECT_EQ(edge.text(), "%FiFle");
}

TEST(PlaceholderText, TextNeverGrowsPastItsLimit) {
  PlaceholderText t(std::string(10, 'a') + "%F%F", 12);
  EXPECT_EQ(t.text(), std::string(10, 'a') + "%F");
  t.fill("%F", "bbbb");
  EXPECT_EQ(t.text(), std::string(10, 'a') + "bb");

  // A value that pushes a later placeholder past the limit: the placeholder is cut away, not filled.
  PlaceholderText late("%A %B", 6);
  late.fill("%A", "12345");
  late.fill("%B", "zz");
  EXPECT_EQ(late.text(), "12345 ");

  PlaceholderText big("%A", 1999);
  big.fill("%A", std::string(5000, 'v'));
  EXPECT_EQ(big.text().size(), 1999u);
}

TEST(PlaceholderText, EmptyPlaceholderOrValue) {
  PlaceholderText t("a%Fieldb%Field", 1999);
  t.fill("", "never");
  t.fill("%Field", "");
  EXPECT_EQ(t.text(), "ab");
}

}  // namespace
}  // namespace framework
