// The helper's udev back end against devices described for umockdev.
#include <gtest/gtest.h>

#include <filesystem>

#include "jobs/discovery.h"
#include "process/command_line.h"
#include "tests/devices/usb_devices.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr Interface kDiagnostic{"00", "ff", "ff", "ff"};
constexpr Interface kModem{"01", "ff", "ff", "ff"};
constexpr Interface kStorage{"02", "08", "06", "50"};
constexpr Interface kAdb{"01", "ff", "42", "01"};

class UdevBackEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ExecuteCommand("umockdev-run --version") != 0) GTEST_SKIP() << "umockdev-run is not installed";
  }
  // Runs the helper over the described devices; its output, and its status.
  std::string Ask(const std::string& devices, const std::string& args, HRESULT* status = nullptr) {
    WriteFile(dir / "devices.umockdev", devices);
    std::string output;
    HRESULT hr = ExecuteCommand("umockdev-run --device " + QuoteArgument(dir / "devices.umockdev") + " -- " +
                                    QuoteArgument(VANTOR_DEVICES_BIN) + " " + args,
                                &output);
    if (status) *status = hr;
    return output;
  }
  TempDir dir;
  ScopedEnv table{"VANTOR_PORT_TABLE", (dir / "usb-ports").c_str()};
  ScopedEnv noBench{"VANTOR_BENCH_DIR", nullptr};
};

}  // namespace

TEST_F(UdevBackEnd, EachModeIsRecognisedWithItsIdentifierAndVolumes) {
  std::string bench = UsbDevice("1-1.4", "05c6", "9008", "EDL4", "ff", "ff", "ff") + Tty("1-1.4", "ttyUSB0") +
                      UsbDevice("1-1.5", "05c6", "9025", "DIAG5", "ff", "ff", "ff") + Tty("1-1.5", "ttyUSB1") +
                      UsbDevice("1-1.6", "05c6", "9006", "DISK6", "08", "06", "50") + Disk("1-1.6", "sdb", 2) +
                      UsbDevice("1-1.7", "18d1", "d00d", "FB7", "ff", "42", "03") +
                      UsbDevice("1-1.8", "046d", "c52b", "MOUSE", "03", "01", "02") + Tty("1-1.8", "ttyUSB9");
  HRESULT status = E_FAIL;
  EXPECT_EQ(Ask(bench, "list", &status), "/dev/ttyUSB0;/dev/ttyUSB1;/dev/sdb;FB7");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Ask(bench, "type /dev/ttyUSB0"), "16777217");
  EXPECT_EQ(Ask(bench, "type /dev/ttyUSB1"), "16777220");
  EXPECT_EQ(Ask(bench, "type /dev/sdb"), "16777218");
  EXPECT_EQ(Ask(bench, "type FB7"), "16777219");
  EXPECT_EQ(Ask(bench, "volumes /dev/sdb"), "/dev/sdb1;/dev/sdb2");
  EXPECT_EQ(Ask(bench, "type /dev/ttyUSB9", &status), "0");
  EXPECT_EQ(status, 4);
  std::string index = Ask(bench, "index /dev/ttyUSB1");
  EXPECT_NE(index, "0");
  EXPECT_EQ(Ask(bench, "name " + index + ", 33554432"), "DIAG5");
  EXPECT_EQ(Ask(bench, "name " + index + ", 16777216"), "/dev/ttyUSB1");
}

TEST_F(UdevBackEnd, TheIndexStaysWithThePortWhenThePhoneComesBackAsADisk) {
  std::string asPort = UsbDevice("1-1.4", "05c6", "9008", "EDL4", "ff", "ff", "ff") + Tty("1-1.4", "ttyUSB0") +
                       UsbDevice("1-1.3", "05c6", "9008", "EDL3", "ff", "ff", "ff") + Tty("1-1.3", "ttyUSB1");
  std::string first = Ask(asPort, "index /dev/ttyUSB0");
  std::string other = Ask(asPort, "index /dev/ttyUSB1");
  EXPECT_NE(first, other);
  std::string asDisk = UsbDevice("1-1.4", "05c6", "9006", "DISK", "08", "06", "50") + Disk("1-1.4", "sdc", 1);
  EXPECT_EQ(Ask(asDisk, "index /dev/sdc"), first);
  EXPECT_EQ(Ask(asDisk, "name " + first + ", 16777216"), "/dev/sdc");
  HRESULT status = E_FAIL;
  Ask(asDisk, "init", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Ask(asDisk, "index /dev/sdc"), first);  // init keeps what the table holds
}

