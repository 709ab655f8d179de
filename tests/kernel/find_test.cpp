// File search: wildcards, the entries' find data, the lookup of one entry, handles and their errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp_servers.h"
#include "kernel/paths.h"
#include "kernel/winbase.h"

namespace {

namespace fs = std::filesystem;

class Find : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::getcwd(saved_, sizeof saved_));
    testsupport::writeTree(dir_.path(), {{"Sub/File.txt", "12345"},
                                         {"Sub/.hidden", "h"},
                                         {"Sub/.hiddendir/", ""},
                                         {"Sub/Inner/", ""},
                                         {"Sub/README", "r"},
                                         {"Sub/b.txt", ""},
                                         {"Sub/A.TXT", ""},
                                         {"Sub/c.txt.bak", ""},
                                         {"Sub/x1.txt", ""},
                                         {"Sub/x22.txt", ""}});
    kernel::setMountTable(
        std::vector<kernel::Mount>{{"/dev/vda", "/", "ext4"}, {"/dev/vdb", dir_.path().string(), "ext4"}});
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(saved_), 0);
    kernel::setMountTable(std::nullopt);
  }

  // The names a pattern finds, in the order given; "!error N" when the search fails.
  static std::vector<std::string> names(const std::string& pattern) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return {"!error " + std::to_string(GetLastError())};
    std::vector<std::string> out{data.cFileName};
    while (FindNextFileA(h, &data)) out.push_back(data.cFileName);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(h));
    return out;
  }
  static WIN32_FIND_DATAA one(const std::string& pattern) {
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << pattern << ": error " << GetLastError();
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    return data;
  }

  testsupport::TempDir dir_;
  char saved_[4096];
};

using Names = std::vector<std::string>;

TEST_F(Find, StarDotStarFindsEveryNameDotsFirstThenByNameWithoutCase) {
  EXPECT_EQ(names("D:\\SUB\\*.*"), (Names{".", "..", ".hidden", ".hiddendir", "A.TXT", "b.txt", "c.txt.bak",
                                          "File.txt", "Inner", "README", "x1.txt", "x22.txt"}));
  EXPECT_EQ(names("D:/Sub/*"), names("D:\\SUB\\*.*"));
  EXPECT_EQ(names("D:\\*.*"), (Names{"Sub"})) << "a drive's root has no . and ..";
}

TEST_F(Find, WildcardsMatchTheWindowsWay) {
  EXPECT_EQ(names("D:\\Sub\\*.txt"), (Names{"A.TXT", "b.txt", "File.txt", "x1.txt", "x22.txt"}));
  EXPECT_EQ(names("D:\\Sub\\x?.TXT"), (Names{"x1.txt"}));
  EXPECT_EQ(names("D:\\Sub\\x??.txt"), (Names{"x22.txt"}));
  EXPECT_EQ(names("D:\\Sub\\*."), (Names{".", "..", "Inner", "README"})) << "names without an extension";
  EXPECT_EQ(names("D:\\Sub\\readme.*"), (Names{"README"}));
  EXPECT_EQ(names("D:\\Sub\\*.t*"), (Names{"A.TXT", "b.txt", "c.txt.bak", "File.txt", "x1.txt", "x22.txt"}));
  EXPECT_EQ(names("D:\\Sub\\*bak"), (Names{"c.txt.bak"}));
  EXPECT_EQ(names("D:\\Sub\\*.zip"), (Names{"!error 2"}));
  EXPECT_EQ(names("D:\\Missing\\*.*"), (Names{"!error 3"}));
}

TEST_F(Find, APatternWithoutWildcardsFindsThatOneEntryInItsRealCase) {
  EXPECT_EQ(names("D:\\SUB\\FILE.TXT"), (Names{"File.txt"}));
  EXPECT_EQ(names("d:/sub/inner"), (Names{"Inner"}));
  EXPECT_EQ(names("D:\\Sub\\missing.txt"), (Names{"!error 2"}));
  EXPECT_EQ(names("D:\\Missing\\File.txt"), (Names{"!error 3"}));
  EXPECT_EQ(names("D:\\Sub\\"), (Names{"!error 2"})) << "a folder's path with its separator names no entry";
  EXPECT_EQ(names("Q:\\x"), (Names{"!error 3"}));
  EXPECT_EQ(names(":\\x"), (Names{"!error 123"}));
}

TEST_F(Find, RelativePatternsSearchTheCurrentDirectory) {
  ASSERT_EQ(::chdir((dir_ / "Sub").c_str()), 0);
  EXPECT_EQ(names("x*"), (Names{"x1.txt", "x22.txt"}));
  EXPECT_EQ(names("D:x*"), (Names{"x1.txt", "x22.txt"}));
  EXPECT_EQ(names("Inner\\..\\b.*"), (Names{"b.txt"}));
}

