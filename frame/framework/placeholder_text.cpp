#include "framework/placeholder_text.h"

#include "kernel/ascii.h"
#include "ui/text.h"

namespace framework {

PlaceholderText::PlaceholderText(std::string_view text, std::size_t limit)
    : text_(ui::utf8Fit(text, limit)), inserted_(text_.size(), false), limit_(limit) {}

std::size_t PlaceholderText::find(std::string_view placeholder, std::size_t from, bool matchCase) const {
  if (placeholder.empty() || text_.size() < placeholder.size()) return std::string::npos;
  for (std::size_t i = from; i + placeholder.size() <= text_.size(); ++i) {
    std::size_t k = 0;
    while (k < placeholder.size() && !inserted_[i + k] &&
           (matchCase ? text_[i + k] == placeholder[k]
                      : kernel::asciiLower(text_[i + k]) == kernel::asciiLower(placeholder[k])))
      ++k;
    if (k == placeholder.size()) return i;
  }
  return std::string::npos;
}

bool PlaceholderText::contains(std::string_view placeholder, bool matchCase) const {
  return find(placeholder, 0, matchCase) != std::string::npos;
}

void PlaceholderText::fill(std::string_view placeholder, std::string_view value, bool matchCase) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = find(placeholder, from, matchCase);
    if (at == std::string::npos) return;
    text_.replace(at, placeholder.size(), value);
    const auto where = inserted_.begin() + static_cast<std::ptrdiff_t>(at);
    inserted_.erase(where, where + static_cast<std::ptrdiff_t>(placeholder.size()));
    inserted_.insert(inserted_.begin() + static_cast<std::ptrdiff_t>(at), value.size(), true);
    if (text_.size() > limit_) {
      text_.resize(ui::utf8Fit(text_, limit_).size());
      inserted_.resize(text_.size());
    }
    from = at + value.size();
  }
}

}  // namespace framework
