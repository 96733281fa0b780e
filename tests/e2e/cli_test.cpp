// vantor-cli against the virtual bench, as an engineer's script runs it.
#include <gtest/gtest.h>

#include <filesystem>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/sample_package.h"
#include "shell/settings.h"
#include "tests/support/temp_dir.h"

namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FastbootInstalled()) GTEST_SKIP() << "Debian's fastboot is not installed";
    std::filesystem::create_directories(dir / "bench");
    ASSERT_TRUE(MakeSamplePackage(dir / "package"));
  }
  // One phone of each mode; `faults` are options of the bench.
  void StartBench(const std::string& faults = "") {
    bench_ = std::make_unique<CAutoExecutor>(
        QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir / "bench") +
        " --phones 1 --disk-phones 1 --fastboot-phones 1 --diagnostic-phones 1 --disk-delay 100 " + faults);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "bench/phone-4.state"); }));
  }
  HRESULT Run(const std::string& args, std::string* output) {
    output->clear();
    return ExecuteCommand(QuoteArgument(VANTOR_CLI_BIN) + " " + args, output);
  }
  int Lines(const std::string& text, const std::string& fragment) {
    int n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
    return n;
  }
  TempDir dir;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv scale{"VANTOR_TIME_SCALE", "0.1"};
  std::unique_ptr<CAutoExecutor> bench_;
};

}  // namespace

TEST_F(Cli, EveryModeOfTheBenchIsFlashedAndTheRunningPhoneFails) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_EQ(Lines(out, "\"done\":true"), 4) << out;
  EXPECT_EQ(Lines(out, "\"status\":\"The operation completed successfully.\",\"error\":false,\"done\":true"), 3) << out;
  // The running phone has no backup to restore from.
  EXPECT_NE(out.find("\"status\":\"The file was not found.(0x80070002: start flash "),
            std::string::npos) << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":4,\"succeeded\":3,\"failed\":1}}"), std::string::npos);
  std::string system = ReadFile(dir / "package/system.img");
  for (const char* disk : {"bench/disk-1.img", "bench/disk-3.img"}) {
    EXPECT_EQ(ReadFile(dir / disk).substr(28672 * 512, system.size()), system) << disk;
  }
}

TEST_F(Cli, APhoneThatGoesSilentFailsAloneWithItsCode) {
  StartBench("--silence-after 30");  // the emergency phone stops answering mid-stream
  ScopedEnv fast("VANTOR_TIME_SCALE", "0.01");
  std::string out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_NE(out.find("\"status\":\"The end of the file was reached.(0x80070026"), std::string::npos) << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":4,\"succeeded\":2,\"failed\":2}}"), std::string::npos) << out;
  std::string system = ReadFile(dir / "package/system.img");
  EXPECT_EQ(ReadFile(dir / "bench/disk-3.img").substr(28672 * 512, system.size()), system);  // the disk phone is flashed
}

TEST_F(Cli, DevicesUsageAndMissingPackages) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("list", &out), 0);
  EXPECT_EQ(Lines(out, "\n"), 4);
  EXPECT_NE(out.find(" usb-disk 0x1000002"), std::string::npos);
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package") + " -d " + QuoteArgument(dir / "bench/disk-3.img"), &out), 0);
  EXPECT_NE(out.find("1 phones: 1 succeeded, 0 failed"), std::string::npos) << out;
  {
    ScopedEnv registry("VANTOR_REGISTRY_DIR", (dir / "registry").c_str());
    EXPECT_EQ(Run("flash -d x", &out), 2);  // no package: none given, none stored
    MruList folders;
    AddToMru(&folders, dir / "package");
    ASSERT_TRUE(SaveMru(folders, kSearchPathSetting.name));
    EXPECT_EQ(Run("flash -d " + QuoteArgument(dir / "bench/disk-3.img"), &out), 0) << out;  // the stored folders
  }
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package") + " --bogus", &out), 2);
  EXPECT_EQ(Run("backup -p " + QuoteArgument(dir / "package") + " --boot x", &out), 2);  // not a backup option
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "no-such-folder"), &out), 2);
  EXPECT_EQ(Run("frobnicate", &out), 2);
}
