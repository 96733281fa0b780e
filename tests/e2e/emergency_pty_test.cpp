// Whole emergency-download conversations over a real pseudo-terminal against
// the virtual bench's phone.
#include <gtest/gtest.h>

#include <chrono>

#include "download/download_run.h"
#include "download/programmer.h"
#include "jobs/discovery.h"
#include "download/serial_port.h"
#include "download/streaming.h"
#include "platform/timing.h"
#include "tests/support/hex_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/pty_phone.h"

namespace {

class EmergencyOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir / "MPRG8660.hex", MakeHex(programmer, 0x2A000000));
    std::vector<unsigned char> boot = Pattern(300 * 1024 + 77, 11);
    WriteFile(dir / "8660_msimage.mbn", std::string(boot.begin(), boot.end()));
  }

  phonesim::PtyEmergencyPhone& Start(phonesim::BenchPhoneOptions options = {}) {
    options.benchDir = dir.path();
    options.index = 4;
    options.diskReturnDelayMs = 20;
    options.diskBytes = 1 << 20;
    phone = std::make_unique<phonesim::PtyEmergencyPhone>(options);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return *phone;
  }

  // Runs both stages as the download run does: one port for both.
  HRESULT Download(std::chrono::milliseconds* took = nullptr) {
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<SerialPort> port;
    HRESULT hr = OpenSerialPort(phone->portPath(), &port);
    if (SUCCEEDED(hr)) hr = DownloadFlashProgrammer(dir / "MPRG8660.hex", nullptr, *port);
    if (SUCCEEDED(hr)) hr = DownloadMiniKernel(dir / "8660_msimage.mbn", nullptr, *port);
    if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return hr;
  }

  TempDir dir;
  std::map<std::uint32_t, std::vector<unsigned char>> programmer = {{0x2A000000, Pattern(70000, 10)}};
  std::unique_ptr<phonesim::PtyEmergencyPhone> phone;
};

std::string Mode(const std::string& dir, unsigned index) {
  auto state = bench::ParsePhoneState(ReadFile(bench::StateFilePath(dir, index)));
  return state ? state->mode : "";
}

}  // namespace

TEST_F(EmergencyOverPty, TheMemoryMapTheJumpAndTheEmmcHoldWhatWasSent) {
  auto& p = Start();
  EXPECT_EQ(Mode(dir.path(), 4), "emergency");
  ASSERT_EQ(Download(), S_OK);
  phonesim::EmergencyPhone state = p.Snapshot();
  std::vector<unsigned char> memory;
  for (const auto& [address, byte] : state.memory()) memory.push_back(byte);
  EXPECT_EQ(state.memory().begin()->first, 0x2A000000u);
  EXPECT_EQ(memory, programmer.begin()->second);
  EXPECT_EQ(state.jumpedTo(), 0x2A000000u);
  std::string boot = ReadFile(dir / "8660_msimage.mbn");
  EXPECT_EQ(std::string(state.emmc().begin(), state.emmc().end()), boot);
  // The phone returns at the same index as a disk whose first bytes are the boot image.
  ASSERT_TRUE(WaitUntil([&] { return p.IsDisk(); }));
  EXPECT_EQ(Mode(dir.path(), 4), "disk");
  std::string disk = ReadFile(p.diskPath());
  EXPECT_EQ(disk.size(), 1u << 20);
  EXPECT_EQ(disk.substr(0, boot.size()), boot);
  EXPECT_EQ(p.badFrames(), 0);
}

TEST_F(EmergencyOverPty, EachInjectedFaultEndsWithItsCodeInTime) {
  ScopedTimeScale fast(0.01);  // a read waits 10 ms instead of 1000 ms
  struct Case {
    const char* what;
    std::function<void(phonesim::BenchPhoneOptions&)> fault;
    HRESULT expected;
  };
  std::vector<Case> cases = {
      {"silence", [](auto& o) { o.link.silenceAfterFrames = 3; }, kReadTimeout},
      {"corrupted frame", [](auto& o) { o.link.corruptFrame = 5; }, HRESULT_FROM_WIN32(ERROR_CRC)},
      {"refused write", [](auto& o) { o.phone.faults.nakWrite = 2; }, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
      {"wrong hello magic", [](auto& o) { o.phone.faults.wrongHelloMagic = true; }, HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH)},
      {"hello N = 0", [](auto& o) { o.phone.faults.announcedBlock = 0; }, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
      {"hello N huge", [](auto& o) { o.phone.faults.announcedBlock = 0xFFFFFFFF; }, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
      {"hello W = 0", [](auto& o) { o.phone.faults.announcedWindow = 0; }, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
      {"other bytes read back", [](auto& o) { o.phone.faults.corruptReadBack = true; }, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)},
      {"port vanishes", [](auto& o) { o.link.vanishAfterFrames = 40; }, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
  };
  for (const Case& c : cases) {
    phonesim::BenchPhoneOptions options;
    c.fault(options);
    Start(options);
    std::chrono::milliseconds took{};
    EXPECT_EQ(Download(&took), c.expected) << c.what;
    // Ten reads of 10 ms and ten waits of 1 ms at most, plus the work.
    EXPECT_LT(took.count(), 3000) << c.what;
    phone.reset();
  }
}

TEST_F(EmergencyOverPty, LogPacketsBeforeTheSecurityResponseAreSkipped) {
  phonesim::BenchPhoneOptions options;
  options.phone.faults.logPacketsBeforeSecurity = 4;
  Start(options);
  EXPECT_EQ(Download(), S_OK);
}

// After the reset the program looks for the phone at its index as a disk:
// a phone that comes back is found there, one that never does is given up.
TEST_F(EmergencyOverPty, AfterTheResetTheProgramFindsTheDiskOrGivesUp) {
  ScopedEnv bench("VANTOR_BENCH_DIR", dir.path().c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  ScopedTimeScale fast(0.01);
  auto& back = Start();
  ASSERT_EQ(Download(), S_OK);
  std::string disk;
  EXPECT_EQ(GetDeviceName(4, kDeviceUsbDisk, nullptr, &disk), S_OK);
  EXPECT_EQ(disk, back.diskPath());

  phonesim::BenchPhoneOptions options;
  options.neverReturnsAsDisk = true;
  Start(options);
  ASSERT_EQ(Download(), S_OK);
  ScopedTimeScale faster(0.001);
  EXPECT_EQ(GetDeviceName(4, kDeviceUsbDisk, nullptr, &disk), HRESULT_FROM_WIN32(ERROR_NOT_READY));
}

TEST_F(EmergencyOverPty, APortHeldByAnotherRunCannotBeOpened) {
  auto& p = Start();
  std::unique_ptr<SerialPort> first, second;
  ASSERT_EQ(OpenSerialPort(p.portPath(), &first), S_OK);
  EXPECT_TRUE(FAILED(OpenSerialPort(p.portPath(), &second)));
  EXPECT_EQ(OpenSerialPort(dir / "no-such-port", &second), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}
