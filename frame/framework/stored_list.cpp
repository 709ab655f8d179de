#include "framework/stored_list.h"

#include <charconv>

#include "ui/text.h"

namespace framework {

std::string recordEntry(std::string_view list, std::size_t i) {
  return ui::cat(list, "_", std::to_string(i));
}

std::string_view fieldOf(std::string_view value, int n) {
  if (n < 1) return {};
  std::size_t start = 0;
  for (int i = 1; i < n; ++i) {
    const std::size_t comma = value.find(',', start);
    if (comma == std::string_view::npos) return {};
    start = comma + 1;
  }
  const std::size_t end = value.find(',', start);
  return value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::uint16_t countOf(std::string_view value) {
  const std::string_view digits = ui::trim(value);
  std::uint16_t count = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return count;
}

}  // namespace framework
