// The udev rules the program installs, run by udev's own rule engine
// (`udevadm test`) over devices described for umockdev. Each run happens in a
// mount namespace of its own, with these rules as the only local rules and a
// private /run, so neither the machine's rules folder nor its udev database
// is touched. Needs root for the namespace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "installer/installer.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tests/devices/usb_devices.h"
#include "tests/support/temp_dir.h"

namespace {

class UdevRules : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
    if (ExecuteCommand("unshare -m true") != 0) GTEST_SKIP() << "no mount namespace here";
    // The machine's own udevadm: PATH leads the tests to a stand-in.
    for (const char* path : {"/usr/bin/udevadm", "/bin/udevadm", "/sbin/udevadm"})
      if (::access(path, X_OK) == 0 && udevadm.empty()) udevadm = path;
    if (ExecuteCommand("umockdev-run --version") != 0 || udevadm.empty())
      GTEST_SKIP() << "umockdev-run or udevadm is not installed";
    std::filesystem::create_directories(dir / "rules");
    for (const char* file : {"51-android.rules", "qcser.rules"})
      std::filesystem::copy_file(std::string(VANTOR_SOURCE_DIR) + "/resources/rules/" + file,
                                 dir / ("rules/" + InstalledRulesName(file)));
  }

  // The properties and tags udev gives the device at syspath, one per line.
  std::string Properties(const std::string& devices, const std::string& syspath) {
    WriteFile(dir / "devices.umockdev", devices);
    std::string output;
    std::string script =
        "mount -t tmpfs tmpfs /run && mount --bind \"$1\" /etc/udev/rules.d && "
        "exec umockdev-run --device \"$2\" -- \"$4\" test \"$3\" 2>/dev/null";
    HRESULT status = ExecuteCommand("unshare -m /bin/sh -c " + QuoteArgument(script) + " sh " +
                                        QuoteArgument(dir / "rules") + " " + QuoteArgument(dir / "devices.umockdev") +
                                        " " + QuoteArgument("/sys" + syspath) + " " + QuoteArgument(udevadm),
                                    &output);
    EXPECT_EQ(status, 0) << output;
    return output;
  }
  static bool Has(const std::string& properties, const std::string& line) {
    return ("\n" + properties).find("\n" + line + "\n") != std::string::npos;
  }
  static bool Tagged(const std::string& properties) {
    size_t tags = properties.find("\nTAGS=");
    return tags != std::string::npos &&
           properties.substr(tags, properties.find('\n', tags + 1) - tags).find(":uaccess:") != std::string::npos;
  }

  TempDir dir;
  std::string udevadm;
};

constexpr Interface kMassStorage{"00", "08", "06", "50"};

}  // namespace

TEST_F(UdevRules, TheMiniKernelsDiskAndItsPartitionsAreTheUsersAndKeptFromTheAutomounter) {
  std::string miniKernel = UsbDevice("1-1.3", "05c6", "9039", "MK3", {kMassStorage}) + Disk("1-1.3", "sdc", 1);
  for (const std::string& path : {DiskPath("1-1.3", "sdc"), DiskPath("1-1.3", "sdc") + "/sdc1"}) {
    std::string p = Properties(miniKernel, path);
    EXPECT_TRUE(Has(p, "UDISKS_IGNORE=1")) << path << "\n" << p;
    EXPECT_TRUE(Tagged(p)) << path << "\n" << p;
  }
}

TEST_F(UdevRules, ARunningPhonesStorageIsLeftAloneAndItsDiagnosticPortIsTheUsers) {
  std::string phone =
      UsbDevice("1-1.2", "05c6", "9025", "RUN2", {{"00", "ff", "ff", "ff"}, {"01", "08", "06", "50"}}) +
      Tty("1-1.2", "ttyUSB0", "00") + Disk("1-1.2", "sdb", 0, "01");
  std::string disk = Properties(phone, DiskPath("1-1.2", "sdb", "01"));
  EXPECT_FALSE(Has(disk, "UDISKS_IGNORE=1")) << disk;
  EXPECT_FALSE(Tagged(disk)) << disk;
  std::string port = Properties(phone, TtyPath("1-1.2", "ttyUSB0", "00"));
  EXPECT_TRUE(Has(port, "ID_MM_DEVICE_IGNORE=1")) << port;
  EXPECT_TRUE(Tagged(port)) << port;
}

TEST_F(UdevRules, TheEmergencyPortAndAFastbootPhoneAreTheUsersAndOtherDevicesAreNot) {
  std::string bench = UsbDevice("1-1.4", "05c6", "9008", "EDL4", "ff", "ff", "ff") + Tty("1-1.4", "ttyUSB1") +
                      UsbDevice("1-1.7", "18d1", "d00d", "FB7", "ff", "42", "03") +
                      UsbDevice("1-1.8", "067b", "2303", "SERIAL", "ff", "00", "00") + Tty("1-1.8", "ttyUSB9");
  std::string emergency = Properties(bench, TtyPath("1-1.4", "ttyUSB1"));
  EXPECT_TRUE(Has(emergency, "ID_MM_DEVICE_IGNORE=1")) << emergency;
  EXPECT_TRUE(Tagged(emergency)) << emergency;
  EXPECT_TRUE(Tagged(Properties(bench, std::string(kUsbRoot) + "/1-1.7")));
  std::string other = Properties(bench, TtyPath("1-1.8", "ttyUSB9"));
  EXPECT_FALSE(Has(other, "ID_MM_DEVICE_IGNORE=1")) << other;
  EXPECT_FALSE(Tagged(other)) << other;
}

// No kernel driver claims a running phone's diagnostic port: the rules hand
// its id to the serial driver when the phone is plugged, and only for the
// diagnostic ids of Qualcomm's vendor id.
TEST_F(UdevRules, ARunningPhonesDiagnosticIdIsGivenToTheSerialDriverAndNoOtherIdIs) {
  std::string bench = UsbDevice("1-1.2", "05c6", "9025", "RUN2", "ff", "ff", "ff") +
                      UsbDevice("1-1.3", "05c6", "901d", "RUN3", "ff", "ff", "ff") +
                      UsbDevice("1-1.4", "05c6", "9008", "EDL4", "ff", "ff", "ff") +
                      UsbDevice("1-1.5", "067b", "9025", "OTHER", "ff", "ff", "ff");
  const std::string newId = " > /sys/bus/usb-serial/drivers/option1/new_id";
  std::string running = Properties(bench, std::string(kUsbRoot) + "/1-1.2");
  EXPECT_NE(running.find("echo 05c6 9025 ff" + newId), std::string::npos) << running;
  EXPECT_NE(running.find("kmod load option"), std::string::npos) << running;
  std::string another = Properties(bench, std::string(kUsbRoot) + "/1-1.3");
  EXPECT_NE(another.find("echo 05c6 901d ff" + newId), std::string::npos) << another;
  for (const char* port : {"/1-1.4", "/1-1.5"}) {
    std::string p = Properties(bench, std::string(kUsbRoot) + port);
    EXPECT_EQ(p.find("new_id"), std::string::npos) << port << "\n" << p;
  }
}
