#include "client/local_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace client {
namespace {

TEST(LocalPaths, ParentFolderStopsAtTheDriveRoot) {
  EXPECT_EQ(parentFolder("C:\\TEMP\\SUB\\"), "C:\\TEMP\\");
  EXPECT_EQ(parentFolder("C:\\TEMP\\"), "C:\\");
  EXPECT_EQ(parentFolder("C:\\"), "C:\\");
  EXPECT_EQ(parentFolder("TEMP\\"), "TEMP\\");  // nothing above: left as it is, not emptied
}

TEST(LocalPaths, PathsAreHeldWholeOrNotAtAll) {
  EXPECT_EQ(subfolderPath("C:\\TEMP\\", "Sub dir"), "C:\\TEMP\\SUB DIR\\");
  // 125 characters fit exactly; one more would have to be cut into a path to another folder.
  const std::string name(121, 'a');
  EXPECT_EQ(subfolderPath("C:\\", name)->size(), 125u);
  EXPECT_FALSE(subfolderPath("C:\\", name + "b"));
  EXPECT_FALSE(subfolderPath("C:\\", ""));
  EXPECT_FALSE(subfolderPath("C:\\", "a\\b"));

  EXPECT_EQ(startingDirectoryOf("C:\\home\\ann"), "C:\\HOME\\ANN\\");
  EXPECT_EQ(startingDirectoryOf("C:\\"), "C:\\");
  EXPECT_FALSE(startingDirectoryOf(""));
  EXPECT_EQ(startingDirectoryOf("C:\\" + name)->size(), 125u);
  EXPECT_FALSE(startingDirectoryOf("C:\\" + name + "b"));
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

}  // namespace
}  // namespace client
