#include "framework/message_table.h"

#include <gtest/gtest.h>

namespace framework {
namespace {

TEST(MessageTable, PackedTableHoldsEveryMessageInOrder) {
  const auto definitions = messageDefinitions();
  const auto unpacked = unpackMessages(packedMessageTable());
  ASSERT_EQ(unpacked.size(), 40u);
  ASSERT_EQ(definitions.size(), 40u);
  for (std::size_t i = 0; i < unpacked.size(); ++i) {
    EXPECT_EQ(unpacked[i].id, definitions[i].id) << i;
    EXPECT_EQ(unpacked[i].level, definitions[i].level) << i;
    EXPECT_EQ(unpacked[i].title, definitions[i].title) << i;
    EXPECT_EQ(unpacked[i].text, definitions[i].text) << i;
  }
  // The layout itself: little-endian numbers, length-prefixed texts, overlong texts cut to 255.
  const MessageDefinition one[] = {{0x1234, level::Notify, "T", "ab"}};
  EXPECT_EQ(packMessages(one), (std::vector<std::uint8_t>{1, 0, 0x34, 0x12, 5, 1, 'T', 2, 'a', 'b'}));
  const std::string longText(300, 'x');
  const MessageDefinition overlong[] = {{1, level::User, "T", longText}};
  EXPECT_FALSE(fitsPackedFormat(overlong));
  EXPECT_EQ(unpackMessages(packMessages(overlong)).at(0).text.size(), 255u);
}

TEST(MessageTable, TableCutShortYieldsOnlyWholeMessages) {
  const auto table = packedMessageTable();
  std::size_t whole = 0;
  for (std::size_t n = 0; n < table.size(); ++n) {
    // Exactly n bytes of their own, so that a read past them is caught by the address sanitizer.
    const std::vector<std::uint8_t> cut(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
    const std::size_t got = unpackMessages(cut).size();
    EXPECT_GE(got, whole);
    whole = got;
  }
  EXPECT_EQ(whole, 39u);
  std::vector<std::uint8_t> lying(table.begin(), table.end());
  lying[0] = lying[1] = 0xFF;  // a count promising more than the bytes hold
  EXPECT_EQ(unpackMessages(lying).size(), 40u);
}

}  // namespace
}  // namespace framework
