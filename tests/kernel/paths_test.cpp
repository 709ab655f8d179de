// Windows paths to host paths and back, and the current directory, over a temporary tree mounted as D:.
#include "kernel/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ftp_servers.h"
#include "kernel/winbase.h"

namespace {

namespace fs = std::filesystem;
using kernel::hostPath;
using kernel::windowsPath;

class Paths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::getcwd(saved_, sizeof saved_));
    d_ = dir_.path().string();
    testsupport::writeTree(dir_.path(), {{"Sub/File.txt", "f"},
                                         {"Sub/Deeper/", ""},
                                         {"ABC/", ""},
                                         {"abc/", ""},
                                         {"\xC3\xA4pfel.txt", "a"},              // äpfel.txt
                                         {"\xD0\xBF\xD1\x80\xD0\xB8.txt", "p"},  // при.txt
                                         {"other/", ""}});
    kernel::setMountTable(std::vector<kernel::Mount>{{"/dev/vda", "/", "ext4"}, {"/dev/vdb", d_, "ext4"}});
  }
  void TearDown() override {
    EXPECT_EQ(::chdir(saved_), 0);
    kernel::setMountTable(std::nullopt);
  }
  std::string host(std::string_view w) { return hostPath(w).value_or("<none>"); }

  testsupport::TempDir dir_;
  std::string d_;  // the host directory of D:
  char saved_[4096];
};

TEST_F(Paths, DriveLetterAndBothSeparatorsLeadToTheMountPoint) {
  EXPECT_EQ(host("D:\\"), d_);
  EXPECT_EQ(host("d:/"), d_);
  EXPECT_EQ(host("D:\\Sub\\File.txt"), d_ + "/Sub/File.txt");
  EXPECT_EQ(host("D:/Sub\\File.txt"), d_ + "/Sub/File.txt");
  EXPECT_EQ(host("D:\\\\Sub//File.txt\\"), d_ + "/Sub/File.txt") << "doubled and trailing separators";
  EXPECT_EQ(host("C:\\"), "/");
  EXPECT_EQ(host("C:\\tmp"), "/tmp");
}

TEST_F(Paths, ExistingComponentsMatchWithoutRegardToCaseAndANewOneKeepsItsCase) {
  EXPECT_EQ(host("D:\\SUB\\FILE.TXT"), d_ + "/Sub/File.txt");
  EXPECT_EQ(host("D:\\sub\\deeper\\"), d_ + "/Sub/Deeper");
  EXPECT_EQ(host("D:\\SUB\\NewFile.Txt"), d_ + "/Sub/NewFile.Txt");
  EXPECT_EQ(host("D:\\SUB\\New Dir\\Inner.TXT"), d_ + "/Sub/New Dir/Inner.TXT") << "below a new one, all new";
  EXPECT_EQ(host("D:\\\xC3\x84PFEL.TXT"), d_ + "/\xC3\xA4pfel.txt") << "Latin letters beyond ASCII";
  EXPECT_EQ(host("D:\\\xD0\x9F\xD0\xA0\xD0\x98.TXT"), d_ + "/\xD0\xBF\xD1\x80\xD0\xB8.txt") << "Cyrillic";
  // An exact match wins; among names differing only in case the first in byte order is taken.
  EXPECT_EQ(host("D:\\abc"), d_ + "/abc");
  EXPECT_EQ(host("D:\\ABC"), d_ + "/ABC");
  EXPECT_EQ(host("D:\\Abc"), d_ + "/ABC");
  EXPECT_EQ(host("D:\\Sub\\File.txt\\below"), d_ + "/Sub/File.txt/below") << "below a file nothing exists";
}

TEST_F(Paths, DotsNeverClimbAboveTheDrivesRoot) {
  EXPECT_EQ(host("D:\\Sub\\.\\Deeper\\..\\File.txt"), d_ + "/Sub/File.txt");
  EXPECT_EQ(host("D:\\..\\..\\.."), d_);
  EXPECT_EQ(host("D:\\Sub\\..\\..\\..\\other"), d_ + "/other");
  EXPECT_EQ(host("D:\\..\\etc\\passwd"), d_ + "/etc/passwd");
  EXPECT_EQ(host("C:\\..\\.."), "/");
  ASSERT_EQ(::chdir((d_ + "/Sub").c_str()), 0);
  EXPECT_EQ(host("..\\..\\..\\x"), d_ + "/x");
}

TEST_F(Paths, RelativePathsStartAtTheCurrentDirectory) {
  ASSERT_EQ(::chdir((d_ + "/Sub").c_str()), 0);
  EXPECT_EQ(host("file.TXT"), d_ + "/Sub/File.txt");
  EXPECT_EQ(host(".\\DEEPER"), d_ + "/Sub/Deeper");
  EXPECT_EQ(host("..\\OTHER"), d_ + "/other");
  EXPECT_EQ(host("D:file.txt"), d_ + "/Sub/File.txt") << "drive-relative on the current drive";
  EXPECT_EQ(host("C:tmp"), "/tmp") << "drive-relative on another drive: from its root";
  EXPECT_EQ(host("\\other"), d_ + "/other") << "the current drive's root";
  EXPECT_EQ(host("D:"), d_ + "/Sub");
}

