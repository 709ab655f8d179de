// The framework's file-management object and its two state queues: the files it has open and the
// record buffers saved while a form changes them. The program's windows keep no files, so nothing
// here opens one; the object still comes up with the program and goes with it, as every framework
// module does.
#pragma once

#include <cstdint>

#include "ui/queue.h"
#include "ui/text.h"

namespace framework {

// A file the manager has open, and how many users share it.
struct OpenFileRecord {
  ui::ZText<260> NAME;
  std::uint16_t USERS = 0;
};

// A record buffer saved while a form changes it, to be restored on cancel.
struct SavedStateRecord {
  ui::ZText<260> NAME;
  std::uint16_t POSITION = 0;
};

class FileManagement {
 public:
  FileManagement() = default;
  virtual ~FileManagement() = default;
  FileManagement(const FileManagement&) = delete;
  FileManagement& operator=(const FileManagement&) = delete;

  ui::Queue<OpenFileRecord> OPENFILES;
  ui::Queue<SavedStateRecord> SAVEDSTATES;
};

// The module: the object lives from the program's start to its end, which empties its queues.
class FileManagementModule {
 public:
  FileManagementModule() = default;
  ~FileManagementModule();
  FileManagementModule(const FileManagementModule&) = delete;
  FileManagementModule& operator=(const FileManagementModule&) = delete;

  FileManagement& files() { return files_; }

 private:
  FileManagement files_;
};

}  // namespace framework
