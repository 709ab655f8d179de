// The numbers of the client window's controls, as its definition gives them
// (resources/windows/NIMBO001.json). The one copy the window's code and its tests use; a test checks each
// against the window as built, and binding a number the window lacks halts the program.
#pragma once

namespace client::control {

// The session and the remote side.
inline constexpr int ProxyFromRegistry = 1;
inline constexpr int StartSession = 2;
inline constexpr int CloseSession = 3;
inline constexpr int ProxyServer = 5;
inline constexpr int ServerName = 7;
inline constexpr int UserName = 9;
inline constexpr int Password = 11;
inline constexpr int Connect = 12;
inline constexpr int Passive = 13;
inline constexpr int Disconnect = 14;
inline constexpr int RemotePath = 16;
inline constexpr int Transfer = 17;
inline constexpr int Binary = 18;
inline constexpr int Ascii = 19;
inline constexpr int Get = 20;
inline constexpr int Put = 21;
inline constexpr int ClearRemoteTags = 22;
inline constexpr int Progress = 23;
inline constexpr int ClearLocalTags = 24;
inline constexpr int RemoteTree = 25;
inline constexpr int Close = 26;

// The local side.
inline constexpr int LocalPath = 28;
inline constexpr int FolderList = 29;
inline constexpr int DriveImage = 30;
inline constexpr int PreviousLevel = 31;
inline constexpr int FileList = 32;
inline constexpr int DriveList = 33;

}  // namespace client::control