TEST_F(Find, AttributesSayHiddenDirectoryOrNormal) {
  EXPECT_EQ(one("D:\\Sub\\File.txt").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(one("D:\\Sub\\.hidden").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(one("D:\\Sub\\Inner").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(one("D:\\Sub\\.hiddendir").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY))
      << "directories are exactly 0x10";
  fs::create_directory_symlink(dir_ / "Sub" / "Inner", dir_ / "Sub" / "link");
  EXPECT_EQ(one("D:\\Sub\\link").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  // What cannot be transferred as a file is a system file, which file lists leave out.
  ASSERT_EQ(::mkfifo((dir_ / "Sub" / "pipe").c_str(), 0644), 0);
  fs::create_symlink(dir_ / "nowhere", dir_ / "Sub" / "dangling");
  EXPECT_EQ(one("D:\\Sub\\pipe").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(one("D:\\Sub\\dangling").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM));
}

// Whether a file is writable depends on who asks; root may write anything, so ask as nobody.
TEST_F(Find, AFileTheUserCannotWriteIsReadOnly) {
  fs::permissions(dir_.path(), fs::perms(0755));
  fs::permissions(dir_ / "Sub", fs::perms(0755));
  fs::permissions(dir_ / "Sub" / "File.txt", fs::perms(0444));
  fs::permissions(dir_ / "Sub" / ".hidden", fs::perms(0444));
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    DWORD seen[2] = {0, 0};
    WIN32_FIND_DATAA data;
    const char* paths[2] = {"D:\\Sub\\File.txt", "D:\\Sub\\.hidden"};
    for (int i = 0; i < 2; ++i) {
      HANDLE h = FindFirstFileA(paths[i], &data);
      if (h == INVALID_HANDLE_VALUE) ::_exit(3);
      seen[i] = data.dwFileAttributes;
      FindClose(h);
    }
    ::_exit(::write(pipeFds[1], seen, sizeof seen) == sizeof seen ? 0 : 4);
  }
  ::close(pipeFds[1]);
  DWORD seen[2] = {0, 0};
  ASSERT_EQ(::read(pipeFds[0], seen, sizeof seen), static_cast<ssize_t>(sizeof seen));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(seen[0], static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(seen[1], static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(Find, SizesSplitIntoHighAndLowAndTimesAreFileTimes) {
  const fs::path big = dir_ / "Sub" / "big.bin";
  {
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (5LL << 30) + 7), 0);  // sparse: 5 GiB and 7 bytes
    ::close(fd);
  }
  // 2001-02-03 04:05:06.7 UTC written, 2002 read.
  const timespec times[2] = {{1012608000, 0}, {981173106, 700000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, big.c_str(), times, 0), 0);
  const auto data = one("D:\\Sub\\big.bin");
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, (1u << 30) + 7);
  const auto ticks = [](FILETIME t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  EXPECT_EQ(ticks(data.ftLastWriteTime), 116444736000000000ULL + 981173106ULL * 10000000 + 7000000);
  EXPECT_EQ(ticks(data.ftLastAccessTime), 116444736000000000ULL + 1012608000ULL * 10000000);
  EXPECT_NE(ticks(data.ftCreationTime), 0u);
  EXPECT_EQ(one("D:\\Sub\\Inner").nFileSizeLow, 0u) << "a folder has no size";
  EXPECT_EQ(one("D:\\Sub\\File.txt").nFileSizeLow, 5u);
  EXPECT_STREQ(one("D:\\Sub\\File.txt").cAlternateFileName, "") << "the long name is the short one";
}

TEST_F(Find, NamesNoWindowsPathCanCarryAreNotListed) {
  testsupport::writeFile(dir_ / "Sub" / "a\\b.txt", "");
  EXPECT_EQ(names("D:\\Sub\\a*"), (Names{"A.TXT"}));
}

TEST_F(Find, AnEntryGoneBeforeItsTurnIsPassedOver) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("D:\\Sub\\x*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  fs::remove(dir_ / "Sub" / "x1.txt");  // already handed out
  fs::remove(dir_ / "Sub" / "x22.txt");
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
}

TEST_F(Find, HandlesAreCheckedAndNeverServeTwice) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("D:\\Sub\\*.txt", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE again = FindFirstFileA("D:\\Sub\\*.txt", &data);
  EXPECT_NE(again, h) << "a closed handle's number is not given out again";
  EXPECT_TRUE(FindClose(again));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(FindNextFileA(nullptr, &data));
  EXPECT_EQ(FindFirstFileA(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FindFirstFileA("D:\\Sub\\*", nullptr), INVALID_HANDLE_VALUE);
}

}  // namespace
