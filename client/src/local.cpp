#include "client/local.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "client/local_paths.h"
#include "kernel/winbase.h"

namespace client {

ui::Guarded<ui::ZText<126>> LocalDirectory;
ui::Queue<AllFilesRecord> AllFiles;

namespace {

const std::vector<std::string>& driveIcons() {
  static const std::vector<std::string> icons = [] {
    std::vector<std::string> v;
    for (int i = 1; i <= 5; ++i) v.emplace_back(driveIconName(i));
    return v;
  }();
  return icons;
}

const std::vector<std::string>& folderIcons() {
  static const std::vector<std::string> icons = {std::string(kOpenFolderIcon),
                                                 std::string(kClosedFolderIcon)};
  return icons;
}

// A search of FindFirstFileA, closed when it goes out of scope.
class FileSearch {
 public:
  explicit FileSearch(const std::string& pattern) : handle_(FindFirstFileA(pattern.c_str(), &data_)) {}
  ~FileSearch() {
    if (found()) FindClose(handle_);
  }
  FileSearch(const FileSearch&) = delete;
  FileSearch& operator=(const FileSearch&) = delete;

  bool found() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  bool next() { return FindNextFileA(handle_, &data_) != FALSE; }
  const WIN32_FIND_DATAA& data() const { return data_; }
  std::string_view name() const {
    return std::string_view(data_.cFileName, ::strnlen(data_.cFileName, MAX_PATH));
  }

 private:
  WIN32_FIND_DATAA data_{};
  HANDLE handle_;
};

int32_t sizeField(std::int64_t size) {
  // The field is 32 bits; a larger file saturates rather than wrapping to a negative size.
  return static_cast<int32_t>(std::clamp<std::int64_t>(size, 0, std::numeric_limits<int32_t>::max()));
}

// Lists the files of `directory` and puts them into AllFiles, unless LocalDirectory has moved on
// to another folder meanwhile (its own listing then follows and must not be overwritten by this older one).
void fillAllFiles(const std::string& directory, const std::string& pattern, bool hiddenToo) {
  std::uint32_t mask = ui::ff_READONLY | ui::ff_ARCHIVE;
  if (hiddenToo) mask |= ui::ff_HIDDEN | ui::ff_SYSTEM;
  std::vector<ui::DirEntry> entries = ui::directory(pattern, mask);
  std::erase_if(entries, [&](const ui::DirEntry& e) {
    return (e.attrib & FILE_ATTRIBUTE_DIRECTORY) ||
           (!hiddenToo && (e.attrib & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) ||
           !addressableName(e.name);
  });
  // Sorted by the names as listed: the records' blank-padded fields are costly to compare and to move.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ui::DirEntry& a, const ui::DirEntry& b) { return nameBefore(a.name, b.name); });
  std::vector<AllFilesRecord> files(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ui::DirEntry& e = entries[i];
    AllFilesRecord& r = files[i];
    r.NAME = e.name;
    r.SHORTNAME = e.shortName;
    r.DATE = e.date;
    r.TIME = e.time;
    r.SIZE = sizeField(e.size);
    r.ATTRIB = e.attrib;
  }
  AllFiles.locked([&](auto& q) {
    if (LocalDirectory.get().view() != directory) return;
    q.delRange(1, q.count());
    for (const AllFilesRecord& r : files) q.add(r);
  });
}

}  // namespace

void bindLocalSide(LocalSide& side) {
  // The path display only shows LocalDirectory; nothing the control holds is ever copied back.
  side.window.bind(control::LocalPath,
                   ui::Binding{[] { return LocalDirectory.get().str(); }, [](std::string_view) {}});
  side.window.bindList<FolderListRecord>(control::FolderList, side.FolderList, [](const FolderListRecord& r) {
    return std::vector<ui::Cell>{r.NAME.str(), std::int64_t{r.ICON}, std::int64_t{r.LEVEL}};
  });
  // The tag follows the cells the list's format shows: it is the row's mark.
  side.window.bindList<AllFilesRecord>(control::FileList, AllFiles, [](const AllFilesRecord& r) {
    return std::vector<ui::Cell>{r.NAME.str(), std::int64_t{r.MARKFIELD}};
  });
  side.window.bindList<DriveListRecord>(control::DriveList, side.DriveList, [](const DriveListRecord& r) {
    return std::vector<ui::Cell>{r.DRIVE.str(), std::int64_t{r.ICON}};
  });
}

void readDrives(LocalSide& side) {
  side.DriveList.free();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const char root[] = {letter, ':', '\\', '\0'};
    const UINT type = GetDriveTypeA(root);
    if (type < DRIVE_REMOVABLE) continue;
    DriveListRecord r;
    r.DRIVE = std::string_view(&letter, 1);
    r.DRIVETYPE = static_cast<uint16_t>(type);
    r.ICON = static_cast<int32_t>(type) - 1;
    side.DriveList.add(r);
  }
  side.window.setIconList(control::DriveList, driveIcons());
  side.window.setIconList(control::FolderList, folderIcons());

