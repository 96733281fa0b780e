// The fault matrix: one fault at a time on a bench of several phones, flashed
// through `vantor-cli --json`. The faulty phone fails with its code within
// its (scaled) time bound and leaves its trace in the log; the other phones
// are flashed; no process of the run is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/sample_package.h"
#include "tests/support/log_files.h"
#include "tools/bench_state/bench_state.h"

namespace {

struct Fault {
  const char* name;
  const char* bench;    // options of vantor-phonesim
  const char* cli;      // options of vantor-cli flash; "{dir}" is the test's folder
  const char* code;     // in the faulty row's status, as "(0x%08x"
  int failures;         // rows that fail
  int phones;           // rows in all
  const char* disk = nullptr;  // a USB-disk phone of this disk added to the bench
};

const Fault kFaults[] = {
    {"Silence", "--phones 1 --disk-phones 1 --silence-after 30", "", "(0x80070026", 1, 2},
    {"CorruptedFrames", "--phones 1 --disk-phones 1 --corrupt-frame 20", "", "(0x80070017", 1, 2},
    {"RefusedWrites", "--phones 1 --disk-phones 1 --nak-write 5", "", "(0x8007007a", 1, 2},
    {"PortVanishesMidStream", "--phones 1 --disk-phones 1 --vanish-after 30", "", "(0x8007048f", 1, 2},
    {"NeverBackAsADisk", "--phones 1 --disk-phones 1 --never-returns", "", "(0x80070015", 1, 2},
    {"WrongHello", "--phones 1 --disk-phones 1 --wrong-magic", "", "(0x8007051a", 1, 2},
    {"CorruptedReadBack", "--phones 1 --disk-phones 1 --corrupt-readback", "", "(0x8007000d", 1, 2},
    {"FastbootFail", "--phones 0 --fastboot-phones 1 --disk-phones 1 --fail-partition system", "", "(0x80004005", 1, 2},
    // A missing programmer reads as a malformed one: nothing is sent.
    {"MissingPackageFile", "--phones 1 --disk-phones 1", "--programmer missing.hex", "(0x8007000b", 1, 2},
    {"MalformedPackageFile", "--phones 0 --fastboot-phones 1 --disk-phones 1", "--patch {dir}/bad.xml", "(0xc00cee2d", 1, 2},
    // A disk that refuses writes for want of space (the kernel's full device).
    {"DiskFull", "--phones 0 --disk-phones 1", "", "(0x80070070", 1, 2, "/dev/full"},
};

int Count(const std::string& text, const std::string& fragment) {
  int n = 0;
  for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
  return n;
}

// Processes other than the bench whose command line names the run's folder.
std::vector<std::string> LeftBehind(const std::string& folder) {
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = ReadFile("/proc/" + pid + "/cmdline");
    if (cmdline.find(folder) != std::string::npos && cmdline.find("vantor-phonesim") == std::string::npos)
      left.push_back(pid + ": " + cmdline);
  }
  return left;
}

// A trace line with the code: "Operation(line): text(0x%08x)".
bool TraceInLogsSince(std::filesystem::file_time_type since, const std::string& stateFolder, const std::string& code) {
  for (const std::string& text : LogsSince(since, LogFolders(VANTOR_CLI_BIN, stateFolder))) {
    for (size_t at = text.find(code); at != std::string::npos; at = text.find(code, at + 1)) {
      size_t start = text.rfind('\n', at);
      std::string line = text.substr(start == std::string::npos ? 0 : start + 1, at - start);
      if (line.find("): ") != std::string::npos) return true;
    }
  }
  return false;
}

class FaultMatrix : public ::testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    if (!FastbootInstalled()) GTEST_SKIP() << "Debian's fastboot is not installed";
    std::filesystem::create_directories(dir / "bench");
    ASSERT_TRUE(MakeSamplePackage(dir / "package"));
    WriteFile(dir / "bad.xml", "<patches><patch");
  }
  TempDir dir;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv scale{"VANTOR_TIME_SCALE", "0.01"};
  ScopedEnv state{"XDG_STATE_HOME", (dir / "state").c_str()};
};

}  // namespace

TEST_P(FaultMatrix, TheFaultyPhoneFailsAloneWithItsCode) {
  const Fault& fault = GetParam();
  std::string cli = fault.cli;
  if (size_t at = cli.find("{dir}"); at != std::string::npos) cli.replace(at, 5, QuoteArgument(dir.path()));
  auto since = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1);
  std::string output;
  {
    CAutoExecutor bench(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir / "bench") +
                        " --first-index 1 --disk-delay 100 " + fault.bench);
    unsigned simulated = static_cast<unsigned>(fault.phones) - (fault.disk ? 1 : 0);
    ASSERT_TRUE(WaitUntil([&] { return bench::ReadBench(dir / "bench").size() == simulated; }));
    if (fault.disk) bench::WritePhoneState(dir / "bench", {9, "disk", "", fault.disk, "", ""});

    auto start = std::chrono::steady_clock::now();
    HRESULT hr = ExecuteCommand(QuoteArgument(VANTOR_CLI_BIN) + " flash --json -p " + QuoteArgument(dir / "package") +
                                    " " + cli,
                                &output);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(hr, 1) << output;
    EXPECT_LT(took, std::chrono::seconds(20)) << "the run outlasted its scaled time bound";
    std::vector<std::string> left = LeftBehind(dir.path());
    EXPECT_TRUE(left.empty()) << "processes of the run are left: " << ::testing::PrintToString(left);
  }
  EXPECT_EQ(Count(output, "\"error\":true,\"done\":true"), fault.failures) << output;
  EXPECT_EQ(Count(output, fault.code), 1) << output;
  EXPECT_EQ(Count(output, "\"status\":\"The operation completed successfully.\",\"error\":false,\"done\":true"),
            fault.phones - fault.failures)
      << output;
  EXPECT_TRUE(TraceInLogsSince(since, dir / "state/vantor", fault.code)) << "no trace line with " << fault.code;
}

INSTANTIATE_TEST_SUITE_P(Bench, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });
