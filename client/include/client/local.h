// The local side of the client window: the drives, the current local directory with its subfolders,
// the files in it, and the moves between folders.
//
// LocalDirectory and AllFiles live as long as the library. Read local files also runs on an FTP worker
// thread when a download has completed, so both are shared: LocalDirectory is guarded by its own lock
// and AllFiles, a queue, by its own. Everything else runs on the client window's thread.
#pragma once

#include <cstdint>

#include "client/controls.h"
#include "ui/guarded.h"
#include "ui/queue.h"
#include "ui/runtime.h"
#include "ui/text.h"

namespace client {

// A file of the current local folder.
struct AllFilesRecord {
  ui::PText<256> NAME;      // long file name
  ui::PText<13> SHORTNAME;  // short name (the long one, cut: the host has no short names)
  int32_t DATE = 0;         // YYYYMMDD of the last change
  int32_t TIME = 0;         // HHMMSScc of the last change
  int32_t SIZE = 0;         // bytes; a file of 2 GiB or more shows 2147483647
  uint8_t ATTRIB = 0;       // FILE_ATTRIBUTE_* bits
  uint8_t MARKFIELD = 0;    // tag: 0 not tagged
};

struct DriveListRecord {
  ui::PText<1> DRIVE;  // drive letter
  int32_t ICON = 0;    // drive type - 1
  int32_t ICON2 = 0, ICON3 = 0, ICON4 = 0, ICON5 = 0;
  uint16_t DRIVETYPE = 0;  // GetDriveTypeA of the drive's root
};

struct FolderListRecord {
  ui::PText<255> NAME;
  int32_t ICON = 0;   // 1 the current folder, 2 a subfolder
  int32_t LEVEL = 0;  // 1 the current folder, 2 a subfolder
};

struct SubfolderNamesRecord {
  ui::PText<255> NAME;
};

// The current local directory: upper case, ending with "\", at most 125 characters.
extern ui::Guarded<ui::ZText<126>> LocalDirectory;
// The files of the current local folder, in name order.
extern ui::Queue<AllFilesRecord> AllFiles;

// The lists of one run of the client window, and the window they are shown in.
struct LocalSide {
  explicit LocalSide(ui::Window& w) : window(w) {}
  LocalSide(const LocalSide&) = delete;
  LocalSide& operator=(const LocalSide&) = delete;

  ui::Window& window;
  ui::Queue<DriveListRecord> DriveList;
  ui::Queue<FolderListRecord> FolderList;
  ui::Queue<SubfolderNamesRecord> SubfolderNames;
  DriveListRecord DRV;  // record buffer: the drive chosen last
  FolderListRecord FOL;
};

// Binds the local path display, the folder, file and drive lists to their fields. Before the window opens.
void bindLocalSide(LocalSide& side);

// Fills the drive list, sets the icon lists, chooses the starting LocalDirectory and reads its folders.
void readDrives(LocalSide& side);
// Fills the folder list from LocalDirectory: the folder itself, then its subfolders in name order.
void readLocalFolders(LocalSide& side);
// Fills AllFiles with the ordinary files of LocalDirectory. Any thread: the end of a download calls it.
void readLocalFiles();
// Fills AllFiles when the window opens; hidden and system files are shown this once.
void initialFileListing();
// Shows the icon of the drive chosen last in the drive image.
void showDriveIcon(LocalSide& side);
// The window's reactions to the drive list, the folder list's alert and the "Previous level" button.
void changeDrive(LocalSide& side);
void goToFolder(LocalSide& side);
void folderUp(LocalSide& side);

}  // namespace client
