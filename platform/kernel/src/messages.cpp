// Message texts: GetModuleHandleA for the one module callers ask for, FormatMessageA over two tables of
// our own English texts (the Internet errors of that module, and the system's base errors).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "kernel/ascii.h"
#include "kernel/winbase.h"

namespace {

// Pseudo-handles: nothing is loaded, the values only have to be recognisable and never NULL.
const HMODULE kInternetModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7E570000));
const HMODULE kProgramModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));

struct Message {
  DWORD id;
  const char* text;
};

// Sorted by id. Every number the FTP layer raises has a text, including those it reserves.
constexpr Message kInternetMessages[] = {
    {12001, "The session has no free handle left."},
    {12002, "The request ran past its time limit."},
    {12003, "The server reported an error; its last response tells more."},
    {12004, "An unexpected fault occurred inside the Internet layer."},
    {12005, "The URL is malformed."},
    {12006, "The URL names a scheme that is unknown or not supported."},
    {12007, "The server name could not be resolved."},
    {12008, "The requested protocol is not available."},
    {12009, "The option is not known."},
    {12010, "The option value has the wrong length."},
    {12011, "The option can be read but not set."},
    {12012, "The Internet layer is shutting down."},
    {12013, "The server refused the user name."},
    {12014, "The server refused the password."},
    {12015, "The server refused the logon."},
    {12016, "The operation is not valid here."},
    {12017, "The operation was cancelled because its handle was closed."},
    {12018, "The handle is of the wrong kind for this operation."},
    {12019, "The handle is not ready for this operation."},
    {12020, "The request cannot be made through a proxy."},
    {12023, "Direct access to the network is not possible now."},
    {12024, "An asynchronous request needs a context value other than zero."},
    {12025, "An asynchronous request needs a status callback."},
    {12026, "Requests are still pending on this handle."},
    {12027, "The request is not in a valid format."},
    {12028, "The requested item could not be found."},
    {12029, "The connection to the server could not be made."},
    {12030, "The server closed the connection."},
    {12031, "The connection with the server was reset."},
    {12033, "The proxy refused the request."},
    {12037, "The server's certificate has expired or is not yet valid."},
    {12038, "The server's certificate was issued for another name."},
    {12045, "The server's certificate comes from an authority that is not trusted."},
    {12047, "The worker thread for an asynchronous request could not be started."},
    {12110, "Another operation is still in progress on this FTP session."},
    {12111, "The FTP session was ended, and the operation with it."},
    {12112, "The FTP server does not offer passive mode."},
    {12157, "The secure connection with the server failed."},
    {12163, "The network connection has been lost."},
    {12164, "The server cannot be reached."},
    {12165, "The proxy server cannot be reached."},
    {12172, "The Internet session has not been opened yet."},
};

constexpr Message kSystemMessages[] = {
    {ERROR_SUCCESS, "The operation succeeded."},
    {ERROR_FILE_NOT_FOUND, "The file does not exist."},
    {ERROR_PATH_NOT_FOUND, "A folder on the path does not exist."},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many files are open."},
    {ERROR_ACCESS_DENIED, "Permission for this is denied."},
    {ERROR_INVALID_HANDLE, "The handle is not valid."},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory for this operation."},
    {ERROR_NOT_SAME_DEVICE, "A file cannot be moved to another drive this way."},
    {ERROR_NO_MORE_FILES, "No further files match the search."},
    {ERROR_WRITE_PROTECT, "The drive is read-only."},
    {ERROR_WRITE_FAULT, "Writing to the device failed."},
    {ERROR_READ_FAULT, "Reading from the device failed."},
    {ERROR_GEN_FAILURE, "The device reported a failure."},
    {ERROR_HANDLE_DISK_FULL, "The disk is full."},
    {ERROR_NOT_SUPPORTED, "The operation is not supported."},
    {ERROR_FILE_EXISTS, "A file of that name already exists."},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid."},
    {ERROR_BROKEN_PIPE, "The other end of the pipe has been closed."},
    {ERROR_DISK_FULL, "The disk has no room left."},
    {ERROR_INSUFFICIENT_BUFFER, "The buffer is too small for the result."},
    {ERROR_INVALID_NAME, "The file or folder name is not valid."},
    {ERROR_MOD_NOT_FOUND, "The module is not loaded."},
    {ERROR_DIR_NOT_EMPTY, "The folder is not empty."},
    {ERROR_BUSY, "The resource is in use."},
    {ERROR_ALREADY_EXISTS, "That name already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The file name or path is too long."},
    {ERROR_MORE_DATA, "More data is waiting."},
    {ERROR_NO_MORE_ITEMS, "No more items are left."},
    {ERROR_DIRECTORY, "The name is not that of a folder."},
    {ERROR_MR_MID_NOT_FOUND, "There is no message text for this number."},
    {ERROR_OPERATION_ABORTED, "The operation was aborted."},
    {ERROR_IO_PENDING, "The operation is still in progress."},
    {ERROR_TIMEOUT, "The operation timed out."},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, "The module has no message table."},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "There is no message text in that language."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name cannot be resolved: too many symbolic links."},
};

