// The library's exported data: one set for the whole process, shared by the interactive client and
// the batch.
#include "engine/client_session.h"
#include "nimbo.h"

extern "C" {
std::atomic<uint32_t> hOpen{0};
std::atomic<uint32_t> hConnection{0};
std::atomic<uint8_t> bActiveSession{0};
ui::Guarded<ui::ZText<40>> ServerName{ui::ZText<40>(engine::kDefaultServerName)};
ui::Queue<FoundFilesRecord> FoundFiles;
ui::Queue<DirectoryListRecord> DirectoryList;
int32_t GlobalRequest = 0;
int32_t GlobalResponse = 0;
int32_t VCRRequest = 0;
std::atomic<uint32_t> MainWindow{0};
std::atomic<uint32_t> MainThread{0};
ui::ZText<20> NullString;
}

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && sizeof(std::atomic<uint8_t>) == 1,
              "C readers see the handles and flags as plain numbers");
static_assert(sizeof(ui::ZText<20>) == 20, "NullString is a plain char[20] to C readers");
