// Taking a disk's volumes away from the system, on loop devices: the disk is
// a loop device over a file, its "partition" another one at an offset of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "download/disk_writer.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/temp_dir.h"

namespace {

class LoopDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "loop devices and mounts need root";
    WriteFile(dir / "disk.img", "");
    std::filesystem::resize_file(dir / "disk.img", 32 << 20);
    disk_ = Attach("");
    partition_ = Attach("--offset 1048576 --sizelimit 8388608");
    if (disk_.empty() || partition_.empty()) GTEST_SKIP() << "loop devices are not available here";
    if (ExecuteCommand("mke2fs -q -F " + partition_) != 0) GTEST_SKIP() << "mke2fs is not available";
    std::filesystem::create_directory(dir / "mnt");
    if (::mount(partition_.c_str(), (dir / "mnt").c_str(), "ext2", 0, nullptr) != 0)
      GTEST_SKIP() << "mounting is not permitted here";
    // The device helper of this test names the partition as the disk's volume.
    WriteFile(dir / "helper", "#!/bin/sh\n[ \"$1\" = volumes ] && printf %s " + QuoteArgument(partition_) + "\n");
    std::filesystem::permissions(dir / "helper", std::filesystem::perms::owner_all);
    helper_ = std::make_unique<ScopedEnv>("VANTOR_DEVICE_HELPER", (dir / "helper").c_str());
    WriteFile(dir / "raw.xml", "<data><program start_sector=\"100\" filename=\"a.bin\"/></data>");
    WriteFile(dir / "patch.xml", "<data/>");
    WriteFile(dir / "a.bin", std::string(1024, 'A'));
  }
  void TearDown() override {
    ::umount2((dir / "mnt").c_str(), MNT_DETACH);
    for (const std::string& loop : {partition_, disk_})
      if (!loop.empty()) ExecuteCommand("losetup -d " + loop);
  }
  std::string Attach(const std::string& options) {
    std::string device;
    if (ExecuteCommand("losetup --show -f " + options + " " + QuoteArgument(dir / "disk.img"), &device) != 0) return "";
    while (!device.empty() && device.back() == '\n') device.pop_back();
    return device;
  }
  bool Mounted() const { return ReadFile("/proc/self/mountinfo").find((dir / "mnt") + " ") != std::string::npos; }

  TempDir dir;
  std::string disk_, partition_;
  std::unique_ptr<ScopedEnv> helper_;
};

}  // namespace

TEST_F(LoopDisk, AMountedVolumeIsUnmountedForTheRun) {
  ASSERT_TRUE(Mounted());
  EXPECT_EQ(DownloadToDiskDrive(disk_, dir / "raw.xml", dir / "patch.xml", dir.path(), nullptr), S_OK);
  EXPECT_FALSE(Mounted());
  EXPECT_EQ(ReadFile(dir / "disk.img").substr(100 * 512, 1024), std::string(1024, 'A'));
}

TEST_F(LoopDisk, ABusyVolumeFailsTheRunBeforeTheDiskIsOpened) {
  WriteFile(dir / "mnt/open.txt", "held");
  int held = ::open((dir / "mnt/open.txt").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  EXPECT_EQ(DownloadToDiskDrive(disk_, dir / "raw.xml", dir / "patch.xml", dir.path(), nullptr),
            HRESULT_FROM_WIN32(ERROR_BUSY));
  ::close(held);
  EXPECT_TRUE(Mounted());
  EXPECT_EQ(ReadFile(dir / "disk.img").substr(100 * 512, 1024), std::string(1024, '\0'));
}
