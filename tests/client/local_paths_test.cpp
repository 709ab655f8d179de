#include "client/local_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace client {
namespace {

TEST(LocalPaths, FolderRowIsTheRootAsItIsOrTheFolderWithoutItsSeparator) {
  EXPECT_EQ(folderRowName("C:\\"), "C:\\");
  EXPECT_EQ(folderRowName("C:\\TEMP\\"), "C:\\TEMP");
  EXPECT_EQ(folderRowName("D:\\A\\B\\"), "D:\\A\\B");
}

TEST(LocalPaths, ParentFolderStopsAtTheDriveRoot) {
  EXPECT_EQ(parentFolder("C:\\TEMP\\SUB\\"), "C:\\TEMP\\");
  EXPECT_EQ(parentFolder("C:\\TEMP\\"), "C:\\");
  EXPECT_EQ(parentFolder("C:\\"), "C:\\");
  // Nothing above: left as it is rather than emptied.
  EXPECT_EQ(parentFolder("TEMP\\"), "TEMP\\");
}

TEST(LocalPaths, SubfolderIsUpperCaseAndNeverCut) {
  EXPECT_EQ(subfolderPath("C:\\TEMP\\", "Sub dir"), "C:\\TEMP\\SUB DIR\\");
  EXPECT_EQ(subfolderPath("C:\\", "x"), "C:\\X\\");

  // 125 characters fit exactly; one more would have to be cut into a path to another folder.
  const std::string base = "C:\\";
  const std::string name120(120, 'a');
  const auto fits = subfolderPath(base, name120 + "b");  // 3 + 121 + 1 = 125
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), 125u);
  EXPECT_EQ(fits->back(), '\\');
  EXPECT_FALSE(subfolderPath(base, name120 + "bc"));

  EXPECT_FALSE(subfolderPath("C:\\", ""));
  EXPECT_FALSE(subfolderPath("C:\\", "a\\b"));
}

TEST(LocalPaths, StartingDirectoryIsUpperCaseWithSeparatorAndWholeOrNothing) {
  EXPECT_EQ(startingDirectoryOf("C:\\home\\ann"), "C:\\HOME\\ANN\\");
  EXPECT_EQ(startingDirectoryOf("C:\\"), "C:\\");
  EXPECT_FALSE(startingDirectoryOf(""));
  const std::string deep = "C:\\" + std::string(121, 'd');  // 124 characters, 125 with its separator
  EXPECT_EQ(startingDirectoryOf(deep)->size(), 125u);
  EXPECT_FALSE(startingDirectoryOf(deep + "e"));
}

TEST(LocalPaths, UpperCaseLeavesNonAsciiBytesAlone) {
  EXPECT_EQ(upperCase("caf\xc3\xa9 docs"), "CAF\xc3\xa9 DOCS");
}

TEST(LocalPaths, NamesThatAWindowsPathCannotAddressAreRecognised) {
  EXPECT_TRUE(addressableName("read me.txt"));
  EXPECT_FALSE(addressableName("a\\b"));
  EXPECT_FALSE(addressableName("a/b"));
  EXPECT_FALSE(addressableName(std::string_view("a\0b", 3)));
}

TEST(LocalPaths, NameOrderIgnoresCaseAndIsTotal) {
  std::vector<std::string> names = {"beta", "Alpha",  "alpha", "ALPHA", "Zeta",
                                    "a",    "alpha2", "_x",    "10",    "9"};
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return nameBefore(a, b); });
  const std::vector<std::string> expected = {"10",    "9",      "a",    "ALPHA", "Alpha",
                                             "alpha", "alpha2", "beta", "Zeta",  "_x"};
  EXPECT_EQ(names, expected);
  EXPECT_FALSE(nameBefore("same", "same"));
}

TEST(LocalPaths, DriveIconsFollowTheDriveTypes) {
  EXPECT_EQ(driveIconName(1), "~SMDSKET.ICO");
  EXPECT_EQ(driveIconName(2), "~SMDISK.ICO");
  EXPECT_EQ(driveIconName(5), "~SMRAM.ICO");
  EXPECT_TRUE(driveIconName(0).empty());
  EXPECT_TRUE(driveIconName(6).empty());
}

}  // namespace
}  // namespace client
