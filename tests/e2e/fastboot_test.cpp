// The fastboot job with Debian's real fastboot against the virtual bench's
// fastboot phone over TCP.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <filesystem>

#include "flashers/fastboot_flasher.h"
#include "process/command_line.h"
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

// A fastboot device that accepts the connection and never answers: the job
// runs until it is released, and then ends with the script's whole tree.
TEST_F(RealFastboot, ADeviceThatStopsAnsweringEndsWhenItsJobIsReleased) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  std::string id = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  WriteFile(dir / "package/boot_only.sh", "fastboot \"$1\" \"$2\" flash boot boot.img\n");
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CFastBootFlasher::StartFlash(id, dir / "package/boot_only.sh", job.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return log.Count("$fastboot") == 1; }));
  auto running = [&] { return ExecuteCommand("pgrep -f " + QuoteArgument(id)) == 0; };
  ASSERT_TRUE(WaitUntil(running));
  EXPECT_FALSE(job->IsCompleted());
  auto start = std::chrono::steady_clock::now();
  job.Reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(WaitUntil([&] { return !running(); }, std::chrono::seconds(5))) << "fastboot was left running";
  ::close(listener);
}
