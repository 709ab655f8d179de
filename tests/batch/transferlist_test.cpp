#include "batch/transferlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/context.h"

namespace batch {
namespace {

using Names = std::vector<std::string>;

Names listOf(const std::string& fileList) {
  buildTransferList(fileList);
  Names names;
  for (const TransferRecord& r : TransferList.snapshot()) names.emplace_back(r.FILENAME.view());
  EXPECT_EQ(BatchCount.load(), names.size());
  return names;
}

TEST(TransferList, SplitsAtCommasAndTrimsEachItemOnly) {
  EXPECT_EQ(listOf("FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip"),
            (Names{"FTPClient.txt", "!how to upload.txt", "garbage", "Quillmere.zip"}));
  EXPECT_EQ(listOf("   a b  ,  c   ,d" + std::string(500, ' ')), (Names{"a b", "c", "d"}));
  // Empty items are entries too, processed like any other.
  EXPECT_EQ(listOf(""), (Names{""}));
  EXPECT_EQ(listOf("a,"), (Names{"a", ""}));
  EXPECT_EQ(listOf(",a"), (Names{"", "a"}));
  EXPECT_EQ(listOf("a,, ,b"), (Names{"a", "", "", "b"}));
  // A name is kept whole, however long: whatever the list holds.
  const std::string report = "2024-06-15 Quarterly Report - Final Version (approved by board).pdf";
  EXPECT_EQ(listOf("short," + report + ", b"), (Names{"short", report, "b"}));
  // Only the first 1024 characters count: the comma is the 1021st, "bcd" ends at the 1024th; the
  // list's end never splits a character ("é" is two bytes, the 1024th and 1025th).
  EXPECT_EQ(listOf(std::string(1020, 'a') + ",bcdefgh"), (Names{std::string(1020, 'a'), "bcd"}));
  EXPECT_EQ(listOf(std::string(1020, 'a') + ",bc\xC3\xA9"), (Names{std::string(1020, 'a'), "bc"}));
}

TEST(TransferList, CountsPast255Entries) {
  std::string list;
  for (int i = 0; i < 300; ++i) list += std::string(i ? "," : "") + char('a' + i / 26) + char('a' + i % 26);
  EXPECT_EQ(listOf(list).size(), 300u);
  EXPECT_EQ(listOf(std::string(1024, ',')).size(), 1025u);
}

TEST(Paths, DirectoriesEndInTheirSeparatorAndLookupsWithBlanksAreQuoted) {
  EXPECT_EQ(completeDirectory("/incoming", '/'), "/incoming/");
  EXPECT_EQ(completeDirectory("/incoming/   ", '/'), "/incoming/");
  EXPECT_EQ(completeDirectory("  ", '/'), "/");
  EXPECT_EQ(completeDirectory("C:\\TEMP", '\\'), "C:\\TEMP\\");
  EXPECT_EQ(completeDirectory("C:\\TEMP\\", '\\'), "C:\\TEMP\\");
  EXPECT_EQ(completeDirectory("/tmp/x/", '\\'), "/tmp/x/\\");
  EXPECT_EQ(joinPath("/incoming/  ", "a.txt  "), "/incoming/a.txt");
  EXPECT_EQ(lookupPath("/incoming/", "FTPClient.txt"), "/incoming/FTPClient.txt");
  EXPECT_EQ(lookupPath("/incoming/", "!how to upload.txt"), "\"/incoming/!how to upload.txt\"");
  EXPECT_EQ(lookupPath("/incoming/", ""), "/incoming/");
  // A path is kept whole too: the longest directory with the longest name, quoted.
  const std::string directory = "/" + std::string(257, 'd') + "/", name = std::string(1022, 'n') + " ";
  const PathText path = lookupPath(directory, name + "x");
  EXPECT_EQ(path.view(), "\"" + directory + name + "x\"");
}

}  // namespace
}  // namespace batch
