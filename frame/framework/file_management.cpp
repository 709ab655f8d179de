#include "framework/file_management.h"

namespace framework {

FileManagementModule::~FileManagementModule() {
  files_.OPENFILES.free();
  files_.SAVEDSTATES.free();
}

}  // namespace framework
