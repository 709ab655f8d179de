#include "batch/errortext.h"

#include "inet/wininet.h"
#include "ui/text.h"

namespace batch {
namespace {

std::string withoutLineEnds(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return std::string(s);
}

std::string lastResponseText() {
  DWORD error = 0;
  DWORD length = 0;
  char none[1] = {'\0'};
  InternetGetLastResponseInfoA(&error, none, &length);
  ui::ZText<256> response;
  DWORD size = length + 1 > response.size() ? static_cast<DWORD>(response.size()) : length + 1;
  if (!InternetGetLastResponseInfoA(&error, response.data(), &size)) return {};
  response.ensureTerminated();
  return withoutLineEnds(response.view());
}

}  // namespace

std::string internetErrorText(DWORD code) {
  if (code == ERROR_INTERNET_EXTENDED_ERROR) return lastResponseText();
  ui::ZText<256> text;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("wininet.dll"), code, 0,
                                 text.data(), static_cast<DWORD>(text.size()), nullptr);
  if (n == 0) return {};
  text.ensureTerminated();
  return withoutLineEnds(text.view());
}

}  // namespace batch
