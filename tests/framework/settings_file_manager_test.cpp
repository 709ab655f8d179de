#include "framework/settings_file_manager.h"

#include <gtest/gtest.h>

#include <string>

#include "config_dir.h"
#include "ui/runtime.h"

namespace framework {
namespace {

constexpr const char* kFile = "tarnwick.INI";

class SettingsFileManagerTest : public ::testing::Test {
 protected:
  std::vector<SectorRecord> sectors() const { return settings.SECTORS->snapshot(); }

  testing::ConfigDir dir;
  SettingsFileManager settings;
};

TEST_F(SettingsFileManagerTest, BareNameLivesInTheConfigurationDirectory) {
  EXPECT_EQ(std::filesystem::path(ui::iniPath(kFile)), dir.file(kFile));
}

TEST_F(SettingsFileManagerTest, WithoutAFileKillLeavesAnEmptySectionList) {
  settings.init(kFile);
  EXPECT_EQ(settings.FILENAME, kFile);
  EXPECT_EQ(settings.SECTORS->count(), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.file(kFile)));
  settings.kill();
  EXPECT_FALSE(settings.SECTORS);

  EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors", "missing", kFile), "0");
  EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors_1", "missing", kFile), "missing");
  const std::string text = dir.read(kFile);
  EXPECT_NE(text.find("[__Dont_Touch_Me__]"), std::string::npos) << text;
  EXPECT_NE(text.find("Sectors=0"), std::string::npos) << text;
}

TEST_F(SettingsFileManagerTest, SectionListIsReadAndWrittenBackUnchanged) {
  // Blanks inside the value, around its fields, belong to the fields.
  const std::string original =
      "; kept as it is\n"
      "[Window]\n"
      "Left=10\n"
      "\n"
      "[__Dont_Touch_Me__]\n"
      "Sectors=2\n"
      "Sectors_1=Files,Server,Text\n"
      "Sectors_2=a b , c ,d\n"
      "[Other]\n"
      "; another comment\n"
      "Key=Value, with comma\n";
  dir.write(kFile, original);

  settings.init(kFile);
  const auto records = sectors();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].FAMILY.view(), "Files");
  EXPECT_EQ(records[0].ITEM.view(), "Server");
  EXPECT_EQ(records[0].TYPE.view(), "Text");
  EXPECT_EQ(records[1].FAMILY.view(), "a b ");
  EXPECT_EQ(records[1].ITEM.view(), " c ");
  EXPECT_EQ(records[1].TYPE.view(), "d");
  settings.endHook();
  settings.kill();

  EXPECT_EQ(dir.read(kFile), original);
}

TEST_F(SettingsFileManagerTest, CountAboveTheRecordsPresent) {
  dir.write(kFile,
            "[__Dont_Touch_Me__]\n"
            "Sectors=3\n"
            "Sectors_1=a,b,c\n"
            "Sectors_2=d,e,f\n");
  settings.init(kFile);
  const auto records = sectors();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].FAMILY.view(), "---Unknown---");
  // The missing value has one field only; the others are empty rather than a repeat of the first.
  EXPECT_EQ(records[2].ITEM.view(), "");
  EXPECT_EQ(records[2].TYPE.view(), "");
  settings.kill();

  EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors", "", kFile), "3");
  EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors_1", "", kFile), "a,b,c");
  EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors_3", "", kFile), "---Unknown---,,");
}

TEST_F(SettingsFileManagerTest, BadCountsReadAsNoRecords) {
  for (const char* count : {"lots", "-2", "70000"}) {
    dir.write(kFile, std::string("[__Dont_Touch_Me__]\nSectors=") + count + "\nSectors_1=a,b,c\n");
    settings.init(kFile);
    EXPECT_EQ(settings.SECTORS->count(), 0u) << count;
    settings.kill();
    // Entries beyond the count written stay in the file.
    EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors", "", kFile), "0");
    EXPECT_EQ(ui::iniGet("__Dont_Touch_Me__", "Sectors_1", "", kFile), "a,b,c");
  }
}