// The helper fails loudly: a port table it cannot use fails the answer
// instead of listing no phone, and a table that labels two ports with one
// index is refused, naming both. Labels written by hand survive init.
TEST_F(UdevBackEnd, APortTableThatCannotBeUsedFailsTheAnswer) {
  std::string phones = UsbDevice("1-1.4", "05c6", "9008", "EDL4", "ff", "ff", "ff") + Tty("1-1.4", "ttyUSB0") +
                       UsbDevice("1-1.5", "05c6", "9008", "EDL5", "ff", "ff", "ff") + Tty("1-1.5", "ttyUSB1");
  std::filesystem::create_directory(dir / "folder");
  {
    ScopedEnv unusable("VANTOR_PORT_TABLE", (dir / "folder").c_str());
    HRESULT status = S_OK;
    Ask(phones, "list", &status);
    EXPECT_EQ(status, 1);
    Ask(phones, "init", &status);
    EXPECT_EQ(status, 1);
  }
  WriteFile(dir / "usb-ports", "1-1.4 7\n1-1.5 7\n");
  HRESULT status = S_OK;
  std::string said = Ask(phones, "list", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(said.find("1-1.4"), std::string::npos) << said;
  EXPECT_NE(said.find("1-1.5"), std::string::npos) << said;

  WriteFile(dir / "usb-ports", "1-1.4 7\n1-1.5 9\n");
  Ask(phones, "init", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Ask(phones, "index /dev/ttyUSB0"), "7");
  EXPECT_EQ(Ask(phones, "index /dev/ttyUSB1"), "9");
}

// A serial number the program could not take back from the list (a ";",
// a control character, a byte that is not printable) leaves that phone out;
// the others are listed.
TEST_F(UdevBackEnd, APhoneWithAnUnplainSerialNumberIsLeftOut) {
  std::string phones = UsbDevice("1-1.7", "18d1", "d00d", "FB;7", "ff", "42", "03") +
                       UsbDevice("1-1.8", "18d1", "d00d", "FB\x01" "8", "ff", "42", "03") +
                       UsbDevice("1-1.9", "18d1", "d00d", "FB9", "ff", "42", "03");
  HRESULT status = E_FAIL;
  EXPECT_EQ(Ask(phones, "list", &status), "FB9");
  EXPECT_EQ(status, 0);
}

// Only the mini kernel's disk is a disk to flash: a Qualcomm device that
// offers mass storage and nothing else.
TEST_F(UdevBackEnd, ARunningPhoneThatAlsoOffersItsStorageListsOnlyItsDiagnosticPort) {
  std::string phone = UsbDevice("1-1.2", "05c6", "9025", "RUN2", {kDiagnostic, kModem, kStorage}) +
                      Tty("1-1.2", "ttyUSB0", "00") + Tty("1-1.2", "ttyUSB1", "01") + Disk("1-1.2", "sdb", 2, "02");
  HRESULT status = E_FAIL;
  EXPECT_EQ(Ask(phone, "list", &status), "/dev/ttyUSB0");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Ask(phone, "type /dev/sdb", &status), "0");
  EXPECT_EQ(status, 4);
}

TEST_F(UdevBackEnd, AQualcommDiskBesideAnAdbInterfaceIsNotListed) {
  std::string phone = UsbDevice("1-1.3", "05c6", "9039", "ADB3", {{"00", "08", "06", "50"}, kAdb}) +
                      Disk("1-1.3", "sdc", 1, "00");
  HRESULT status = E_FAIL;
  EXPECT_EQ(Ask(phone, "list", &status), "");
  EXPECT_EQ(status, 0);
  // The same disk with the adb interface gone is the mini kernel's.
  std::string miniKernel = UsbDevice("1-1.3", "05c6", "9039", "ADB3", {{"00", "08", "06", "50"}}) +
                           Disk("1-1.3", "sdc", 1, "00");
  EXPECT_EQ(Ask(miniKernel, "list"), "/dev/sdc");
  EXPECT_EQ(Ask(miniKernel, "type /dev/sdc"), "16777218");
}

// A composite phone with ttys on interfaces 00, 01 and 02: only the
// diagnostic interface's tty is a phone to list.
TEST_F(UdevBackEnd, TheDiagnosticPortIsChosenByItsInterfaceNumber) {
  std::string phone = UsbDevice("1-1.5", "05c6", "9025", "RUN5", {kDiagnostic, kModem, {"02", "ff", "ff", "ff"}}) +
                      Tty("1-1.5", "ttyUSB4", "01") + Tty("1-1.5", "ttyUSB3", "00") + Tty("1-1.5", "ttyUSB5", "02");
  EXPECT_EQ(Ask(phone, "list"), "/dev/ttyUSB3");
  EXPECT_EQ(Ask(phone, "type /dev/ttyUSB3"), "16777220");
  EXPECT_EQ(Ask(phone, "type /dev/ttyUSB4"), "0");
}
