// Drives and their types from a mount table: injected in-process, or named by NIMBO_MOUNT_TABLE.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ftp_servers.h"
#include "kernel/paths.h"
#include "kernel/winbase.h"

namespace {

using kernel::Mount;

class Drives : public ::testing::Test {
 protected:
  void TearDown() override {
    ::unsetenv("NIMBO_MOUNT_TABLE");
    kernel::setMountTable(std::nullopt);
  }
  static std::string letters() {
    std::string out;
    for (const auto& d : kernel::drives()) out += d.letter;
    return out;
  }
  static std::string at(char letter) {
    for (const auto& d : kernel::drives())
      if (d.letter == letter) return d.directory;
    return "-";
  }
};

TEST_F(Drives, RootIsCAndRealFileSystemsFollowInMountOrderWithTheirTypes) {
  kernel::setMountTable(std::vector<Mount>{
      {"overlay", "/", "overlay"},
      {"proc", "/proc", "proc"},
      {"sysfs", "/sys", "sysfs"},
      {"cgroup2", "/sys/fs/cgroup", "cgroup2"},
      {"tmpfs", "/dev/shm", "tmpfs"},
      {"tmpfs", "/run", "tmpfs"},
      {"/dev/sda2", "/home", "ext4"},
      {"/dev/sdb1", "/media/ann/USB STICK", "vfat"},
      {"/dev/sdc1", "/run/media/ann/CARD", "exfat"},
      {"/dev/sr0", "/mnt/cdrom", "iso9660"},
      {"nas:/export", "/mnt/nas", "nfs4"},
      {"//server/share", "/mnt/share", "cifs"},
      {"ann@host:", "/mnt/ssh", "fuse.sshfs"},
      {"tmpfs", "/tmp", "tmpfs"},
      {"/dev/sdd1", "/srv/odd", "somefs"},
      {"none", "/srv/virtual", "somefs"},
      {"/dev/loop3", "/snap/core/1", "squashfs"},
  });
  EXPECT_EQ(letters(), "CDEFGHIJKL");
  const UINT expected[] = {DRIVE_FIXED,  DRIVE_FIXED,  DRIVE_REMOVABLE, DRIVE_REMOVABLE, DRIVE_CDROM,
                           DRIVE_REMOTE, DRIVE_REMOTE, DRIVE_REMOTE,    DRIVE_RAMDISK,   DRIVE_FIXED};
  const char* where[] = {"/",          "/home",    "/media/ann/USB STICK", "/run/media/ann/CARD",
                         "/mnt/cdrom", "/mnt/nas", "/mnt/share",           "/mnt/ssh",
                         "/tmp",       "/srv/odd"};
  for (int i = 0; i < 10; ++i) {
    const char letter = static_cast<char>('C' + i);
    const std::string root = std::string(1, letter) + ":\\";
    EXPECT_EQ(GetDriveTypeA(root.c_str()), expected[i]) << root;
    EXPECT_EQ(at(letter), where[i]) << root;
  }
}

TEST_F(Drives, DriveTypeTakesRootsOnlyAndKnowsNoOtherLetters) {
  kernel::setMountTable(std::vector<Mount>{{"/dev/vda", "/", "ext4"}, {"/dev/sr0", "/mnt/cd", "udf"}});
  for (const char* root : {"C:\\", "c:\\", "C:", "C:/"}) EXPECT_EQ(GetDriveTypeA(root), DRIVE_FIXED) << root;
  EXPECT_EQ(GetDriveTypeA("d:"), DRIVE_CDROM);
  for (const char* root : {"A:\\", "B:\\", "E:\\", "Z:\\", "C:\\TEMP\\", "C", ":\\", "1:\\", "CC:\\"})
    EXPECT_EQ(GetDriveTypeA(root), DRIVE_NO_ROOT_DIR) << root;
  EXPECT_EQ(GetDriveTypeA(nullptr), DRIVE_FIXED) << "no root: the current directory's drive";
}

TEST_F(Drives, AMountPointMountedAgainShowsItsLastMountInItsFirstPlace) {
  kernel::setMountTable(std::vector<Mount>{{"rootfs", "/", "rootfs"},
                                           {"/dev/vda", "/", "ext4"},
                                           {"/dev/sdb", "/data", "ext4"},
                                           {"/dev/sdc", "/backup", "xfs"},
                                           {"tmpfs", "/data", "tmpfs"}});
  EXPECT_EQ(letters(), "CDE");
  EXPECT_EQ(at('D'), "/data");
  EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_RAMDISK);
  EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
}

