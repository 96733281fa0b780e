// The NV service against the virtual bench's diagnostic phones over their
// pseudo-terminals: the bench has its own codec and its own compound-file
// reader, so what passes here passes between two independent sides.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "download/server_objects.h"
#include "jobs/dispatch.h"
#include "nv/nv_service.h"
#include "platform/com/class_registry.h"
#include "nv/qcn_file.h"
#include "process/command_line.h"
#include "platform/timing.h"
#include "process/executor.h"
#include "tests/support/job_helpers.h"
#include "tests/support/log_capture.h"
#include "tests/support/status_list.h"
#include "tools/bench_state/bench_state.h"

namespace {

class NvBench : public ::testing::Test {
 protected:
  // `phones` diagnostic phones at indexes 1.., with bench options.
  void StartBench(int phones, const std::string& options = "") {
    std::filesystem::create_directories(dir / "bench");
    bench_ = std::make_unique<CAutoExecutor>(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " +
                                             QuoteArgument(dir / "bench") + " --diagnostic-phones " +
                                             std::to_string(phones) + " --phones 0 " + options);
    ASSERT_TRUE(WaitUntil([&] {
      return std::filesystem::exists(dir / ("bench/nv-" + std::to_string(phones) + ".txt")) && !Port(phones).empty();
    }));
  }
  std::string Port(unsigned index) {
    for (const bench::PhoneState& s : bench::ReadBench(dir / "bench"))
      if (s.index == index && s.mode == "diagnostic") return s.port;
    return "";
  }
  // The phone's store as it writes it: "ID INDEX HEX" lines.
  std::map<std::pair<unsigned, unsigned>, std::string> Store(unsigned index) {
    std::map<std::pair<unsigned, unsigned>, std::string> store;
    std::istringstream in(ReadFile(dir / ("bench/nv-" + std::to_string(index) + ".txt")));
    unsigned id, element;
    std::string hex;
    while (in >> id >> element >> hex) store[{id, element}] = hex;
    return store;
  }
  TempDir dir;
  ScopedEnv scale{"VANTOR_TIME_SCALE", "0.1"};
  ScopedTimeScale ours{0.1};
  std::unique_ptr<CAutoExecutor> bench_;
  LogCapture log;
};

}  // namespace

TEST_F(NvBench, ABackupRestoredIntoAnotherPhoneLeavesItWithTheSameItems) {
  StartBench(2);
  auto first = Store(1), second = Store(2);
  ASSERT_GT(first.size(), 100u);
  ASSERT_NE(first, second);  // values differ per phone
  StatusList texts;
  ASSERT_EQ(BackupNvItems(Port(1), dir / "one.qcn", "482615", NvBackupOptions{}, &texts), S_OK) << log.Text();
  EXPECT_EQ(texts.texts.size(), 4u);
  QcnContents backup;
  ASSERT_EQ(ReadQcnFile(dir / "one.qcn", &backup), S_OK);
  EXPECT_EQ(backup.items.size(), first.size());

  texts.texts.clear();
  ASSERT_EQ(RestoreNvItems(Port(2), dir / "one.qcn", "482615", true, &texts), S_OK) << log.Text();
  EXPECT_LE(texts.texts.size(), 8u);
  // Read-only items keep the second phone's values; the log names them.
  auto restored = Store(2);
  for (auto& [key, hex] : first) {
    bool readOnly = log.Count("NV item " + std::to_string(key.first) + (key.second ? "/" + std::to_string(key.second) : "") +
                              " is read-only") > 0;
    EXPECT_EQ(restored[key], readOnly ? second[key] : hex) << key.first << "/" << key.second;
  }
  EXPECT_EQ(restored.size(), first.size());
}

TEST_F(NvBench, EveryFaultOfThePhoneGivesAClearCodeAndNoFile) {
  const std::pair<const char*, HRESULT> faults[] = {
      {"--diag-silence-after 30", HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
      {"--diag-corrupt-fcs 40", HRESULT_FROM_WIN32(ERROR_CRC)},
      {"--diag-refuse-spc", HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD)},
      {"--diag-busy 100000", HRESULT_FROM_WIN32(ERROR_BUSY)},
  };
  for (const auto& [option, expected] : faults) {
    StartBench(1, option);
    EXPECT_EQ(BackupNvItems(Port(1), dir / "f.qcn", "482615", NvBackupOptions{}, nullptr), expected) << option;
    EXPECT_FALSE(std::filesystem::exists(dir / "f.qcn")) << option;
    EXPECT_FALSE(std::filesystem::exists(dir / "f.qcn.tmp")) << option;
    bench_.reset();
    std::filesystem::remove_all(dir / "bench");
  }
  // A write that reads back different fails the restore.
  StartBench(1, "--diag-bad-readback --diag-busy 3 --diag-leading-flag");
  ASSERT_EQ(BackupNvItems(Port(1), dir / "f.qcn", "482615", NvBackupOptions{}, nullptr), S_OK);
  EXPECT_EQ(RestoreNvItems(Port(1), dir / "f.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  EXPECT_EQ(log.Count("reads back other data than was written"), 1);
}

// The jobs of the main window, through the program's own server objects:
// their progress steps and their two restore attempts hold.
TEST_F(NvBench, TheJobsBackUpAndRestoreARunningPhone) {
  ScopedEnv benchDir("VANTOR_BENCH_DIR", (dir / "bench").c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  // adb of the test's own knows no phone: the IMEI reads as fifteen zeros.
  std::filesystem::create_directories(dir / "bin");
  WriteFile(dir / "bin/adb", "#!/bin/sh\nexit 1\n");
  std::filesystem::permissions(dir / "bin/adb", std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str());
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();
  JobSettings settings;
  settings.nvItemFile = dir / "none.qcn";
  settings.searchPaths = dir.path();
  const std::string qcn = dir / "000000000000000.qcn";

  StartBench(1);
  std::string id = Port(1);
  ComPtr<IDeviceReport> backup, restore, refused;
  StartBackup(&id, &settings.searchPaths, backup.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(backup.Get()));
  EXPECT_EQ(backup->GetResult(), S_OK) << Status(backup.Get());
  EXPECT_EQ(backup->GetPercent(), 100);  // 20, and 20 for each of four status texts
  ASSERT_TRUE(std::filesystem::exists(qcn));
  StartFlash(&id, &settings, restore.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(restore.Get()));
  EXPECT_EQ(restore->GetResult(), S_OK) << Status(restore.Get());
  EXPECT_EQ(restore->GetPercent(), 100);  // 10 + 10, and 10 for each of eight status texts
  EXPECT_EQ(log.Count("\tstart flash " + qcn), 1);
  bench_.reset();
  std::filesystem::remove_all(dir / "bench");

  // A phone that refuses the code: two attempts, a pause after each.
  StartBench(1, "--diag-refuse-spc");
  id = Port(1);
  auto started = std::chrono::steady_clock::now();
  StartFlash(&id, &settings, refused.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(refused.Get()));
  EXPECT_EQ(refused->GetResult(), HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD));
  EXPECT_EQ(refused->GetPercent(), 40);
  EXPECT_EQ(log.Count("\tstart flash " + qcn), 3);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * 500));  // 5000 ms each, scaled
  backup.Reset();
  restore.Reset();
  refused.Reset();
  RevokeServerObjects(&cookies);
}