template <std::size_t N>
const char* find(const Message (&table)[N], DWORD id) {
  const auto it = std::lower_bound(std::begin(table), std::end(table), id,
                                   [](const Message& m, DWORD v) { return m.id < v; });
  return it != std::end(table) && it->id == id ? it->text : nullptr;
}

// Our texts are English, which a neutral language (0, or neutral with any sublanguage) also takes.
bool languageServed(DWORD language) {
  const DWORD primary = language & 0x3FF;
  return language == 0 || primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

// The text as the width bits ask: 0 keeps the single line and ends it with "\r\n"; the mask value
// gives one line without a break; any other value breaks between words at that width.
std::string shaped(std::string_view text, DWORD width) {
  if (width == 0) return std::string(text) + "\r\n";
  if (width == FORMAT_MESSAGE_MAX_WIDTH_MASK) return std::string(text);
  std::string out;
  std::size_t lineLength = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find(' ', pos), text.size());
    const std::string_view word = text.substr(pos, end - pos);
    if (lineLength > 0 && lineLength + 1 + word.size() > width) {
      out += "\r\n";
      lineLength = 0;
    } else if (lineLength > 0) {
      out += ' ';
      ++lineLength;
    }
    out += word;  // a word longer than the width stands on a line of its own, whole
    lineLength += word.size();
    pos = end + 1;
  }
  return out + "\r\n";
}

DWORD fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

extern "C" HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) return kProgramModule;
  const std::string_view name(lpModuleName);
  if (kernel::equalIgnoringAsciiCase(name, "wininet.dll") || kernel::equalIgnoringAsciiCase(name, "wininet"))
    return kInternetModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

extern "C" DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  (void)Arguments;  // no text of ours has inserts
  if (lpBuffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const bool fromModule = dwFlags & FORMAT_MESSAGE_FROM_HMODULE;
  const bool fromSystem = dwFlags & FORMAT_MESSAGE_FROM_SYSTEM;
  if (dwFlags & FORMAT_MESSAGE_FROM_STRING) return fail(ERROR_NOT_SUPPORTED);
  if (!fromModule && !fromSystem) return fail(ERROR_INVALID_PARAMETER);
  if (!languageServed(dwLanguageId)) return fail(ERROR_RESOURCE_LANG_NOT_FOUND);

  const char* text = nullptr;
  DWORD notFound = ERROR_MR_MID_NOT_FOUND;
  if (fromModule) {
    if (lpSource == kInternetModule)
      text = find(kInternetMessages, dwMessageId);
    else if (lpSource == nullptr || lpSource == kProgramModule)
      notFound = ERROR_RESOURCE_TYPE_NOT_FOUND;  // the program carries no message table
    else
      notFound = ERROR_INVALID_HANDLE;
  }
  if (text == nullptr && fromSystem) {
    text = find(kSystemMessages, dwMessageId);
    notFound = ERROR_MR_MID_NOT_FOUND;
  }
  if (text == nullptr) return fail(notFound);

  const std::string out = shaped(text, dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK);
  const auto length = static_cast<DWORD>(out.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // lpBuffer is then where the address of the new buffer goes; nSize is the least it must hold.
    const std::size_t bytes = std::max<std::size_t>(out.size() + 1, nSize);
    auto* memory = static_cast<char*>(std::malloc(bytes));
    if (memory == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(memory, out.c_str(), out.size() + 1);
    *reinterpret_cast<char**>(lpBuffer) = memory;
    return length;
  }
  if (nSize < out.size() + 1) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpBuffer, out.c_str(), out.size() + 1);
  return length;
}

extern "C" HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
