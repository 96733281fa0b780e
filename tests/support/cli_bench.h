// vantor-cli against the virtual bench, as an engineer's script runs it: a
// folder of the test's own with the sample package and the bench's state,
// the device helper of the build, and vantor-phonesim started on demand.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/sample_package.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"

class CliBench : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "bench");
    ASSERT_TRUE(MakeSamplePackage(dir / "package"));
  }
  // vantor-phonesim with these options, once all its phones are published.
  void StartBench(const std::string& options, size_t phones) {
    bench_ = std::make_unique<CAutoExecutor>(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " +
                                             QuoteArgument(dir / "bench") + " " + options);
    ASSERT_TRUE(WaitUntil([&] { return bench::ReadBench(dir / "bench").size() == phones; }));
  }
  HRESULT Run(const std::string& args, std::string* output) {
    output->clear();
    return ExecuteCommand(QuoteArgument(VANTOR_CLI_BIN) + " " + args, output);
  }
  // What the bench publishes of the phone at index.
  bench::PhoneState State(unsigned index) {
    return bench::ParsePhoneState(ReadFile(bench::StateFilePath(dir / "bench", index))).value_or(bench::PhoneState{});
  }
  static int Lines(const std::string& text, const std::string& fragment) {
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
