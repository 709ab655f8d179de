// The local side of the client window over a mount table of our own: drives D:, E: and F: are
// temporary folders standing for a RAM disk, a network share and a CD.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/controls.h"
#include "client/local.h"
#include "client/local_paths.h"
#include "client/local_tags.h"
#include "kernel/paths.h"
#include "real_input.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace client {
namespace {

struct Drives {
  fs::path top;  // everything the test makes lives under it
  fs::path ram, net, cd;
};

Drives& drives() {
  static Drives d;
  return d;
}

// The mount table must be in place before anything reads it, in every copy of the kernel layer.
class MountTableEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/nimbo-local-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    Drives& d = drives();
    d.top = tmpl;
    d.ram = d.top / "ram";
    d.net = d.top / "net";
    d.cd = d.top / "cd";
    for (const fs::path& p : {d.ram, d.net, d.cd}) fs::create_directories(p);
    const fs::path table = d.top / "mounts";
    std::ofstream out(table);
    out << "/dev/sda1 / ext4 rw 0 0\n"
        << "proc /proc proc rw 0 0\n"
        << "tmpfs " << d.ram.string() << " tmpfs rw 0 0\n"
        << "server:/export " << d.net.string() << " nfs rw 0 0\n"
        << "/dev/sr0 " << d.cd.string() << " iso9660 ro 0 0\n";
    out.close();
    ::setenv("NIMBO_MOUNT_TABLE", table.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(drives().top); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MountTableEnvironment);

void touch(const fs::path& p, std::size_t bytes = 0) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << std::string(bytes, 'x');
}

std::vector<std::string> folderRows(LocalSide& side) {
  std::vector<std::string> rows;
  side.FolderList.forEach([&](std::size_t, const FolderListRecord& r) { rows.push_back(r.NAME.str()); });
  return rows;
}

std::vector<std::string> fileNames() {
  std::vector<std::string> names;
  AllFiles.forEach([&](std::size_t, const AllFilesRecord& r) { names.push_back(r.NAME.str()); });
  return names;
}

std::string localDirectory() { return LocalDirectory.get().str(); }

class LocalWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::test::headlessDialogs(true);
    ui::test::messagesShown();
    testing::addClientWindowDefinitions();
    for (const fs::path& p : {drives().ram, drives().net, drives().cd})
      for (const auto& e : fs::directory_iterator(p)) fs::remove_all(e.path());
    window_ = std::make_unique<ui::Window>("NIMBO001", "NIMBO001");
    side_ = std::make_unique<LocalSide>(*window_);
    bindLocalSide(*side_);
    window_->open();
    pump();
  }
  void TearDown() override {
    side_.reset();
    window_.reset();
  }

  // Routes the local side's events as the client window does.
  void pump() {
    testing::pump(*window_, [&](int event, int control) {
      if (event == ui::event::Alert && control == control::FolderList) goToFolder(*side_);
      if (event == ui::event::Accepted && control == control::PreviousLevel) folderUp(*side_);
      if (event == ui::event::Accepted && control == control::DriveList) changeDrive(*side_);
      if (event == ui::event::Accepted && control == control::ClearLocalTags) clearLocalTags();
    });
  }

  int driveRow(char letter) {
    DriveListRecord r;
    return static_cast<int>(side_->DriveList.find(
        [&](const DriveListRecord& d) { return d.DRIVE == std::string(1, letter); }, r));
  }

  // The drive list opened with a click, the drive chosen in it with the arrow keys and Enter.
  void chooseDrive(char letter) {
    ASSERT_TRUE(uitest::chooseDrop(window_->ref(), control::DriveList, driveRow(letter)));
    pump();
  }

  std::unique_ptr<ui::Window> window_;
  std::unique_ptr<LocalSide> side_;
};

// The numbers the client's code and its tests use (client/controls.h) are those of the window as
// built from its definition, each of the kind the code expects of it.
TEST_F(LocalWindow, EveryControlNumberTheClientUsesIsInItsWindow) {
  using namespace control;
  const std::pair<int, const char*> controls[] = {{ProxyFromRegistry, "QCheckBox"},
                                                  {StartSession, "QPushButton"},
                                                  {CloseSession, "QPushButton"},
                                                  {ProxyServer, "QLineEdit"},
                                                  {ServerName, "QLineEdit"},
                                                  {UserName, "QLineEdit"},
                                                  {Password, "QLineEdit"},
                                                  {Connect, "QPushButton"},
                                                  {Passive, "QCheckBox"},
                                                  {Disconnect, "QPushButton"},
                                                  {RemotePath, "QLabel"},
                                                  {Transfer, "QGroupBox"},
                                                  {Binary, "QRadioButton"},
                                                  {Ascii, "QRadioButton"},
                                                  {Get, "QPushButton"},
                                                  {Put, "QPushButton"},
                                                  {ClearRemoteTags, "QPushButton"},
                                                  {Progress, "QProgressBar"},
                                                  {ClearLocalTags, "QPushButton"},
                                                  {RemoteTree, "QAbstractItemView"},
                                                  {Close, "QPushButton"},
                                                  {LocalPath, "QLabel"},
                                                  {FolderList, "QAbstractItemView"},
                                                  {DriveImage, "QLabel"},
                                                  {PreviousLevel, "QPushButton"},
                                                  {FileList, "QAbstractItemView"},
                                                  {DriveList, "QComboBox"}};
  ui::test::withWidgets(window_->ref(), [&](const ui::test::Widgets& w) {
    for (const auto& [number, kind] : controls) {
      QWidget* widget = w.control(number);
      ASSERT_NE(widget, nullptr) << "control " << number;
      EXPECT_TRUE(widget->inherits(kind))
          << "control " << number << " is a " << widget->metaObject()->className();
    }
  });
}

