#include "framework/settings_file_manager.h"

#include "ui/runtime.h"

namespace framework {

void SettingsFileManager::init(std::string_view fileName) {
  FILENAME = fileName;
  SECTORS = std::make_unique<ui::Queue<SectorRecord>>();
  initHook();
  fetchQueue(kSectorsSection, kSectorsList, *SECTORS, &SectorRecord::FAMILY, &SectorRecord::ITEM,
             &SectorRecord::TYPE);
}

void SettingsFileManager::kill() {
  if (!SECTORS) return;
  updateQueue(kSectorsSection, kSectorsList, *SECTORS, &SectorRecord::FAMILY, &SectorRecord::ITEM,
              &SectorRecord::TYPE);
  SECTORS.reset();
}

std::string SettingsFileManager::fetch(std::string_view section, std::string_view entry) const {
  std::string value = ui::iniGet(section, entry, kUnknownValue, FILENAME.view());
  value.resize(ui::utf8Fit(value, kValueLimit).size());
  return value;
}

std::string SettingsFileManager::fetchField(std::string_view section, std::string_view entry, int n) const {
  return std::string(fieldOf(fetch(section, entry), n));
}

bool SettingsFileManager::update(std::string_view section, std::string_view entry,
                                 std::string_view value) const {
  return ui::iniPut(section, entry, value, FILENAME.view());
}

}  // namespace framework
