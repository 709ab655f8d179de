// The numbers of the program's menu entries and of the parameters window's controls, as the window
// definitions give them (resources/tarnwick/windows: TARNW001 for the frame, TARNW002 for the
// parameters window). The one copy the program and its tests use; a test checks each against the
// windows as built, and binding a number a window lacks halts the program.
#pragma once

namespace tarnwick {

// The frame's menu entries (negative, as menu entries are). Those of the standard entries are handled
// by the window runtime; the program's own code uses only the two that start the library's procedures.
inline constexpr int kPrintSetup = -2, kExit = -3;
inline constexpr int kStartAsyncClient = -5;
inline constexpr int kStartAutoUploadDownload = -6;
inline constexpr int kCut = -8, kCopy = -9, kPaste = -10;
inline constexpr int kTile = -11, kCascade = -12;
inline constexpr int kHelpContents = -14;

// The Upload/Download Parameters window.
inline constexpr int kActionType = 1;  // the option box holding the two radio buttons
inline constexpr int kUpload = 2, kDownload = 3;
inline constexpr int kPassive = 4;
inline constexpr int kServer = 6;
inline constexpr int kUserName = 8;
inline constexpr int kPassword = 10;
inline constexpr int kRemoteDirectory = 12;
inline constexpr int kLocalDirectory = 14;
inline constexpr int kFileList = 16;
inline constexpr int kStart = 17, kCancel = 18;

}  // namespace tarnwick