TEST_F(LocalWindow, DrivesAndADrivesRootInBothLists) {
  touch(drives().ram / "Readme.TXT", 5);
  touch(drives().ram / "alpha.c");
  touch(drives().ram / ".hidden");
  for (const char* d : {"zeta", "Beta dir", ".config"}) fs::create_directories(drives().ram / d);
  readDrives(*side_);
  std::string letters;
  std::vector<int> types;
  side_->DriveList.forEach([&](std::size_t, const DriveListRecord& r) {
    letters += r.DRIVE.str();
    types.push_back(r.DRIVETYPE);
  });
  EXPECT_EQ(letters, "CDEF");  // /proc is no drive
  EXPECT_EQ(types, (std::vector<int>{3, 6, 4, 5}));
  chooseDrive('E');
  EXPECT_EQ(window_->image(control::DriveImage), "~SMNETWRK.ICO");

  chooseDrive('D');
  EXPECT_EQ(localDirectory(), "D:\\");
  EXPECT_EQ(ui::test::shownText(window_->ref(), control::DriveList), "D")
      << "the list stays at the drive chosen";
  EXPECT_EQ(window_->image(control::DriveImage), "~SMRAM.ICO");
  // Row 1 is the root as it is; subfolders in upper case and name order, hidden ones too.
  EXPECT_EQ(folderRows(*side_), (std::vector<std::string>{"D:\\", ".CONFIG", "BETA DIR", "ZETA"}));
  // Files keep their case; hidden files and folders are not files here.
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"alpha.c", "Readme.TXT"}));
  AllFilesRecord readme;
  AllFiles.get(2, readme);
  EXPECT_EQ(readme.SIZE, 5);

  // The list keeps the keyboard: Down and Enter there choose the next drive, and its root shows in
  // both lists; Up goes back.
  ASSERT_TRUE(uitest::key(window_->ref(), Qt::Key_Down));
  ASSERT_TRUE(uitest::key(window_->ref(), Qt::Key_Return));
  pump();
  EXPECT_EQ(localDirectory(), "E:\\");
  EXPECT_EQ(ui::test::shownText(window_->ref(), control::DriveList), "E");
  EXPECT_EQ(folderRows(*side_), std::vector<std::string>{"E:\\"});
  EXPECT_EQ(fileNames(), std::vector<std::string>{});
  ASSERT_TRUE(uitest::key(window_->ref(), Qt::Key_Up));
  pump();
  EXPECT_EQ(localDirectory(), "D:\\");

  // "Clear Tagged" under the file list.
  AllFiles.locked([](auto& q) { q.at(1)->MARKFIELD = 1; });
  ASSERT_TRUE(uitest::press(window_->ref(), control::ClearLocalTags));
  pump();
  AllFiles.forEach([](std::size_t, const AllFilesRecord& f) { EXPECT_EQ(f.MARKFIELD, 0); });
}

TEST_F(LocalWindow, FolderMovesByEnterAndPreviousLevel) {
  touch(drives().ram / "Sub" / "inner.txt");
  touch(drives().ram / "top.txt");
  readDrives(*side_);
  chooseDrive('D');

  // Enter on the subfolder's row opens it, as a double-click does.
  ASSERT_TRUE(uitest::pickRow(window_->ref(), control::FolderList, 2, uitest::Pick::Enter));
  pump();
  EXPECT_EQ(localDirectory(), "D:\\SUB\\");
  // A folder without subfolders: its own row alone.
  EXPECT_EQ(folderRows(*side_), (std::vector<std::string>{"D:\\SUB"}));
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"inner.txt"}));

  // The right mouse button opens nothing.
  ASSERT_TRUE(uitest::pickRow(window_->ref(), control::FolderList, 1, uitest::Pick::Right));
  pump();
  EXPECT_EQ(localDirectory(), "D:\\SUB\\");

  ASSERT_TRUE(uitest::press(window_->ref(), control::PreviousLevel));
  pump();
  EXPECT_EQ(localDirectory(), "D:\\");
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"top.txt"}));

  // At the root the directory stays, and the lists are read again.
  touch(drives().ram / "new.txt");
  window_->post(ui::event::Accepted, control::PreviousLevel);
  pump();
  EXPECT_EQ(localDirectory(), "D:\\");
  EXPECT_EQ(folderRows(*side_), (std::vector<std::string>{"D:\\", "SUB"}));
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"new.txt", "top.txt"}));
}

