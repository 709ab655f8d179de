#include "batch/context.h"

#include "batch/status.h"

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
BatchStateCode BatchState;

std::string stateName(int16_t code) {
  switch (code) {
    case StateLoaded:
      return "Loaded";
    case StateFinished:
      return "Finished";
    case StateFirstConnect:
      return "First connect";
    case StateConnectingGet:
      return "Connecting for Get";
    case StateGetting:
      return "Get in flight";
    case StateConnectingPut:
      return "Connecting for Put";
    case StatePutting:
      return "Put in flight";
    default:
      return std::to_string(code);
  }
}

void setBatchState(int16_t to) {
  const int16_t from = BatchState.value_.exchange(to);
  if (tracing()) traceState(ui::cat("batch state ", stateName(from), " -> ", stateName(to)));
}
std::atomic<uint32_t> hBatchFtp{0};

void closeHandleIn(std::atomic<uint32_t>& slot) {
  if (const uint32_t handle = slot.exchange(0)) InternetCloseHandle(INET_HANDLE(handle));
}

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
