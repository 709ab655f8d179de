// The remote tree's rules that need no server: which directory a row stands for, and the context
// menu's text.
#include <gtest/gtest.h>

#include <string>

#include "client/client_window.h"
#include "engine/directory_tree.h"
#include "nimbo.h"

namespace client {
namespace {

DirectoryListRecord row(std::string_view server, std::string_view relative, bool directory) {
  DirectoryListRecord r;
  const std::string full =
      relative == "/" ? std::string(server) : std::string(server) + std::string(relative);
  r.FULLPATHNAME = full;
  r.NAME = relative == "/" ? server : relative.substr(relative.rfind('/') + 1);
  r.ATTRIBUTE = directory ? 16 : 32;
  r.ICONFIELD = relative == "/" ? 4 : directory ? 2 : 3;
  return r;
}

class RemoteTree : public ::testing::Test {
 protected:
  void SetUp() override {
    DirectoryList.free();
    DirectoryList.add(row("ftp.example.org", "/", true));
  }
  void TearDown() override { DirectoryList.free(); }
};

TEST_F(RemoteTree, ARowStandsForItsOwnDirectoryOrTheOneHoldingIt) {
  EXPECT_EQ(engine::directoryOfRow(row("ftp.example.org", "/", true)), "/");
  EXPECT_EQ(engine::directoryOfRow(row("ftp.example.org", "/pub/src", true)), "/pub/src");
  EXPECT_EQ(engine::directoryOfRow(row("ftp.example.org", "/pub/src/a.c", false)), "/pub/src");
  EXPECT_EQ(engine::directoryOfRow(row("ftp.example.org", "/readme.txt", false)), "/");
  // A directory entry with more attribute bits than 16 is a file.
  DirectoryListRecord readOnly = row("ftp.example.org", "/pub/ro", true);
  readOnly.ATTRIBUTE = 17;
  EXPECT_EQ(engine::directoryOfRow(readOnly), "/pub");

  // A server name typed since the tree was listed changes nothing.
  ServerName = "other.example.org:2121";
  EXPECT_EQ(engine::directoryOfRow(row("ftp.example.org", "/pub/src/a.c", false)), "/pub/src");
  ServerName = "127.0.0.1:2121";
}

TEST_F(RemoteTree, TheMenuGreysRenameOnDirectoriesAndIsCutAt160Characters) {
  EXPECT_EQ(contextMenuText(row("ftp.example.org", "/pub", true)), "~Rename|Delete pub|Create Dir");
  EXPECT_EQ(contextMenuText(row("ftp.example.org", "/pub/a.c", false)), "Rename a.c|Delete a.c|Create Dir");
  // Names of 67 characters fill the 160 exactly; one more, and "|Create Dir" loses its end.
  const std::string fits(67, 'f'), longer(68, 'n');
  EXPECT_EQ(contextMenuText(row("ftp.example.org", "/" + fits, false)),
            "Rename " + fits + "|Delete " + fits + "|Create Dir");
  EXPECT_EQ(contextMenuText(row("ftp.example.org", "/" + longer, false)),
            "Rename " + longer + "|Delete " + longer + "|Create D");
}

}  // namespace
}  // namespace client
