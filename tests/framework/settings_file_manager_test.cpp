#include "framework/settings_file_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ui/runtime.h"

namespace framework {
namespace {

namespace fs = std::filesystem;
constexpr const char* kFile = "tarnwick.INI";

class CountingSettings : public SettingsFileManager {
 public:
  void initHook() override { emptyAtInitHook = SECTORS && SECTORS->count() == 0; }
  bool emptyAtInitHook = false;
};

// Each test has a configuration directory of its own, where the bare name resolves.
class SettingsFileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "framework-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir); }

  void write(const std::string& text) { std::ofstream(dir / kFile, std::ios::binary) << text; }
  std::string read() {
    std::ostringstream s;
    s << std::ifstream(dir / kFile, std::ios::binary).rdbuf();
    return s.str();
  }
  std::string stored(const char* entry) { return ui::iniGet(kSectorsSection, entry, "(none)", kFile); }

  fs::path dir;
  CountingSettings settings;
};

TEST_F(SettingsFileManagerTest, WithoutAFileKillWritesAnEmptySectionList) {
  EXPECT_EQ(fs::path(ui::iniPath(kFile)), dir / kFile);
  settings.init(kFile);
  EXPECT_TRUE(settings.emptyAtInitHook);
  EXPECT_EQ(settings.SECTORS->count(), 0u);
  settings.kill();
  EXPECT_FALSE(settings.SECTORS);
  EXPECT_EQ(read(), "[__Dont_Touch_Me__]\nSectors=0\n");
}

TEST_F(SettingsFileManagerTest, SectionListIsWrittenBackAsItWasRead) {
  const std::string original =
      "; other sections and comments stay\n[Window]\nLeft=10\n\n"
      "[__Dont_Touch_Me__]\nSectors=2\nSectors_1=Files,Server,Text\nSectors_2=\" a b , c ,d \"\n"
      "[Other]\n; another comment\nKey=Value, with comma\n";
  write(original);
  settings.init(kFile);
  const auto records = settings.SECTORS->snapshot();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].ITEM.view(), "Server");
  EXPECT_EQ(records[1].FAMILY.view(), " a b ");
  EXPECT_EQ(records[1].ITEM.view(), " c ");
  EXPECT_EQ(records[1].TYPE.view(), "d ");
  settings.endHook();
  settings.kill();
  EXPECT_EQ(read(), original);
}

TEST_F(SettingsFileManagerTest, CountDecidesHowManyRecordsAreRead) {
  write("[__Dont_Touch_Me__]\nSectors=3\nSectors_1=a,b,c\nSectors_2=d,e,f\n");
  settings.init(kFile);
  SectorRecord third;
  ASSERT_TRUE(settings.SECTORS->get(3, third));
  EXPECT_EQ(third.FAMILY.view(), "---Unknown---");
  EXPECT_EQ(third.ITEM.view(), "");  // not the first field again
  settings.kill();
  EXPECT_EQ(stored("Sectors"), "3");
  EXPECT_EQ(stored("Sectors_3"), "---Unknown---,,");

  for (const char* count : {"lots", "-2", "70000", "3x"}) {
    write(std::string("[__Dont_Touch_Me__]\nSectors=") + count + "\nSectors_1=a,b,c\n");
    settings.init(kFile);
    EXPECT_EQ(settings.SECTORS->count(), 0u) << count;
    settings.kill();
    EXPECT_EQ(stored("Sectors"), "0");
    EXPECT_EQ(stored("Sectors_1"), "a,b,c");  // entries beyond the count are left alone
  }
}

TEST_F(SettingsFileManagerTest, FetchAndUpdateServeAnyEntry) {
  settings.init(kFile);
  EXPECT_EQ(settings.fetch("Window", "Left"), "---Unknown---");
  EXPECT_TRUE(settings.update("Window", "Place", "1, 2 ,3"));
  EXPECT_EQ(settings.fetch("window", "PLACE"), "1, 2 ,3");
  EXPECT_EQ(settings.fetchField("Window", "Place", 2), " 2 ");
  EXPECT_EQ(settings.fetchField("Window", "Place", 3), "3");
  EXPECT_EQ(settings.fetchField("Window", "Place", 4), "");

  const std::string longer = std::string(999, 'w') + "xyz";
  settings.update("Values", "Longer", longer);
  EXPECT_EQ(settings.fetch("Values", "Longer"), longer.substr(0, 999));
  EXPECT_EQ(ui::iniGet("Values", "Longer", "", kFile), longer);  // cut on reading, not in the file
}

// Record values are cut to 4999 characters.
struct Note {
  ui::ZText<2000> TEXT;
};

TEST_F(SettingsFileManagerTest, LongRecordValuesAreCut) {
  ui::Queue<Note> notes;
  notes.add({std::string(1999, 'o')});
  settings.init(kFile);
  settings.updateQueue("Lists", "Notes", notes, &Note::TEXT, &Note::TEXT, &Note::TEXT);
  const std::string value = ui::iniGet("Lists", "Notes_1", "", kFile);
  EXPECT_EQ(value.size(), 4999u);
  EXPECT_EQ(value.substr(1999, 2), ",o");
}

}  // namespace
}  // namespace framework
