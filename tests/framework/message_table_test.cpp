#include "framework/message_table.h"

#include <gtest/gtest.h>

#include <string>

namespace framework {
namespace {

TEST(MessageTable, PackedTableHoldsEveryMessageInOrder) {
  const auto definitions = messageDefinitions();
  const auto unpacked = unpackMessages(packedMessageTable());
  ASSERT_EQ(unpacked.size(), 40u);
  ASSERT_EQ(unpacked.size(), definitions.size());
  for (std::size_t i = 0; i < unpacked.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(unpacked[i].id, definitions[i].id);
    EXPECT_EQ(unpacked[i].level, definitions[i].level);
    EXPECT_EQ(unpacked[i].title, definitions[i].title);
    EXPECT_EQ(unpacked[i].text, definitions[i].text);
  }
  EXPECT_EQ(unpacked.front().id, 27);
  EXPECT_EQ(unpacked.back().id, 41);
}

TEST(MessageTable, PackedLayoutIsLittleEndianWithLengthPrefixedTexts) {
  const MessageDefinition one[] = {{0x1234, level::Notify, "T", "ab"}};
  const auto packed = packMessages(one);
  const std::vector<std::uint8_t> expected = {0x01, 0x00, 0x34, 0x12, 5, 1, 'T', 2, 'a', 'b'};
  EXPECT_EQ(packed, expected);

  const auto table = packedMessageTable();
  ASSERT_GE(table.size(), 5u);
  EXPECT_EQ(table[0] | (table[1] << 8), 40);
  EXPECT_EQ(table[2] | (table[3] << 8), 27);
  EXPECT_EQ(table[4], level::Notify);
}

TEST(MessageTable, OverlongTextsAreCutToTheFormat) {
  const std::string longText(300, 'x');
  const MessageDefinition one[] = {{1, level::User, longText, longText}};
  EXPECT_FALSE(fitsPackedFormat(one));
  const auto packed = packMessages(one);
  const auto back = unpackMessages(packed);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].title.size(), 255u);
  EXPECT_EQ(back[0].text.size(), 255u);
}

TEST(MessageTable, TruncatedTableYieldsOnlyWholeMessages) {
  const auto table = packedMessageTable();
  std::size_t previous = 0;
  for (std::size_t n = 0; n < table.size(); ++n) {
    // A copy of exactly n bytes, so that reading past it is caught by the address sanitizer.
    const std::vector<std::uint8_t> cut(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
    const auto messages = unpackMessages(cut);
    EXPECT_LT(messages.size(), 40u);
    EXPECT_GE(messages.size(), previous);
    previous = messages.size();
  }
  EXPECT_EQ(previous, 39u);

  // A count promising more than the bytes hold.
  std::vector<std::uint8_t> lying(table.begin(), table.end());
  lying[0] = 0xFF;
  lying[1] = 0xFF;
  EXPECT_EQ(unpackMessages(lying).size(), 40u);
}

}  // namespace
}  // namespace framework