TEST_F(LocalWindow, TheFirstListingShowsHiddenFilesLaterOnesDoNot) {
  touch(drives().ram / "start" / ".profile");
  touch(drives().ram / "start" / "plain");
  const fs::path before = fs::current_path();
  fs::current_path(drives().ram / "start");
  readDrives(*side_);
  initialFileListing();
  fs::current_path(before);

  EXPECT_EQ(localDirectory(), "D:\\START\\");
  EXPECT_EQ(window_->selectedRow(control::DriveList), driveRow('D'));
  EXPECT_EQ(fileNames(), (std::vector<std::string>{".profile", "plain"}));
  readLocalFiles();
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"plain"}));
}

TEST_F(LocalWindow, AnUnusableCurrentDirectoryStartsAtTheFirstFixedDisk) {
  const fs::path before = fs::current_path();
  const fs::path doomed = drives().ram / "doomed";
  fs::create_directories(doomed);
  fs::current_path(doomed);
  fs::remove(doomed);
  readDrives(*side_);
  fs::current_path(before);
  EXPECT_EQ(localDirectory(), "C:\\");
  EXPECT_EQ(window_->selectedRow(control::DriveList), driveRow('C'));
  EXPECT_EQ(folderRows(*side_).front(), "C:\\");
}

TEST_F(LocalWindow, TooDeepAPathIsNeverCutIntoAnotherFolder) {
  // D:\ + 121 characters + \ is 125: it fits. One character more does not.
  const std::string fits(121, 'f');
  const std::string tooLong(122, 'g');
  fs::create_directories(drives().ram / fits);
  fs::create_directories(drives().ram / tooLong);
  readDrives(*side_);
  chooseDrive('D');

  auto open = [&](const std::string& name) {
    const auto rows = folderRows(*side_);
    const auto at = std::find(rows.begin(), rows.end(), upperCase(name));
    ASSERT_NE(at, rows.end());
    window_->selectRow(control::FolderList, static_cast<int>(at - rows.begin()) + 1);
    ui::setKeyCode(ui::key::MouseLeftDouble);
    goToFolder(*side_);
  };
  open(tooLong);
  EXPECT_EQ(localDirectory(), "D:\\");
  ASSERT_EQ(ui::test::messagesShown().size(), 1u);
  open(fits);
  EXPECT_EQ(localDirectory(), "D:\\" + upperCase(fits) + "\\");
  EXPECT_EQ(localDirectory().size(), 125u);
  EXPECT_TRUE(ui::test::messagesShown().empty());
}

TEST_F(LocalWindow, FilesTheListCannotAddressOrCountAreHandledSafely) {
  touch(drives().ram / "back\\slash.txt");
  fs::create_directories(drives().ram / "odd\\dir");
  touch(drives().ram / "big.bin");
  fs::resize_file(drives().ram / "big.bin", 3ull << 30);  // sparse
  readDrives(*side_);
  chooseDrive('D');
  EXPECT_EQ(fileNames(), (std::vector<std::string>{"big.bin"}));
  EXPECT_EQ(folderRows(*side_), (std::vector<std::string>{"D:\\"}));
  AllFilesRecord big;
  AllFiles.get(1, big);
  EXPECT_EQ(big.SIZE, 2147483647);
}

TEST_F(LocalWindow, DownloadEndsReadFilesWhileTheWindowMoves) {
  for (int i = 0; i < 40; ++i) touch(drives().ram / ("f" + std::to_string(i)));
  touch(drives().ram / "Sub" / "only");
  readDrives(*side_);
  chooseDrive('D');

  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop.load()) readLocalFiles();
  });
  for (int round = 0; round < 150; ++round) {
    window_->selectRow(control::FolderList, round % 2 == 0 ? 2 : 1);
    ui::setKeyCode(ui::key::Enter);
    goToFolder(*side_);
    window_->redisplay();
    const std::size_t n = fileNames().size();
    EXPECT_TRUE(n == 1 || n == 40) << n;  // one folder's files or the other's, never a mixture
  }
  stop = true;
  worker.join();
  // Whatever the order of the last two listings, the list shows the folder LocalDirectory names.
  EXPECT_EQ(localDirectory(), "D:\\");
  EXPECT_EQ(fileNames().size(), 40u);
}

}  // namespace
}  // namespace client
