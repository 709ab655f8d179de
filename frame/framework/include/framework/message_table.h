// The program's table of numbered messages and the packed form in which it is compiled in.
//
// Packed format (all numbers little-endian): a 16-bit count, then per message its 16-bit id, its 8-bit
// level, an 8-bit title length and the title, an 8-bit text length and the text (no terminators).
// Titles and texts are therefore at most 255 characters each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace framework {

// Levels of a message, which are also the results of the raising operations and the levels the window
// manager's event loop understands (3 ends the loop, 5 ends the handling of the current event).
namespace level {
constexpr std::uint8_t Benign = 0;   // nothing shown
constexpr std::uint8_t User = 1;     // Yes/No question
constexpr std::uint8_t Program = 2;  // a fault of the program: handled as fatal
constexpr std::uint8_t Fatal = 3;    // shown, then the program ends
constexpr std::uint8_t Cancel = 4;   // as a table level like User; as a result, the user declined
constexpr std::uint8_t Notify = 5;   // information box
}  // namespace level

struct MessageDefinition {
  std::uint16_t id = 0;
  std::uint8_t level = 0;
  std::string_view title;
  std::string_view text;
};

constexpr std::size_t kMaxPackedText = 255;

// True when every title and text fits its 8-bit length and the count fits 16 bits.
constexpr bool fitsPackedFormat(std::span<const MessageDefinition> messages) {
  if (messages.size() > 0xFFFF) return false;
  for (const auto& m : messages)
    if (m.title.size() > kMaxPackedText || m.text.size() > kMaxPackedText) return false;
  return true;
}

// Packs messages; a title or text too long for the format is cut to 255 characters and a table longer
// than 65535 messages to its first 65535 (check fitsPackedFormat() where that matters).
constexpr std::vector<std::uint8_t> packMessages(std::span<const MessageDefinition> messages) {
  const std::size_t count = messages.size() > 0xFFFF ? 0xFFFF : messages.size();
  std::vector<std::uint8_t> out;
  auto put16 = [&out](std::size_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  };
  auto putText = [&out](std::string_view s) {
    const std::size_t n = s.size() > kMaxPackedText ? kMaxPackedText : s.size();
    out.push_back(static_cast<std::uint8_t>(n));
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(s[i]));
  };
  put16(count);
  for (std::size_t i = 0; i < count; ++i) {
    put16(messages[i].id);
    out.push_back(messages[i].level);
    putText(messages[i].title);
    putText(messages[i].text);
  }
  return out;
}

// Reads a packed table. The titles and texts of the result point into `packed`, which must outlive
// them. A table cut short (fewer bytes than its count promises) yields the messages that are whole.
std::vector<MessageDefinition> unpackMessages(std::span<const std::uint8_t> packed);

// The program's messages in the order they are stored and loaded.
std::span<const MessageDefinition> messageDefinitions();

// The same messages packed at compile time; what the error manager loads at init.
std::span<const std::uint8_t> packedMessageTable();

}  // namespace framework
