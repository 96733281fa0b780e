// The fastboot job with Debian's real fastboot against the virtual bench's
// fastboot phone over TCP.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <filesystem>

#include "flashers/fastboot_flasher.h"
#include "process/executor.h"
#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"
#include "tools/phonesim/fastboot_phone.h"

namespace {

class RealFastboot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ExecuteCommand("fastboot --version") != 0) GTEST_SKIP() << "Debian's fastboot is not installed";
    boot = Pattern(200000, 1);
    system = Pattern(3 << 20, 2);
    std::filesystem::create_directories(dir / "package");
    WriteFile(dir / "package/boot.img", std::string(boot.begin(), boot.end()));
    WriteFile(dir / "package/system.img.ext4", std::string(system.begin(), system.end()));
    ::mkfifo((dir / "go").c_str(), 0600);
    WriteFile(dir / "package/flash_all.sh",
              "fastboot \"$1\" \"$2\" flash boot boot.img\n"
              "fastboot \"$1\" \"$2\" flash system system.img.ext4\n"
              "read line < " + dir / "go" + "\n"
              "fastboot \"$1\" \"$2\" reboot\n");
  }
  ComPtr<IDeviceReport> Start(phonesim::TcpFastbootPhone& phone, const std::string& script = "") {
    std::string error;
    EXPECT_TRUE(phone.Start(&error)) << error;
    ComPtr<IDeviceReport> job;
    EXPECT_EQ(CFastBootFlasher::StartFlash(phone.identifier(), script.empty() ? dir / "package/flash_all.sh" : script,
                                           job.ReleaseAndGetAddressOf()),
              S_OK);
    return job;
  }
  void Go() { WriteFile(dir / "go", "go\n"); }

  TempDir dir;
  std::vector<unsigned char> boot, system;
  LogCapture log;
};

}  // namespace

TEST_F(RealFastboot, ThePhoneHoldsTheImagesAndTheProgressIsTheirWeight) {
  phonesim::TcpFastbootPhone phone({});
  ComPtr<IDeviceReport> job = Start(phone);
  // 0.896 + 30.592 once both images are flashed, while the job still runs.
  ASSERT_TRUE(WaitUntil([&] { return log.Count("\tFinished") == 2 && job->GetPercent() == 31; },
                        std::chrono::seconds(30)));
  EXPECT_FALSE(job->IsCompleted());
  Go();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_EQ(job->GetPercent(), 100);
  auto partitions = phone.partitions();
  EXPECT_EQ(partitions["boot"], boot);
  EXPECT_EQ(partitions["system"], system);
  EXPECT_EQ(phone.rebootCount(), 1);
}

TEST_F(RealFastboot, AFailOnOnePartitionEndsTheJobWithThatLine) {
  phonesim::FastbootPhoneOptions options;
  options.failPartition = "system";
  phonesim::TcpFastbootPhone phone(options);
  ComPtr<IDeviceReport> job = Start(phone);
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(job->GetResult(), E_FAIL);
  Bstr status;
  job->GetStatus(&status);
  EXPECT_NE(status.str().find("FAILED (remote: 'partition is locked')"), std::string::npos) << status.str();
  EXPECT_EQ(phone.partitions().count("system"), 0u);
  EXPECT_EQ(phone.partitions().count("boot"), 1u);
}

// A package folder given relative to the current folder: the script is still
// found after the job changed into its folder, and a script that cannot run
// never reads as a success.
TEST_F(RealFastboot, AScriptGivenByARelativePathRunsFromItsFolder) {
  std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  WriteFile(dir / "package/boot_only.sh", "fastboot \"$1\" \"$2\" flash boot boot.img\n");
  phonesim::TcpFastbootPhone phone({});
  ComPtr<IDeviceReport> job = Start(phone, "package/boot_only.sh");
  bool done = WaitUntil([&] { return job->IsCompleted() != 0; }, std::chrono::seconds(30));
  std::filesystem::current_path(old);
  ASSERT_TRUE(done);
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_EQ(phone.partitions()["boot"], boot);
}
