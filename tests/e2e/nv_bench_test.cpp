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
#include "platform/format.h"
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
  // The program's waits at half their length: an answer still has 1.5 s to
  // come on a loaded machine, and a silent phone fails in that time.
  ScopedTimeScale ours{0.5};
  std::unique_ptr<CAutoExecutor> bench_;
  LogCapture log;
};

// The jobs of the windows on the bench, as a technician meets them: the
// program's own server objects, the real device helper, and an adb that is
// not allowed on any phone.
class NvBenchJobs : public NvBench {
 protected:
  NvBenchJobs() {
    std::filesystem::create_directories(dir / "bin");
    WriteFile(dir / "bin/adb", "#!/bin/sh\necho 'error: device unauthorized.' >&2\nexit 1\n");
    std::filesystem::permissions(dir / "bin/adb", std::filesystem::perms::owner_all);
    EXPECT_EQ(RegisterServerObjects(&cookies_), S_OK);
    CoResumeClassObjects();
  }
  ~NvBenchJobs() override { RevokeServerObjects(&cookies_); }

  ComPtr<IDeviceReport> Backup(unsigned index) {
    std::string id = Port(index), paths = dir.path();
    ComPtr<IDeviceReport> job;
    StartBackup(&id, &paths, job.ReleaseAndGetAddressOf());
    return job;
  }
  ComPtr<IDeviceReport> Restore(unsigned index) {
    std::string id = Port(index);
    JobSettings settings;
    settings.nvItemFile = dir / "none.qcn";
    settings.searchPaths = dir.path();
    ComPtr<IDeviceReport> job;
    StartFlash(&id, &settings, job.ReleaseAndGetAddressOf());
    return job;
  }
  // Backs up every phone at once; their results in order.
  std::vector<HRESULT> BackUpAll(unsigned phones) {
    std::vector<ComPtr<IDeviceReport>> jobs;
    for (unsigned i = 1; i <= phones; ++i) jobs.push_back(Backup(i));
    std::vector<HRESULT> results;
    for (auto& job : jobs) results.push_back(Finished(job.Get()) ? job->GetResult() : S_FALSE);
    return results;
  }
  // The items of a .qcn file as "ID INDEX HEX" keys of the bench's dump.
  std::map<std::pair<unsigned, unsigned>, std::string> Items(const std::string& path) {
    QcnContents contents;
    std::map<std::pair<unsigned, unsigned>, std::string> items;
    EXPECT_EQ(ReadQcnFile(path, &contents), S_OK) << path;
    for (const NvItem& item : contents.items) {
      std::string hex;
      for (unsigned char c : item.data) hex += Format("%02x", c);
      items[{item.id, item.index}] = hex;
    }
    return items;
  }

  ScopedEnv benchDir{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv path{"PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str()};

 private:
  std::vector<DWORD> cookies_;
};

const char kImeis[] = "--diag-imei 490154203237518,356938035643809";

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
    std::string name = std::to_string(key.first) + (key.second ? "/" + std::to_string(key.second) : "");
    bool kept = log.Count("NV item " + name + " is read-only") > 0 ||
                log.Count("NV item " + name + " holds another identity") > 0;  // IMEI and MEID stay the phone's
    EXPECT_EQ(restored[key], kept ? second[key] : hex) << key.first << "/" << key.second;
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
TEST_F(NvBenchJobs, TheJobsBackUpAndRestoreARunningPhone) {
  const std::string qcn = dir / "490154203237518.qcn";  // adb is refused: the phone's own IMEI item names it
  StartBench(1, "--diag-imei 490154203237518");
  ComPtr<IDeviceReport> backup = Backup(1);
  ASSERT_TRUE(Finished(backup.Get()));
  EXPECT_EQ(backup->GetResult(), S_OK) << Status(backup.Get());
  EXPECT_EQ(backup->GetPercent(), 100);  // 20, and 20 for each of four status texts
  ASSERT_TRUE(std::filesystem::exists(qcn));
  ComPtr<IDeviceReport> restore = Restore(1);
  ASSERT_TRUE(Finished(restore.Get()));
  EXPECT_EQ(restore->GetResult(), S_OK) << Status(restore.Get());
  EXPECT_EQ(restore->GetPercent(), 100);  // 10 + 10, and 10 for each of eight status texts
  EXPECT_EQ(log.Count("\tstart flash " + qcn), 1);
  bench_.reset();
  std::filesystem::remove_all(dir / "bench");

  // A phone that refuses the code: two attempts, a pause after each. Its
  // IMEI item stays behind the code, so its ESN names the file.
  StartBench(1, "--diag-refuse-spc");
  const std::string byEsn = dir / "805A0101.qcn";
  std::filesystem::copy_file(qcn, byEsn);
  auto started = std::chrono::steady_clock::now();
  ComPtr<IDeviceReport> refused = Restore(1);
  ASSERT_TRUE(Finished(refused.Get()));
  EXPECT_EQ(refused->GetResult(), HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD));
  EXPECT_EQ(refused->GetPercent(), 40);
  EXPECT_EQ(log.Count("\tstart flash " + byEsn), 2);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * 2500));  // 5000 ms each, scaled
}