TEST_F(SettingsFileManagerTest, FetchAndUpdateServeAnyEntry) {
  settings.init(kFile);
  EXPECT_EQ(settings.fetch("Window", "Left"), "---Unknown---");
  EXPECT_EQ(settings.fetchField("Window", "Left", 1), "---Unknown---");
  EXPECT_EQ(settings.fetchField("Window", "Left", 2), "");

  EXPECT_TRUE(settings.update("Window", "Place", "1, 2 ,3"));
  EXPECT_EQ(settings.fetch("Window", "Place"), "1, 2 ,3");
  EXPECT_EQ(settings.fetch("window", "PLACE"), "1, 2 ,3");
  EXPECT_EQ(settings.fetchField("Window", "Place", 2), " 2 ");
  EXPECT_EQ(settings.fetchField("Window", "Place", 3), "3");
  EXPECT_EQ(settings.fetchField("Window", "Place", 4), "");

  const std::string exact(999, 'v');
  const std::string longer = std::string(999, 'w') + "xyz";
  settings.update("Values", "Exact", exact);
  settings.update("Values", "Longer", longer);
  EXPECT_EQ(settings.fetch("Values", "Exact"), exact);
  EXPECT_EQ(settings.fetch("Values", "Longer"), longer.substr(0, 999));
  EXPECT_EQ(ui::iniGet("Values", "Longer", "", kFile), longer);  // cut on reading, not in the file
  settings.kill();
}

// A list of another record layout, with one and with two fields.
struct Pair {
  ui::ZText<20> NAME;
  ui::ZText<2000> NOTE;
};

TEST_F(SettingsFileManagerTest, QueuesOfOtherRecords) {
  ui::Queue<Pair> pairs;
  Pair p;
  p.NAME = "one";
  p.NOTE = "first";
  pairs.add(p);
  p.NAME = "two ";
  p.NOTE = "";
  pairs.add(p);
  settings.init(kFile);
  settings.updateQueue("Lists", "Pairs", pairs, &Pair::NAME, &Pair::NOTE);
  settings.updateQueue("Lists", "Names", pairs, &Pair::NAME);
  EXPECT_EQ(settings.fetch("Lists", "Pairs_2"), "two ,");
  EXPECT_EQ(settings.fetch("Lists", "Names_1"), "one");

  ui::Queue<Pair> back;
  settings.fetchQueue("Lists", "Pairs", back, &Pair::NAME, &Pair::NOTE);
  const auto records = back.snapshot();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].NOTE.view(), "first");
  EXPECT_EQ(records[1].NAME.view(), "two ");
  EXPECT_EQ(records[1].NOTE.view(), "");

  // A record value is cut to 4999 characters.
  ui::Queue<Pair> big;
  p.NAME = std::string(19, 'n');
  p.NOTE = std::string(1999, 'o');
  big.add(p);
  settings.updateQueue("Lists", "Big", big, &Pair::NOTE, &Pair::NOTE, &Pair::NOTE);
  const std::string stored = ui::iniGet("Lists", "Big_1", "", kFile);
  EXPECT_EQ(stored.size(), 4999u);
  EXPECT_EQ(stored.substr(1999, 2), ",o");
  settings.kill();
}

class CountingSettings : public SettingsFileManager {
 public:
  void initHook() override {
    ++inits;
    listEmptyAtHook = SECTORS && SECTORS->count() == 0;
  }
  void endHook() override { ++ends; }
  int inits = 0, ends = 0;
  bool listEmptyAtHook = false;
};

TEST_F(SettingsFileManagerTest, InitHookRunsBeforeTheListIsRead) {
  dir.write(kFile, "[__Dont_Touch_Me__]\nSectors=1\nSectors_1=a,b,c\n");
  CountingSettings counting;
  counting.init(kFile);
  EXPECT_EQ(counting.inits, 1);
  EXPECT_TRUE(counting.listEmptyAtHook);
  EXPECT_EQ(counting.SECTORS->count(), 1u);
  counting.endHook();
  counting.kill();
  EXPECT_EQ(counting.ends, 1);
  counting.kill();  // a second kill finds nothing to write
}

}  // namespace
}  // namespace framework
