// What the Upload/Download Parameters window starts from each time it opens.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwick {

// The demo server of scripts/demo.sh.
inline constexpr std::string_view kDefaultServer = "127.0.0.1:2121";
// Names another default server (host or host:port); tests point the window at their own server so.
inline constexpr const char* kDefaultServerVariable = "TARNWICK_DEFAULT_SERVER";
inline constexpr std::string_view kDefaultRemoteDirectory = "/incoming";
inline constexpr std::string_view kDefaultFileList =
    "FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip";

// Widths of the window's texts, which are also the widths UPLDNL_AS is given.
inline constexpr std::size_t kServerWidth = 40;
inline constexpr std::size_t kUserWidth = 20;
inline constexpr std::size_t kPasswordWidth = 20;
inline constexpr std::size_t kRemoteDirectoryWidth = 60;
inline constexpr std::size_t kLocalDirectoryWidth = 60;
inline constexpr std::size_t kFileListWidth = 512;

// The current directory relative to itself. It stands in the Local Directory field when the current
// directory's full name is longer than the field: a name cut to 60 characters would name another
// folder, and the batch would read from or write into that one.
inline constexpr std::string_view kCurrentDirectory = ".\\";

}  // namespace tarnwick
