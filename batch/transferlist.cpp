#include "batch/transferlist.h"

#include "batch/context.h"

namespace batch {

std::string completeDirectory(std::string_view directory, char separator) {
  std::string out(ui::clip(directory));
  if (out.empty() || out.back() != separator) out.push_back(separator);
  return out;
}

std::vector<std::string> splitFileList(std::string_view list) {
  std::vector<std::string> items;
  for (;;) {
    const std::size_t comma = list.find(',');
    items.emplace_back(ui::trim(list.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return items;
}

void buildTransferList(std::string_view fileList) {
  BatchFileList = fileList;
  TransferList.free();
  for (const std::string& item : splitFileList(BatchFileList.view())) {
    TransferRecord FTPR;
    FTPR.FILENAME = item;
    TransferList.add(FTPR);
  }
  BatchCount = static_cast<uint32_t>(TransferList.count());
}

std::string joinPath(std::string_view directory, std::string_view name) {
  return ui::cat(ui::clip(directory), ui::clip(name));
}

std::string lookupPath(std::string_view directory, std::string_view name) {
  std::string path = joinPath(directory, name);
  if (path.find(' ') != std::string::npos) path = ui::cat("\"", path, "\"");
  return path;
}

}  // namespace batch