TEST_F(NvBenchJobs, TwoPhonesWithoutAdbAreBackedUpUnderTheirOwnImeis) {
  StartBench(2, kImeis);
  EXPECT_EQ(BackUpAll(2), (std::vector<HRESULT>{S_OK, S_OK})) << log.Text();
  EXPECT_FALSE(std::filesystem::exists(dir / "000000000000000.qcn"));
  // Each file holds its own phone's items (the bench's dump of each phone).
  EXPECT_EQ(Items(dir / "490154203237518.qcn"), Store(1));
  EXPECT_EQ(Items(dir / "356938035643809.qcn"), Store(2));
  // And each goes back into its own phone only.
  ComPtr<IDeviceReport> restore = Restore(2);
  ASSERT_TRUE(Finished(restore.Get()));
  EXPECT_EQ(restore->GetResult(), S_OK) << Status(restore.Get());
  EXPECT_EQ(log.Count("\tstart flash " + dir / "356938035643809.qcn"), 1);
}

TEST_F(NvBenchJobs, PhonesWithOnlyAnEsnAreNamedByIt) {
  StartBench(2, "--diag-imei none,none --diag-meid none,none --diag-esn 80A1B2C3,80A1B2C4");
  EXPECT_EQ(BackUpAll(2), (std::vector<HRESULT>{S_OK, S_OK})) << log.Text();
  EXPECT_EQ(Items(dir / "80A1B2C3.qcn"), Store(1));
  EXPECT_EQ(Items(dir / "80A1B2C4.qcn"), Store(2));
  EXPECT_FALSE(std::filesystem::exists(dir / "000000000000000.qcn"));
}

TEST_F(NvBenchJobs, PhonesThatGiveNoIdentityNeverShareOneFileUnnoticed) {
  StartBench(2, "--diag-imei none,none --diag-meid none,none --diag-esn none,none");
  std::vector<HRESULT> results = BackUpAll(2);
  // One after the other into one file is one phone's items lost: the second
  // fails, whether the first still ran (busy) or had ended (the file exists).
  ASSERT_EQ(std::count(results.begin(), results.end(), S_OK), 1) << log.Text();
  unsigned saved = results[0] == S_OK ? 1 : 2;
  HRESULT other = results[saved == 1 ? 1 : 0];
  EXPECT_TRUE(other == HRESULT_FROM_WIN32(ERROR_BUSY) || other == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)) << other;
  EXPECT_EQ(Items(dir / "000000000000000.qcn"), Store(saved));
}

TEST_F(NvBenchJobs, AFileOfOnePhoneUnderAnotherPhonesNameIsNotRestored) {
  StartBench(2, kImeis);
  ASSERT_EQ(BackUpAll(1), std::vector<HRESULT>{S_OK});
  std::filesystem::copy_file(dir / "490154203237518.qcn", dir / "356938035643809.qcn");
  auto before = Store(2);
  ComPtr<IDeviceReport> restore = Restore(2);
  ASSERT_TRUE(Finished(restore.Get()));
  EXPECT_EQ(restore->GetResult(), HRESULT_FROM_WIN32(ERROR_WRONG_DISK));
  EXPECT_NE(Status(restore.Get()).find("file IMEI 490154203237518, phone IMEI 356938035643809"), std::string::npos)
      << Status(restore.Get());
  EXPECT_EQ(log.Count("\tstart flash " + dir / "356938035643809.qcn"), 1);  // one attempt: no retry
  EXPECT_EQ(Store(2), before);
}

TEST_F(NvBenchJobs, APhoneThatFallsSilentLeavesItsPreviousBackupAsItWas) {
  StartBench(1, kImeis);
  ASSERT_EQ(BackUpAll(1), std::vector<HRESULT>{S_OK});
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().extension() == ".qcn") files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  const std::string good = ReadFile(files[0]);
  ASSERT_GT(good.size(), 10000u);
  bench_.reset();
  std::filesystem::remove_all(dir / "bench");
  StartBench(1, std::string(kImeis) + " --diag-silence-after 60");
  EXPECT_EQ(BackUpAll(1), std::vector<HRESULT>{HRESULT_FROM_WIN32(ERROR_TIMEOUT)});
  EXPECT_EQ(ReadFile(files[0]), good);
  EXPECT_FALSE(std::filesystem::exists(files[0].string() + ".tmp"));
}
