#include "client/local_tags.h"

namespace client {

namespace {

// Changes the tag of the file at a position, when that position still holds the named file.
template <typename Change>
void changeTag(std::size_t position, std::string_view name, Change change) {
  AllFiles.locked([&](auto& files) {
    AllFilesRecord* file = position > 0 ? files.at(position) : nullptr;
    if (file == nullptr || file->NAME.clip() != ui::clip(name)) return;
    AllFilesRecord changed = *file;
    changed.MARKFIELD = change(changed.MARKFIELD);
    files.put(position, changed);
  });
}

}  // namespace

void toggleLocalTag(std::size_t position, std::string_view name) {
  changeTag(position, name, [](std::uint8_t mark) -> std::uint8_t { return mark != 0 ? 0 : 1; });
}

void clearLocalTag(std::size_t position, std::string_view name) {
  changeTag(position, name, [](std::uint8_t) -> std::uint8_t { return 0; });
}

void clearLocalTags() {
  AllFiles.locked([](auto& files) {
    AllFilesRecord file;
    for (std::size_t pos = 1; pos <= files.count(); ++pos) {
      if (!files.get(pos, file) || file.MARKFIELD == 0) continue;
      file.MARKFIELD = 0;
      files.put(pos, file);
    }
  });
}

std::size_t firstTaggedFile(AllFilesRecord& file) {
  return AllFiles.find([](const AllFilesRecord& f) { return f.MARKFIELD != 0; }, file);
}

}  // namespace client