  // Changing to the current directory proves it still exists: it may have been removed under us.
  const std::string current = std::string(ui::clip(ui::currentDirectory()));
  std::optional<std::string> start;
  if (!current.empty() && ui::changeDirectory(current)) start = startingDirectoryOf(current);

  std::size_t row = 0;
  if (start) {
    const char letter = (*start)[0];
    row =
        side.DriveList.find([&](const DriveListRecord& r) { return r.DRIVE.view()[0] == letter; }, side.DRV);
    LocalDirectory = *start;
  } else {
    row = side.DriveList.find([](const DriveListRecord& r) { return r.DRIVETYPE == DRIVE_FIXED; }, side.DRV);
    if (row == 0 && side.DriveList.get(side.DriveList.count(), side.DRV)) row = side.DriveList.count();
    // The root file system is always drive C:, so an empty drive list still has somewhere to start.
    const char letter = row ? side.DRV.DRIVE.view()[0] : 'C';
    LocalDirectory = std::string{letter, ':', '\\'};
  }
  // The list shows the drives just read before one of them can be highlighted.
  side.window.redisplay(control::DriveList);
  if (row) side.window.selectRow(control::DriveList, static_cast<int>(row));
  readLocalFolders(side);
}

void readLocalFolders(LocalSide& side) {
  side.SubfolderNames.free();
  side.FolderList.free();
  const std::string directory = LocalDirectory.get().str();

  FolderListRecord top;
  top.NAME = folderRowName(directory);
  top.ICON = 1;
  top.LEVEL = 1;
  side.FolderList.add(top);

  std::vector<std::string> names;
  FileSearch search(directory + "*.*");
  if (search.found()) {
    do {
      const std::string_view name = search.name();
      if (!(search.data().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      if (name == "." || name == ".." || !addressableName(name)) continue;
      names.emplace_back(name);
    } while (search.next());
  }
  // Sorted as plain strings: the queue's blank-padded fields are costly to compare.
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return nameBefore(a, b); });
  SubfolderNamesRecord sub;
  FolderListRecord row;
  row.ICON = 2;
  row.LEVEL = 2;
  for (const std::string& name : names) {
    sub.NAME = name;
    side.SubfolderNames.add(sub);
    row.NAME = upperCase(name);
    side.FolderList.add(row);
  }
  // The folder list back at its first row. Not by a Home keystroke: that goes to whatever control
  // has the keyboard, and after a drive was chosen that is the drive list, which Home sets back to
  // its first drive.
  side.window.selectRow(control::FolderList, 1);
}

void readLocalFiles() {
  const std::string directory = LocalDirectory.get().str();
  fillAllFiles(directory, directory + "*.*", false);
}

void initialFileListing() {
  // The folder LocalDirectory names, which is the process's current directory whenever that could be
  // used; otherwise the file list would show one folder while a Put takes its files from another.
  const std::string directory = LocalDirectory.get().str();
  std::string pattern;
  if (!directory.empty()) {
    pattern = directory + "*.*";
  } else {
    pattern = std::string(ui::clip(ui::currentDirectory()));
    if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
    pattern += "*.*";
  }
  fillAllFiles(directory, pattern, true);
}

void showDriveIcon(LocalSide& side) {
  const std::string_view icon = driveIconName(side.DRV.ICON);
  if (!icon.empty()) side.window.setImage(control::DriveImage, icon);
}

void changeDrive(LocalSide& side) {
  const int row = side.window.selectedRow(control::DriveList);
  if (row < 1 || !side.DriveList.get(static_cast<std::size_t>(row), side.DRV)) return;
  LocalDirectory = std::string{side.DRV.DRIVE.view()[0], ':', '\\'};
  showDriveIcon(side);
  readLocalFolders(side);
  readLocalFiles();
  side.window.redisplay();
}

void goToFolder(LocalSide& side) {
  // The folder list opens on a double-click or Enter; the right mouse button is not meant for it.
  if (ui::keyCode() == ui::key::MouseRight) return;
  const int row = side.window.selectedRow(control::FolderList);
  if (row < 1 || !side.FolderList.get(static_cast<std::size_t>(row), side.FOL)) return;
  const std::string directory = LocalDirectory.get().str();
  if (row == 1) {
    if (side.FOL.NAME.clip().size() > 3) LocalDirectory = parentFolder(directory);
  } else if (const auto path = subfolderPath(directory, side.FOL.NAME.clip())) {
    LocalDirectory = *path;
  } else {
    ui::message("Cannot open this folder:|its path would be longer than 125 characters.");
  }
  readLocalFolders(side);
  readLocalFiles();
  side.window.redisplay();
}

void folderUp(LocalSide& side) {
  side.window.selectRow(control::FolderList, 1);
  side.window.post(ui::event::Alert, control::FolderList);
}

}  // namespace client
