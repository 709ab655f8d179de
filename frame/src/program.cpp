// Start-up and end of the program, in their order: the modules, the error manager with its messages,
// the settings file, the frame until it closes, then everything taken down in reverse.
#include "tarnwick/program.h"

#include <cstdio>

#include "framework/edit_in_place.h"
#include "framework/file_management.h"

namespace tarnwick {

std::uint8_t GlobalRequest = 0;
std::uint8_t GlobalResponse = 0;
std::int32_t VCRRequest = 0;

namespace {

// A program that cannot show its window has failed, and says so to whoever started it.
constexpr int kNoWindowsExitCode = 1;

framework::ErrorManager theErrors;
framework::SettingsFileManager theSettings;

}  // namespace

framework::ErrorManager& errors() { return theErrors; }
framework::SettingsFileManager& settings() { return theSettings; }

int run() {
  if (!ui::start()) {
    std::fprintf(stderr, "tarnwick: %s\n", ui::startError().c_str());
    return kNoWindowsExitCode;
  }
  GlobalRequest = 0;
  GlobalResponse = 0;
  VCRRequest = 0;
  {
    framework::FileManagementModule files;
    framework::EditInPlaceModule editInPlace;
    errors().init();
    settings().init(kSettingsFile);
    Main();
    settings().endHook();
    settings().kill();
    errors().kill();
  }
  return 0;
}

}  // namespace tarnwick