TEST_F(Paths, MalformedPathsAreRefused) {
  using namespace std::string_view_literals;
  for (std::string_view bad :
       {""sv, "D:\\Sub\0\\x"sv, ":\\Sub"sv, "1:\\Sub"sv, "\\\\server\\share"sv, "//server/share"sv})
    EXPECT_EQ(hostPath(bad), std::nullopt) << bad;
  EXPECT_EQ(hostPath("Q:\\x"), std::nullopt) << "no such drive";
  EXPECT_EQ(hostPath("E:\\"), std::nullopt);
}

TEST_F(Paths, HostPathsGoBackToTheirDrive) {
  EXPECT_EQ(windowsPath("/"), "C:\\");
  EXPECT_EQ(windowsPath("/usr//lib/"), "C:\\usr\\lib");
  EXPECT_EQ(windowsPath(d_), "D:\\");
  EXPECT_EQ(windowsPath(d_ + "/Sub/File.txt"), "D:\\Sub\\File.txt");
  std::string sibling = "C:" + d_ + "x\\y";
  std::replace(sibling.begin(), sibling.end(), '/', '\\');
  EXPECT_EQ(windowsPath(d_ + "x/y"), sibling) << "a sibling sharing the prefix is not on D:";
  ASSERT_EQ(::chdir((d_ + "/Sub").c_str()), 0);
  EXPECT_EQ(windowsPath("Deeper"), "D:\\Sub\\Deeper");
  // There and back: the Windows form of a resolved path carries the names' real case.
  EXPECT_EQ(windowsPath(host("D:\\SUB\\DEEPER")), "D:\\Sub\\Deeper");
}

TEST_F(Paths, CurrentDirectoryIsSetAndReadAsAWindowsPath) {
  ASSERT_TRUE(SetCurrentDirectoryA("D:\\SUB\\deeper"));
  char cwd[4096];
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(std::string(cwd), d_ + "/Sub/Deeper");
  const std::string expected = "D:\\Sub\\Deeper";
  char buffer[64];
  EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), expected.size());
  EXPECT_EQ(std::string(buffer), expected);
  // Too small: nothing written, the size needed (with its zero) returned.
  char small[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), expected.size() + 1);
  EXPECT_EQ(std::string(small, 4), "####");
  EXPECT_EQ(GetCurrentDirectoryA(static_cast<DWORD>(expected.size()), buffer), expected.size() + 1);
  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), expected.size() + 1);

  EXPECT_FALSE(SetCurrentDirectoryA("D:\\missing"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(SetCurrentDirectoryA("D:\\missing\\deeper"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetCurrentDirectoryA("D:\\Sub\\File.txt"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(SetCurrentDirectoryA("Q:\\"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetCurrentDirectoryA(":\\x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(std::string(cwd), d_ + "/Sub/Deeper") << "a failed change leaves the directory";
}

TEST_F(Paths, ShortPathIsTheLongPathOfAnExistingFile) {
  char out[64];
  EXPECT_EQ(GetShortPathNameA("D:\\SUB\\FILE.TXT", out, sizeof out), 15u);
  EXPECT_STREQ(out, "D:\\SUB\\FILE.TXT");
  char same[] = "D:\\Sub";
  EXPECT_EQ(GetShortPathNameA(same, same, sizeof same), 6u) << "in place";
  EXPECT_STREQ(same, "D:\\Sub");
  char small[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetShortPathNameA("D:\\Sub", small, sizeof small), 7u);
  EXPECT_EQ(std::string(small, 4), "####");
  EXPECT_EQ(GetShortPathNameA("D:\\Sub\\missing.txt", out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetShortPathNameA("D:\\missing\\x.txt", out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// A folder of thousands: found names must stay right while files come and go between lookups.
TEST_F(Paths, LargeFoldersAnswerCorrectlyWhileTheyChange) {
  const fs::path big = dir_ / "Big";
  fs::create_directory(big);
  for (int i = 0; i < 1500; ++i) testsupport::writeFile(big / ("file" + std::to_string(i) + ".txt"), "");
  EXPECT_EQ(host("D:\\BIG\\FILE77.TXT"), d_ + "/Big/file77.txt");
  EXPECT_EQ(host("D:\\BIG\\FILE1499.TXT"), d_ + "/Big/file1499.txt");
  // Made at once after the lookups above, in the same tick of the file system's clock.
  testsupport::writeFile(big / "Late.Txt", "");
  EXPECT_EQ(host("D:\\BIG\\LATE.TXT"), d_ + "/Big/Late.Txt");
  fs::rename(big / "file77.txt", big / "FILE77.txt");
  EXPECT_EQ(host("D:\\BIG\\file77.TXT"), d_ + "/Big/FILE77.txt");
  fs::remove(big / "file5.txt");
  EXPECT_EQ(host("D:\\BIG\\FILE5.TXT"), d_ + "/Big/FILE5.TXT") << "gone: the name is new again";
}

TEST_F(Paths, TranslateFromManyThreadsAtOnce) {
  const fs::path big = dir_ / "Many";
  fs::create_directory(big);
  for (int i = 0; i < 600; ++i) testsupport::writeFile(big / ("n" + std::to_string(i)), "");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = t; i < 600; i += 4)
        if (hostPath("D:\\MANY\\N" + std::to_string(i)) != d_ + "/Many/n" + std::to_string(i)) ++wrong;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
