// Pictures and list format strings of window definitions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui::detail {

// A display picture: @sN text of N characters; @nN / @n-N a number of N digits (with a sign).
struct Picture {
  char type = 's';  // 's' or 'n'
  int width = 255;
  bool sign = false;
};

// Parses "@s39" or "@n-14" (with or without the closing "@"); an error text on failure.
std::optional<Picture> parsePicture(std::string_view text, std::string& error);

// The text a picture shows for a value: texts cut to the width, numbers that do not fit as "#"s.
std::string applyPicture(const Picture& p, std::string_view value);

struct ListColumn {
  int width = 0;  // dialog units
  char align = 'L';
  int indent = 0;  // dialog units
  bool rightBorder = false, resizable = false, icon = false, tree = false, locator = false;
  std::string header;
  Picture picture;
  // Positions of this column's cells in a row.
  int textCell = 0, iconCell = -1, levelCell = -1;
};

struct ListFormat {
  std::vector<ListColumn> columns;
  int cellCount = 0;
  int treeColumn = -1;  // the column drawn as a tree, or -1
  bool hasHeader = false;
};

// Parses a list format such as "120L(1)|MIT(B)~Name~@s255@80L(1)|M~File Size~@s20@".
std::optional<ListFormat> parseListFormat(std::string_view text, std::string& error);

}  // namespace ui::detail