TEST_F(Drives, LettersEndAtZ) {
  std::vector<Mount> table{{"/dev/vda", "/", "ext4"}};
  for (int i = 0; i < 40; ++i) table.push_back({"/dev/x", "/mnt/d" + std::to_string(i), "ext4"});
  kernel::setMountTable(table);
  const auto all = kernel::drives();
  ASSERT_EQ(all.size(), 24u);
  EXPECT_EQ(all.back().letter, 'Z');
  EXPECT_EQ(all.back().directory, "/mnt/d22");
}

TEST_F(Drives, AMountOverAFileIsNoDrive) {
  testsupport::TempDir dir;
  testsupport::writeFile(dir / "hosts", "127.0.0.1 localhost\n");
  kernel::setMountTable(std::vector<Mount>{{"/dev/vda", "/", "ext4"},
                                           {"/dev/vda", (dir / "hosts").string(), "ext4"},
                                           {"/dev/vdb", dir.path().string(), "ext4"}});
  EXPECT_EQ(letters(), "CD");
  EXPECT_EQ(at('D'), dir.path().string());
}

TEST_F(Drives, TheEnvironmentNamesATableFileThatEveryCopyReadsAndFollows) {
  testsupport::TempDir dir;
  const auto file = dir / "mounts";
  // The kernel's own format, with its octal escapes for blanks.
  testsupport::writeFile(file,
                         "/dev/vda / ext4 rw,relatime 0 0\n"
                         "proc /proc proc rw 0 0\n"
                         "/dev/sdb1 /media/ann/MY\\040DISK vfat rw 0 0\n");
  ::setenv("NIMBO_MOUNT_TABLE", file.c_str(), 1);
  EXPECT_EQ(letters(), "CD");
  EXPECT_EQ(at('D'), "/media/ann/MY DISK");
  ASSERT_EQ(kernel::mountTable().size(), 3u);
  EXPECT_EQ(kernel::mountTable()[1].fsType, "proc");

  testsupport::writeFile(
      file, "/dev/vda / ext4 rw 0 0\n/dev/sr0 /mnt/cd iso9660 ro 0 0\n/dev/sdc /srv ext4 rw 0 0\n");
  EXPECT_EQ(letters(), "CDE") << "a changed file is read again";
  EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_CDROM);

  // An injected table wins over the file.
  kernel::setMountTable(std::vector<Mount>{{"/dev/vda", "/", "ext4"}});
  EXPECT_EQ(letters(), "C");
  kernel::setMountTable(std::nullopt);
  EXPECT_EQ(letters(), "CDE");

  ::setenv("NIMBO_MOUNT_TABLE", (dir / "missing").c_str(), 1);
  EXPECT_EQ(letters(), "C") << "an unreadable table shows C: alone, not this machine's drives";
}

TEST_F(Drives, TheMachinesOwnTableAlwaysHasC) {
  const auto all = kernel::drives();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front().letter, 'C');
  EXPECT_EQ(all.front().directory, "/");
  EXPECT_GE(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  for (const auto& d : all) {
    EXPECT_NE(d.directory.rfind("/proc", 0), 0u) << d.directory;
    EXPECT_NE(d.directory.rfind("/sys", 0), 0u) << d.directory;
  }
}

}  // namespace
