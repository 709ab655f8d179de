#include "engine/texts.h"

#include <string>

#include "inet/wininet.h"
#include "nimbo.h"
#include "ui/runtime.h"

namespace engine {

namespace {

constexpr std::size_t kResponseBuffer = 256;

// The response text together with the reply code the layer reports for it.
ui::ZText<kResponseBuffer> readLastResponse(DWORD& replyCode) {
  // A first call with no room tells the length; the second fetches the whole text, which the field
  // then cuts (on a character boundary).
  DWORD length = 0;
  replyCode = 0;
  InternetGetLastResponseInfoA(&replyCode, NullString.data(), &length);
  std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
  DWORD room = length + 1;
  InternetGetLastResponseInfoA(&replyCode, buffer.data(), &room);
  return ui::ZText<kResponseBuffer>(std::string_view(buffer.c_str()));
}

// Message texts end in a line break; a box shows them better without it.
std::string_view withoutTrailingSpace(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

ui::PText<1024> internetErrorText(std::uint32_t code) {
  ui::PText<1024> result;
  HMODULE module = GetModuleHandleA("wininet.dll");
  char buffer[256] = {};
  const DWORD count =
      FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, module, code, 0, buffer, sizeof buffer, nullptr);
  buffer[sizeof buffer - 1] = '\0';
  if (count > 0) result = withoutTrailingSpace(buffer);
  if (code == ERROR_INTERNET_EXTENDED_ERROR) result = lastResponseText().str();
  return result;
}

ui::ZText<256> lastResponseText() {
  DWORD replyCode = 0;
  return readLastResponse(replyCode);
}

void extendedErrorBox(std::uint32_t code, std::string_view prefix) {
  if (code != ERROR_INTERNET_EXTENDED_ERROR) return;
  DWORD replyCode = 0;
  const auto response = readLastResponse(replyCode);
  ui::message(ui::cat(prefix, " Extd Err: ", std::to_string(replyCode), " ", response.view()),
              "INTERNET ERROR", ui::ICON_NONE, ui::BUTTON_OK);
}

ui::PText<20> sizeText(std::int64_t size) {
  if (size >= 1024) {
    // Whole KiB, digits grouped in threes with commas.
    const std::string digits = std::to_string(size / 1024);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
      grouped += digits[i];
    }
    return ui::PText<20>(grouped + " KB");
  }
  if (size == 0) return {};
  return ui::PText<20>(std::to_string(size) + " bytes");
}

}  // namespace engine
