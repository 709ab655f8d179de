// Last error per thread, the module handle and the message texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "kernel/errors.h"
#include "kernel/winbase.h"

namespace {

// Every number the FTP layer raises (its contract's error table), and the base errors in use.
constexpr DWORD kInternetErrors[] = {
    12001, 12002, 12003, 12004, 12005, 12006, 12007, 12008, 12009, 12010, 12011, 12012, 12013, 12014,
    12015, 12016, 12017, 12018, 12019, 12020, 12023, 12024, 12025, 12026, 12027, 12028, 12029, 12030,
    12031, 12033, 12037, 12038, 12045, 12047, 12110, 12111, 12112, 12157, 12163, 12164, 12165, 12172};
// clang-format off
constexpr DWORD kBaseErrors[] = {
    ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
    ERROR_NOT_ENOUGH_MEMORY, ERROR_NO_MORE_FILES, ERROR_WRITE_FAULT, ERROR_READ_FAULT, ERROR_HANDLE_DISK_FULL,
    ERROR_FILE_EXISTS, ERROR_INVALID_PARAMETER, ERROR_DISK_FULL, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_NAME,
    ERROR_MOD_NOT_FOUND, ERROR_DIR_NOT_EMPTY, ERROR_ALREADY_EXISTS, ERROR_FILENAME_EXCED_RANGE, ERROR_MORE_DATA,
    ERROR_NO_MORE_ITEMS, ERROR_DIRECTORY, ERROR_MR_MID_NOT_FOUND, ERROR_OPERATION_ABORTED, ERROR_IO_PENDING};
// clang-format on

std::string format(DWORD flags, LPCVOID source, DWORD id, DWORD size = 256) {
  std::string buffer(size, '#');
  const DWORD n = FormatMessageA(flags, source, id, 0, buffer.data(), size, nullptr);
  return n == 0 ? std::string() : buffer.substr(0, n);
}

TEST(LastError, BelongsToEachThread) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD seenThere = 1, afterSetThere = 0;
  std::thread other([&] {
    seenThere = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
    afterSetThere = GetLastError();
  });
  other.join();
  EXPECT_EQ(seenThere, ERROR_SUCCESS) << "a new thread starts clean";
  EXPECT_EQ(afterSetThere, ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << "another thread's error must not leak over";
}

TEST(LastError, FromErrno) {
  EXPECT_EQ(kernel::errorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(kernel::errorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(kernel::errorFromErrno(ENOSPC), ERROR_DISK_FULL);
  EXPECT_EQ(kernel::errorFromErrno(EEXIST), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(kernel::errorFromErrno(ENOTEMPTY), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(kernel::errorFromErrno(ENAMETOOLONG), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(kernel::errorFromErrno(12345), ERROR_GEN_FAILURE);
  kernel::setLastErrorFromErrno(EROFS);
  EXPECT_EQ(GetLastError(), ERROR_WRITE_PROTECT);
}

TEST(ModuleHandle, OnlyTheInternetModuleIsKnown) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  ASSERT_NE(inet, nullptr);
  EXPECT_EQ(GetModuleHandleA("WinINet.DLL"), inet);
  EXPECT_EQ(GetModuleHandleA("wininet"), inet);
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandleA("wininet.dl"), nullptr);
}

TEST(FormatMessage, EveryInternetErrorHasOneEnglishLineEndingInCrLf) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  std::set<std::string> texts;
  for (DWORD id : kInternetErrors) {
    const std::string text = format(FORMAT_MESSAGE_FROM_HMODULE, inet, id);
    ASSERT_GE(text.size(), 12u) << id;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << id;
    EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2) << id << ": one line";
    EXPECT_LT(text.size(), 256u) << id << " must fit the engine's 256-byte buffer";
    EXPECT_TRUE(texts.insert(text).second) << id << " shares its text: " << text;
  }
  // The module holds the Internet texts only; the system holds the base ones.
  EXPECT_EQ(format(FORMAT_MESSAGE_FROM_HMODULE, inet, ERROR_FILE_NOT_FOUND), "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  for (DWORD id : kBaseErrors) {
    const std::string text = format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, id);
    ASSERT_GE(text.size(), 12u) << id;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << id;
    EXPECT_TRUE(texts.insert(text).second) << id << " shares its text: " << text;
  }
  EXPECT_NE(format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM, inet, ERROR_ACCESS_DENIED), "")
      << "the system is asked when the module has no text";
}

TEST(FormatMessage, UnknownNumbersAndModulesFailWithTheirReason) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  for (DWORD id : {12000u, 12021u, 12032u, 12176u, 0u, 99999u}) {
    SetLastError(0);
    EXPECT_EQ(format(FORMAT_MESSAGE_FROM_HMODULE, inet, id), "") << id;
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND) << id;
  }
  EXPECT_EQ(format(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 12002), "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(format(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 12002), "");
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  char buffer[64];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, inet, 12002, MAKELANGID(0x07, SUBLANG_DEFAULT),
                           buffer, sizeof buffer, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND) << "German is not served";
  EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, inet, 12002,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr),
            0u);
  EXPECT_EQ(FormatMessageA(0, nullptr, 2, 0, buffer, sizeof buffer, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FormatMessage, ASmallBufferIsLeftAloneAndReported) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  const std::string whole = format(FORMAT_MESSAGE_FROM_HMODULE, inet, 12029);
  ASSERT_FALSE(whole.empty());
  // Exactly enough (the text and its zero) works; one byte less fails without writing anything.
  for (DWORD size : {static_cast<DWORD>(whole.size() - 1), static_cast<DWORD>(whole.size()), 1u, 0u}) {
    std::string guarded(whole.size() + 8, '#');
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, inet, 12029, 0, guarded.data(), size, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << size;
    EXPECT_EQ(guarded, std::string(whole.size() + 8, '#')) << size;
  }
  std::string exact(whole.size() + 1, '#');
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, inet, 12029, 0, exact.data(),
                           static_cast<DWORD>(exact.size()), nullptr),
            whole.size());
  EXPECT_EQ(exact, whole + '\0');
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, inet, 12029, 0, nullptr, 256, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FormatMessage, AllocatesItsBufferWhenAsked) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, inet,
      12007, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::strlen(text), n);
  EXPECT_EQ(std::string(text), format(FORMAT_MESSAGE_FROM_HMODULE, inet, 12007));
  EXPECT_EQ(LocalFree(text), nullptr);
  // The size asked for is the least the buffer holds.
  text = nullptr;
  ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 5, 0,
                           reinterpret_cast<LPSTR>(&text), 4096, nullptr),
            0u);
  text[4095] = 'x';
  LocalFree(text);
}

TEST(FormatMessage, WidthBitsShapeTheLines) {
  const HMODULE inet = GetModuleHandleA("wininet.dll");
  const std::string plain = format(FORMAT_MESSAGE_FROM_HMODULE, inet, 12047);
  EXPECT_EQ(format(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_MAX_WIDTH_MASK, inet, 12047),
            plain.substr(0, plain.size() - 2));
  const std::string narrow = format(FORMAT_MESSAGE_FROM_HMODULE | 20, inet, 12047);
  std::size_t start = 0;
  for (std::size_t end; (end = narrow.find("\r\n", start)) != std::string::npos; start = end + 2)
    EXPECT_LE(end - start, 20u) << narrow;
  EXPECT_EQ(start, narrow.size()) << "ends with a line break";
}

}  // namespace
