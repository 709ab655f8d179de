// INI files: Windows profile semantics, kept comments and order, atomic writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ui/runtime.h"

namespace fs = std::filesystem;

namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("uirt-ini-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "test.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string read() {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
  std::string file_;
};

TEST_F(IniTest, MissingFileSectionOrEntryGivesTheDefault) {
  EXPECT_EQ(ui::iniGet("S", "E", "dflt", file_), "dflt");
  write("[S]\nE=1\n");
  EXPECT_EQ(ui::iniGet("Other", "E", "dflt", file_), "dflt");
  EXPECT_EQ(ui::iniGet("S", "Missing", "---Unknown---", file_), "---Unknown---");
  EXPECT_EQ(ui::iniGet("S", "", "d", file_), "d");
}

TEST_F(IniTest, NamesMatchWithoutRegardToCaseAndValuesLoseOuterBlanks) {
  write("; comment\n[Settings]\n  Server Name =  ftp.example.org  \nQuoted=\"  padded  \"\nEmpty=\n");
  EXPECT_EQ(ui::iniGet("SETTINGS", "server name", "", file_), "ftp.example.org");
  EXPECT_EQ(ui::iniGet("settings", "QUOTED", "", file_), "  padded  ");
  EXPECT_EQ(ui::iniGet("Settings", "Empty", "dflt", file_), "");
}

TEST_F(IniTest, FirstSectionAndEntryOfANameWin) {
  write("[A]\nx=1\nx=2\n[a]\nx=3\n");
  EXPECT_EQ(ui::iniGet("a", "X", "", file_), "1");
}

TEST_F(IniTest, WriteKeepsEveryOtherLineCommentAndOrder) {
  const std::string before =
      "; header comment\r\n"
      "\r\n"
      "[First]\r\n"
      "alpha=1\r\n"
      "; inside comment\r\n"
      "Beta = two\r\n"
      "\r\n"
      "[Second]\r\n"
      "gamma=3\r\n"
      "junk line without equals\r\n";
  write(before);
  ASSERT_TRUE(ui::iniPut("first", "BETA", "2", file_));
  ASSERT_TRUE(ui::iniPut("FIRST", "delta", "4", file_));
  ASSERT_TRUE(ui::iniPut("Third", "eps", "5", file_));
  EXPECT_EQ(read(),
            "; header comment\r\n"
            "\r\n"
            "[First]\r\n"
            "alpha=1\r\n"
            "; inside comment\r\n"
            "Beta =2\r\n"
            "delta=4\r\n"
            "\r\n"
            "[Second]\r\n"
            "gamma=3\r\n"
            "junk line without equals\r\n"
            "[Third]\r\n"
            "eps=5\r\n");
  EXPECT_EQ(ui::iniGet("first", "beta", "", file_), "2");
}

TEST_F(IniTest, WriteCreatesFileAndSectionAndHandlesALastLineWithoutEnding) {
  ASSERT_TRUE(ui::iniPut("__Dont_Touch_Me__", "Sectors", "0", file_));
  EXPECT_EQ(read(), "[__Dont_Touch_Me__]\nSectors=0\n");
  write("[S]\na=1");
  ASSERT_TRUE(ui::iniPut("S", "b", "2", file_));
  EXPECT_EQ(read(), "[S]\na=1\nb=2\n");
}

TEST_F(IniTest, ALoneCrEndsALineOnReadAndOnRewriteAlike) {
  write("[S]\na=1\r");  // the last line ends in a lone CR
  EXPECT_EQ(ui::iniGet("S", "a", "", file_), "1");
  ASSERT_TRUE(ui::iniPut("S", "b", "2", file_));
  EXPECT_EQ(ui::iniGet("S", "a", "", file_), "1");
  EXPECT_EQ(read(), "[S]\na=1\rb=2\n");
  // A file with lone CRs throughout keeps them; the entry after the one written is untouched.
  write("[S]\rx=1\ry=2\r\r\n");
  ASSERT_TRUE(ui::iniPut("S", "x", "3", file_));
  EXPECT_EQ(read(), "[S]\rx=3\ry=2\r\r\n");
  EXPECT_EQ(ui::iniGet("S", "y", "", file_), "2");
}

TEST_F(IniTest, ValuesRoundTripExactlyIncludingBlanksAndQuotes) {
  for (const std::string v : {" a , b ,c ", "\"quoted\"", "'single'", "", "x=y;z", "  "}) {
    ASSERT_TRUE(ui::iniPut("S", "v", v, file_));
    EXPECT_EQ(ui::iniGet("S", "v", "dflt", file_), v) << "[" << v << "]";
  }
}

TEST_F(IniTest, RefusesTextsThatWouldInjectLines) {
  write("[S]\na=1\n");
  EXPECT_FALSE(ui::iniPut("S", "a", "1\n[Evil]\nx=1", file_));
  EXPECT_FALSE(ui::iniPut("S\n[T]", "a", "1", file_));
  EXPECT_FALSE(ui::iniPut("S", "a=b", "1", file_));
  EXPECT_FALSE(ui::iniPut("S]", "a", "1", file_));
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
  EXPECT_EQ(read(), "[S]\na=1\n");
}

TEST_F(IniTest, WriteIsAtomicAndKeepsThePermissionsAndLeavesNoTemporaryFile) {
  write("[S]\na=1\n");
  ::chmod(file_.c_str(), 0600);
  const auto inode = fs::status(file_).permissions();
  ASSERT_TRUE(ui::iniPut("S", "a", "2", file_));
  EXPECT_EQ(fs::status(file_).permissions(), inode);
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(IniTest, FailedWriteLeavesTheFileAsItWasAndSetsAFileSystemError) {
  fs::create_directories(dir_ / "adir");
  ui::setError(0, "");
  EXPECT_FALSE(ui::iniPut("S", "a", "2", (dir_ / "adir").string()));
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
  EXPECT_TRUE(fs::is_directory(dir_ / "adir"));
  if (::geteuid() == 0) return;  // root writes into read-only directories
  write("[S]\na=1\n");
  ::chmod(dir_.c_str(), 0500);
  EXPECT_FALSE(ui::iniPut("S", "a", "2", file_));
  ::chmod(dir_.c_str(), 0700);
  EXPECT_EQ(ui::errorCode(), ui::ERROR_FILE_SYSTEM);
  EXPECT_FALSE(ui::fileError().empty());
  EXPECT_EQ(read(), "[S]\na=1\n");
}

TEST_F(IniTest, ConcurrentWritersLoseNoEntry) {
  auto writer = [&](const char* prefix) {
    for (int i = 0; i < 50; ++i)
      ui::iniPut("S", std::string(prefix) + std::to_string(i), std::to_string(i), file_);
  };
  std::thread a(writer, "a"), b(writer, "b");
  a.join();
  b.join();
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(ui::iniGet("S", "a" + std::to_string(i), "", file_), std::to_string(i));
    EXPECT_EQ(ui::iniGet("S", "b" + std::to_string(i), "", file_), std::to_string(i));
  }
}

TEST_F(IniTest, BareNameLivesInTheConfigurationDirectory) {
  const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  const bool had = std::getenv("XDG_CONFIG_HOME") != nullptr;
  const fs::path config = dir_ / "cfg" / "deeper";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(ui::iniPath("tarnwick.INI"), (config / "tarnwick.INI").string());
  ASSERT_TRUE(ui::iniPut("S", "k", "v", "tarnwick.INI"));
  EXPECT_TRUE(fs::exists(config / "tarnwick.INI"));
  EXPECT_EQ(ui::iniGet("s", "K", "", "tarnwick.INI"), "v");

  ::unsetenv("XDG_CONFIG_HOME");
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(ui::iniPath("x.ini"), (dir_ / ".config" / "x.ini").string());
  ::setenv("HOME", home.c_str(), 1);
  if (had) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  EXPECT_EQ(ui::iniPath("/abs/file.ini"), "/abs/file.ini");
}

}  // namespace
