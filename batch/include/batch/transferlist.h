// The batch's list of files and the paths made from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace batch {

// A directory with its separator at the end: trailing blanks removed, `separator` appended unless it
// is already the last character; an empty or blank directory gives the separator alone.
std::string completeDirectory(std::string_view directory, char separator);

// The items of a comma-separated list, with the blanks around each removed. Nothing else is done to
// an item: an empty list, two commas in a row or a comma at either end give empty items.
std::vector<std::string> splitFileList(std::string_view list);

// Build transfer list: TransferList := one entry per item of the list (its first 1024 characters),
// each name whole, not yet found; BatchCount := the number of entries.
void buildTransferList(std::string_view fileList);

// A directory (trailing blanks removed) joined with a name (trailing blanks removed).
std::string joinPath(std::string_view directory, std::string_view name);

// The path a server lookup searches for: joinPath, and put in double quotes when it holds a blank, so
// that the FTP layer takes it as one literal path rather than a pattern.
std::string lookupPath(std::string_view directory, std::string_view name);

}  // namespace batch
