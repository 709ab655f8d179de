// Files replaced in one step: the new bytes arrive whole under the target's name with the permissions
// asked for, a failure leaves the old file and no temporary beside it, and a target that must not be
// replaced is refused.
#include "kernel/replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "ftp_servers.h"

namespace {

namespace fs = std::filesystem;

size_t entriesIn(const fs::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(Replace, WholeFileReplacesInOneStepOrLeavesTheOldOne) {
  testsupport::TempDir dir;
  const std::string target = (dir.path() / "settings.ini").string();
  testsupport::writeTree(dir.path(), {{"settings.ini", "old"}});

  ASSERT_EQ(kernel::replaceFile(target, "new\ntext\n", 0640), 0);
  EXPECT_EQ(testsupport::readFile(target), "new\ntext\n");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entriesIn(dir.path()), 1u) << "no temporary left beside the target";

  // A target that is a folder cannot be replaced: the error comes back, and nothing is left behind.
  fs::create_directory(dir.path() / "folder");
  testsupport::writeTree(dir.path() / "folder", {{"kept", "k"}});
  EXPECT_NE(kernel::replaceFile((dir.path() / "folder").string(), "x", 0644), 0);
  EXPECT_EQ(testsupport::readFile(dir.path() / "folder" / "kept"), "k");
  EXPECT_EQ(entriesIn(dir.path()), 2u);
  EXPECT_EQ(kernel::replaceFile((dir.path() / "missing" / "f").string(), "x", 0644), ENOENT);
}

TEST(Replace, RenameOverReplacesOrKeepsAnExistingTarget) {
  testsupport::TempDir dir;
  testsupport::writeTree(dir.path(), {{"target", "old"}, {"part1", "one"}, {"part2", "two"}});
  const std::string target = (dir.path() / "target").string();

  EXPECT_EQ(kernel::renameOver((dir.path() / "part1").string(), target, true), EEXIST);
  EXPECT_EQ(testsupport::readFile(target), "old");
  EXPECT_TRUE(fs::exists(dir.path() / "part1")) << "a refused temporary keeps its name";

  EXPECT_EQ(kernel::renameOver((dir.path() / "part1").string(), target), 0);
  EXPECT_EQ(testsupport::readFile(target), "one");
  EXPECT_EQ(kernel::renameOver((dir.path() / "part2").string(), (dir.path() / "fresh").string(), true), 0);
  EXPECT_EQ(testsupport::readFile(dir.path() / "fresh"), "two");
  EXPECT_FALSE(fs::exists(dir.path() / "part2"));
}

}  // namespace
