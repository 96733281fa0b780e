#include "jobs/discovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/timing.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"

namespace {

// A helper of the test's own, placed through VANTOR_DEVICE_HELPER.
class FakeHelper : public ::testing::Test {
 protected:
  void Helper(const std::string& body) {
    std::string path = dir / "helper";
    WriteFile(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    Place(path);
  }
  void Place(const std::string& path) {
    env_.reset();  // restore before the next one records the value
    env_ = std::make_unique<ScopedEnv>("VANTOR_DEVICE_HELPER", path.c_str());
  }
  TempDir dir;
  std::unique_ptr<ScopedEnv> env_;
};

}  // namespace

TEST(DiscoveryParsing, ListsNumbersAndTheImeiWalk) {
  EXPECT_EQ(SplitListAnswer("COM3;COM4;;COM9"), (std::vector<std::string>{"COM3", "COM4", "COM9"}));
  EXPECT_TRUE(SplitListAnswer(";").empty());
  EXPECT_EQ(SplitListAnswer(";a b;c\r\n"), (std::vector<std::string>{"a b", "c\r\n"}));  // not trimmed
  EXPECT_EQ(ParseNumberAnswer("16777219"), kDeviceFastboot);
  EXPECT_EQ(ParseNumberAnswer(" 16777220\r\n"), kDeviceDiagnostic);
  EXPECT_EQ(ParseNumberAnswer("fastboot"), 0u);
  EXPECT_EQ(ParseNumberAnswer(""), 0u);
  EXPECT_EQ(ParseNumberAnswer("+7x"), 7u);
}

TEST(DiscoveryParsing, OnlyFourteenToSixteenDigitsStandingAloneAreAnImei) {
  std::string imei;
  std::string props =
      "[gsm.version.baseband]: [1.2]\r\n[ro.ril.oem.imeisv]: [99]\r\n[ro.ril.oem.imei]: [356938035643809]\r\n"
      "[ro.serialno]: [X1]\r\n";
  EXPECT_EQ(FindImei(props, &imei), S_OK);
  EXPECT_EQ(imei, "356938035643809");
  EXPECT_EQ(FindImei("[ro.ril.oem.imei]: [35693803564380]", &imei), S_OK);  // 14 digits, at the end of the text
  EXPECT_EQ(imei, "35693803564380");
  EXPECT_EQ(FindImei("[ro.ril.oem.imei]: [3569380356438091]\n", &imei), S_OK);  // 16 digits
  EXPECT_EQ(imei, "3569380356438091");
  EXPECT_EQ(FindImei("[ro.serialno]: [X1]\n", &imei), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  EXPECT_EQ(imei, kUnknownImei);
  EXPECT_EQ(FindImei("[RO.RIL.OEM.IMEI]: [356938035643809]\n", &imei), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  // A phone's answer that is not an IMEI never names a file.
  const std::string hostile[] = {
      "[ro.ril.oem.imei]: [/tmp/x]\n",
      "[ro.ril.oem.imei]: [../x]\n",
      "[ro.ril.oem.imei]: [356938035643809/../../x]\n",
      "[ro.ril.oem.imei]: [356938035643809 ../x]\n",
      "[ro.ril.oem.imei]: [35693803 5643809]\n",
      "[ro.ril.oem.imei]: [" + std::string(200, '7') + "]\n",
      "[ro.ril.oem.imei]: []\n[ro.serialno]: [356938035643809]\n",  // empty: the next line is not its value
      "[ro.ril.oem.imei]: []",
      "[ro.ril.oem.imei]: [1234567890123]\n",      // 13 digits
      "[ro.ril.oem.imei]: [12345678901234567]\n",  // 17 digits
      "[ro.ril.oem.imei]: [35693803564380x]\n",
      "[ro.ril.oem.imei]: [-35693803564380]\n",
  };
  for (const std::string& answer : hostile) {
    imei = "kept?";
    EXPECT_EQ(FindImei(answer, &imei), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << answer;
    EXPECT_EQ(imei, kUnknownImei) << answer;
  }
}

TEST_F(FakeHelper, EachQuestionRunsItsCommandLine) {
  Helper("printf '%s|' \"$@\"\n");
  EXPECT_EQ(QueryDeviceName(3, kNameAdb), "name|3,|33554432|");
  std::vector<std::string> volumes;
  EXPECT_EQ(GetVolumeList("x; touch " + dir / "owned", &volumes), S_OK);
  EXPECT_EQ(volumes, (std::vector<std::string>{"volumes|x", " touch " + dir / "owned|"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "owned"));  // one argument, never a shell command
}

// The helper's path is quoted: a folder with blanks in its name still runs
// the helper, with the verb and its words as separate arguments.
TEST_F(FakeHelper, AHelperInAFolderWithBlanksIsStillFound) {
  std::filesystem::create_directories(dir / "my tools");
  WriteFile(dir / "my tools/helper", "#!/bin/sh\nprintf '%s|' \"$@\"\n");
  std::filesystem::permissions(dir / "my tools/helper", std::filesystem::perms::owner_all);
  Place(dir / "my tools/helper");
  EXPECT_EQ(QueryDeviceName(7, kNameDeviceId), "name|7,|16777216|");
  EXPECT_EQ(GetDeviceType("COM 3"), 0u);  // "type|COM 3|" is no number
  std::vector<std::string> devices;
  EXPECT_EQ(GetDeviceList(&devices), S_OK);
  EXPECT_EQ(devices, std::vector<std::string>{"list|"});
}

TEST_F(FakeHelper, AFailingHelperIsAnErrorNotAnEmptyList) {
  Helper("echo 'cannot reach udev' >&2\nexit 3\n");
  LogCapture log;
  std::vector<std::string> devices = {"kept"};
  EXPECT_EQ(GetDeviceList(&devices), E_ACCESSDENIED);
  EXPECT_EQ(devices, std::vector<std::string>{"kept"});
  EXPECT_EQ(log.Count("GetDeviceList("), 1);
  EXPECT_EQ(GetDeviceType("COM3"), 0u);
  Helper("exit 4\n");
  EXPECT_EQ(GetDeviceList(&devices), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  Place(dir / "missing");
  EXPECT_EQ(GetDeviceList(&devices), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetDeviceIndex("COM3"), 0u);
}

TEST_F(FakeHelper, TheImeiComesFromAdbBesideTheSdkFolder) {
  Helper("case \"$1\" in index) printf 5;; name) printf 'SERIAL 01';; esac\n");
  std::filesystem::create_directories(dir / "Google/Android");
  WriteFile(dir / "Google/Android/adb",
            "#!/bin/sh\n[ \"$1 $2 $3 $4\" = '-s SERIAL 01 shell getprop' ] || exit 9\n"
            "printf '[ro.ril.oem.imei]: [%s]\\r\\n' \"$(cat " + dir / "answer" + ")\"\n");
  std::filesystem::permissions(dir / "Google/Android/adb", std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", (dir.path() + ":" + std::getenv("PATH")).c_str());
  WriteFile(dir / "answer", "351234567890123");
  EXPECT_EQ(GetDeviceIMEI("/dev/ttyUSB1"), "351234567890123");
  // Hostile answers read as no IMEI, each with one trace line.
  for (const std::string& answer : {std::string("/tmp/x"), std::string("../x"), std::string("3512345 67890123"),
                                    std::string(200, '1'), std::string()}) {
    WriteFile(dir / "answer", answer);
    LogCapture log;
    EXPECT_EQ(GetDeviceIMEI("/dev/ttyUSB1"), kUnknownImei) << answer;
    EXPECT_EQ(log.Count("GetDeviceIMEI("), 1) << answer;
  }
}

TEST(DeviceHelper, TheBenchBackEndAnswersFromThePublishedState) {
  TempDir bench;
  ScopedEnv dir("VANTOR_BENCH_DIR", bench.path().c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  bench::WritePhoneState(bench.path(), {3, "emergency", "/dev/pts/7", "", "", ""});
  bench::WritePhoneState(bench.path(), {5, "fastboot", "", "", "VB0005", "127.0.0.1:5555"});
  bench::WritePhoneState(bench.path(), {6, "gone", "", "", "", ""});
  std::vector<std::string> devices;
  ASSERT_EQ(GetDeviceList(&devices), S_OK);
  EXPECT_EQ(devices, (std::vector<std::string>{"/dev/pts/7", "tcp:127.0.0.1:5555"}));
  EXPECT_EQ(GetDeviceType("/dev/pts/7"), kDeviceEmergencyDownload);
  EXPECT_EQ(GetDeviceIndex("tcp:127.0.0.1:5555"), 5u);
  EXPECT_EQ(QueryDeviceName(5, kNameAdb), "VB0005");
  // The phone comes back at the same index as a disk.
  bench::WritePhoneState(bench.path(), {3, "disk", "", bench / "disk-3.img", "", ""});
  EXPECT_EQ(QueryDeviceName(3, kNameDeviceId), bench / "disk-3.img");
  EXPECT_EQ(GetDeviceType(bench / "disk-3.img"), kDeviceUsbDisk);
  EXPECT_EQ(GetDeviceType("/dev/pts/7"), 0u);
  EXPECT_EQ(QueryDeviceName(6, kNameDeviceId), "");
}
