// A message text whose placeholders are filled in one after another.
//
// What is inserted is data, never template: no later search looks inside an inserted value, so a file
// name such as "100%file.txt" or an error text holding "%Message" is shown as it is, and a value that
// contains its own placeholder cannot make the search run forever.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace framework {

class PlaceholderText {
 public:
  // The text is cut to `limit` characters, and so is every result of fill().
  PlaceholderText(std::string_view text, std::size_t limit);

  // Replaces every occurrence of the placeholder in the template part of the text. Letter case is
  // ignored unless matchCase is set. An empty placeholder matches nothing.
  void fill(std::string_view placeholder, std::string_view value, bool matchCase = false);

  // Whether the template part of the text holds the placeholder.
  bool contains(std::string_view placeholder, bool matchCase = false) const;

  const std::string& text() const { return text_; }

 private:
  std::size_t find(std::string_view placeholder, std::size_t from, bool matchCase) const;

  std::string text_;
  std::vector<bool> inserted_;  // one flag per character of text_: true for characters of a value
  std::size_t limit_;
};

}  // namespace framework
