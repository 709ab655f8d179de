// The program tarnwick: an application frame, "TEST FTP CLIENT", whose menu starts the library's
// interactive client (CLIENT_AS) and the Upload/Download Parameters window, from which a batch
// transfer (UPLDNL_AS) is started.
//
// Everything runs on the thread that calls run(), which becomes the window runtime's GUI thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "framework/error_manager.h"
#include "framework/settings_file_manager.h"
#include "ui/runtime.h"

namespace tarnwick {

// The program's own window-procedure codes. They share their names with data the library exports,
// but they are the program's: neither side reads the other's.
extern std::uint8_t GlobalRequest;   // request for the next window procedure
extern std::uint8_t GlobalResponse;  // response of the last one
extern std::int32_t VCRRequest;      // browse navigation, shared with every window manager

inline constexpr std::string_view kSettingsFile = "tarnwick.INI";

// The program's one error manager and one settings file manager.
framework::ErrorManager& errors();
framework::SettingsFileManager& settings();

// The frame window while it exists, else 0: the parameters window writes its hints there.
ui::WindowRef frameWindow();

// Start-up, the frame until it closes, and the end. The program's exit code: 0, or 1 when no window
// can be opened (the reason is on stderr).
int run();

// The window procedures.
void Main();
void SetUplDnlParameters();

}  // namespace tarnwick
