#include "batch/transferlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/context.h"

namespace batch {
namespace {

std::vector<std::string> namesInList() {
  std::vector<std::string> names;
  for (const TransferRecord& r : TransferList.snapshot()) {
    names.emplace_back(r.FILENAME.view());
    EXPECT_EQ(r.FILEEXISTS, 0);
    EXPECT_EQ(r.SIZE, 0);
  }
  EXPECT_EQ(BatchCount.load(), names.size());
  return names;
}

using Names = std::vector<std::string>;

TEST(TransferList, DefaultListGivesItsFourFilesWithoutTheBlanksAroundThem) {
  buildTransferList("FTPClient.txt, !how to upload.txt,garbage,Quillmere.zip");
  EXPECT_EQ(namesInList(), (Names{"FTPClient.txt", "!how to upload.txt", "garbage", "Quillmere.zip"}));
}

TEST(TransferList, BlanksAroundItemsGoButBlanksInsideStay) {
  buildTransferList("   a b  ,  c   ,d  ");
  EXPECT_EQ(namesInList(), (Names{"a b", "c", "d"}));
  // The caller's blank padding (the parameters window passes 512 characters) is no item.
  buildTransferList(std::string("x,y") + std::string(509, ' '));
  EXPECT_EQ(namesInList(), (Names{"x", "y"}));
}

TEST(TransferList, EmptyItemsAreEntriesToo) {
  buildTransferList("");
  EXPECT_EQ(namesInList(), (Names{""}));
  buildTransferList("     ");
  EXPECT_EQ(namesInList(), (Names{""}));
  buildTransferList("a,");
  EXPECT_EQ(namesInList(), (Names{"a", ""}));
  buildTransferList(",a");
  EXPECT_EQ(namesInList(), (Names{"", "a"}));
  buildTransferList("a,,b");
  EXPECT_EQ(namesInList(), (Names{"a", "", "b"}));
  buildTransferList("a, ,b");
  EXPECT_EQ(namesInList(), (Names{"a", "", "b"}));
}

TEST(TransferList, NamesAreCutAt59Characters) {
  const std::string longName(80, 'n');
  buildTransferList("short," + longName + ",last");
  EXPECT_EQ(namesInList(), (Names{"short", std::string(59, 'n'), "last"}));
}

TEST(TransferList, OnlyTheFirst1024CharactersOfTheListAreUsed) {
  std::string list(1020, 'a');
  list += ",bcdefgh";  // the comma is character 1021; "bcd" fills up to 1024
  buildTransferList(list);
  EXPECT_EQ(namesInList(), (Names{std::string(59, 'a'), "bcd"}));
}

TEST(TransferList, BuildingAgainReplacesTheList) {
  buildTransferList("a,b,c");
  buildTransferList("d");
  EXPECT_EQ(namesInList(), (Names{"d"}));
}

TEST(TransferList, MoreThan255EntriesAreAllKept) {
  std::string list;
  Names expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name{static_cast<char>('a' + i / 26), static_cast<char>('a' + i % 26)};
    list += (i ? "," : "") + name;
    expected.push_back(name);
  }
  ASSERT_LT(list.size(), 1024u);
  buildTransferList(list);
  EXPECT_EQ(namesInList(), expected);
  EXPECT_EQ(BatchCount.load(), 300u);
}

TEST(TransferList, CommasOnlyGiveOneEmptyEntryMoreThanCommas) {
  buildTransferList(std::string(1024, ','));
  EXPECT_EQ(BatchCount.load(), 1025u);
}

TEST(Directories, AreCompletedWithTheirSeparatorOnce) {
  EXPECT_EQ(completeDirectory("/incoming", '/'), "/incoming/");
  EXPECT_EQ(completeDirectory("/incoming/", '/'), "/incoming/");
  EXPECT_EQ(completeDirectory("/incoming      ", '/'), "/incoming/");
  EXPECT_EQ(completeDirectory("", '/'), "/");
  EXPECT_EQ(completeDirectory("    ", '/'), "/");
  EXPECT_EQ(completeDirectory("C:\\TEMP", '\\'), "C:\\TEMP\\");
  EXPECT_EQ(completeDirectory("C:\\TEMP\\", '\\'), "C:\\TEMP\\");
  EXPECT_EQ(completeDirectory("", '\\'), "\\");
  // Only its own separator counts: a local directory written with "/" still gets "\".
  EXPECT_EQ(completeDirectory("/tmp/x/", '\\'), "/tmp/x/\\");
}

TEST(Paths, JoinWithoutTrailingBlanks) {
  EXPECT_EQ(joinPath("/incoming/   ", "a.txt  "), "/incoming/a.txt");
  EXPECT_EQ(joinPath("C:\\TEMP\\", ""), "C:\\TEMP\\");
}

TEST(Paths, LookupPathIsQuotedOnlyWhenItHoldsABlank) {
  EXPECT_EQ(lookupPath("/incoming/", "FTPClient.txt"), "/incoming/FTPClient.txt");
  EXPECT_EQ(lookupPath("/incoming/", "!how to upload.txt"), "\"/incoming/!how to upload.txt\"");
  EXPECT_EQ(lookupPath("/in coming/", "a"), "\"/in coming/a\"");
  EXPECT_EQ(lookupPath("/incoming/", ""), "/incoming/");
}

TEST(Paths, FieldsCutTheQuotedPathAt259Characters) {
  const std::string dir = "/" + std::string(250, 'd') + "/";
  const ui::ZText<260> path = lookupPath(dir, "a b c d e f g h");
  EXPECT_EQ(path.length(), 259u);
  EXPECT_EQ(path.view().front(), '"');
}

}  // namespace
}  // namespace batch
