#include "batch/context.h"

namespace batch {

ui::ZText<20> BatchUserName;
ui::ZText<20> BatchPassword;
ui::ZText<40> BatchAgentName;
std::atomic<uint32_t> BatchConnectFlags{0};
DirectoryText BatchRemoteDirectory;
DirectoryText BatchLocalDirectory;
FileListText BatchFileList;
ui::PText<256> BatchErrorText;

ui::Guarded<PathText> BatchRemotePath;
ui::Guarded<PathText> BatchLocalPath;

ui::Queue<TransferRecord> TransferList;
std::atomic<uint32_t> BatchPosition{0};
std::atomic<uint32_t> BatchCount{0};
std::atomic<int16_t> BatchState{StateLoaded};
std::atomic<uint32_t> hBatchFtp{0};

WIN32_FIND_DATAA BatchFindData{};

int64_t foundSize(const WIN32_FIND_DATAA& data) {
  return static_cast<int64_t>((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

ui::Guarded<ui::ZText<260>> BatchStatusText;
ui::Guarded<ui::PText<20>> BatchProgressLabel;
std::atomic<int64_t> BatchBytes{0};
std::atomic<int64_t> BatchFileSize{0};
std::atomic<int32_t> BatchPercent{0};
std::atomic<uint64_t> BatchResumedFrom{0};

}  // namespace batch
