// What the protocol sends and how long it waits, pinned where a change would
// otherwise go unseen: the hello's every byte, the pauses between hellos and
// between retried writes (recorded through the timing seam, not spent), and
// the test-open of the device found at a location index.
#include <gtest/gtest.h>

#include "download/download_run.h"
#include "download/streaming.h"
#include "download/transport.h"
#include "jobs/discovery.h"
#include "platform/timing.h"
#include "tests/support/fake_ports.h"
#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"
#include "tests/support/status_list.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"

namespace {

phonesim::Bytes Hello(unsigned char version, unsigned char compatible, unsigned char features) {
  phonesim::Bytes hello = {0x01};
  std::string host = "QCOM fast download protocol host";
  hello.insert(hello.end(), host.begin(), host.end());
  hello.insert(hello.end(), {version, compatible, features});
  return hello;
}

}  // namespace

// The bench phone answers only the hello the program sends, byte for byte.
TEST(ProtocolBytes, TheBenchPhoneAnswersOnlyTheExactHello) {
  phonesim::EmergencyPhoneConfig config;
  config.startInProgrammer = true;
  phonesim::EmergencyPhone phone(config);
  EXPECT_EQ(phone.Handle(Hello(3, 3, 9)).at(0).at(0), 0x02);
  for (const phonesim::Bytes& wrong : {Hello(2, 3, 9), Hello(3, 2, 9), Hello(3, 3, 8)})
    EXPECT_NE(phone.Handle(wrong).at(0).at(0), 0x02);
  phonesim::Bytes longer = Hello(3, 3, 9);
  longer.push_back(0);
  EXPECT_NE(phone.Handle(longer).at(0).at(0), 0x02);
  // And the program's hello is that one: a whole streaming run succeeds.
  SimPort port(config, {});
  TempDir dir;
  std::vector<unsigned char> image = Pattern(300, 4);
  WriteFile(dir / "boot.mbn", std::string(image.begin(), image.end()));
  EXPECT_EQ(DownloadMiniKernel(dir / "boot.mbn", nullptr, port), S_OK);
}

// Hellos go out 1000 ms apart; a write that fails is tried again after 100 ms.
TEST(ProtocolWaits, HellosAndRetriedWritesWaitTheirTime) {
  ScopedTimeScale fast(0.0001);
  phonesim::EmergencyPhoneConfig config;
  config.startInProgrammer = true;
  config.faults.answerCode[0x01] = 0x03;  // every hello answered with another code
  SimPort port(config, {});
  TempDir dir;
  WriteFile(dir / "boot.mbn", "boot");
  {
    ScopedWaitRecorder waits;
    EXPECT_EQ(DownloadMiniKernel(dir / "boot.mbn", nullptr, port), HRESULT_FROM_WIN32(ERROR_NOT_READY));
    EXPECT_EQ(waits.waits(), std::vector<DWORD>(60, 1000));
  }
  ScriptedPort scripted;
  scripted.FailWrites(HRESULT_FROM_WIN32(ERROR_IO_DEVICE), 9);
  unsigned char packet = 0x07;
  ScopedWaitRecorder waits;
  EXPECT_EQ(TransmitPacket(scripted, &packet, 1), S_OK);
  EXPECT_EQ(waits.waits(), std::vector<DWORD>(9, 100));
}

// A device named at the phone's index whose file is gone is not the phone:
// the test-open fails each attempt, and the wait for the phone fails.
TEST(ProtocolWaits, ADeviceWhoseFileIsGoneIsNeverTaken) {
  ScopedTimeScale fast(0.0001);
  TempDir dir;
  ScopedEnv benchDir("VANTOR_BENCH_DIR", dir.path().c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  bench::WritePhoneState(dir.path(), {3, "disk", "", dir / "gone.img", "", ""});
  ASSERT_EQ(GetDeviceType(dir / "gone.img"), kDeviceUsbDisk);  // discovery still names it
  LogCapture log;
  StatusList status;
  std::string name;
  EXPECT_EQ(GetDeviceName(3, kDeviceUsbDisk, &status, &name), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  EXPECT_EQ(log.Count("CSoftwareDownload::GetDeviceName("), 62);  // 61 failed test-opens and the end
}
