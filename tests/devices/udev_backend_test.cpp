// The helper's udev back end against devices described for umockdev.
#include <gtest/gtest.h>

#include "jobs/discovery.h"
#include "process/command_line.h"
#include "tests/support/temp_dir.h"

namespace {

const char kUsbRoot[] = "/devices/pci0000:00/0000:00:14.0/usb1";

// One USB device at a hub port with one interface.
std::string UsbDevice(const std::string& port, const char* vendor, const char* product, const char* serial,
                      const char* interfaceClass, const char* subclass, const char* protocol) {
  std::string dev = std::string(kUsbRoot) + "/" + port;
  return "P: " + dev + "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: idVendor=" + vendor + "\nA: idProduct=" + product +
         "\nA: serial=" + serial + "\n\nP: " + dev + "/" + port + ":1.0\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb" +
         "\nA: bInterfaceNumber=00\nA: bInterfaceClass=" + interfaceClass + "\nA: bInterfaceSubClass=" + subclass +
         "\nA: bInterfaceProtocol=" + protocol + "\n\n";
}

std::string Tty(const std::string& port, const std::string& name) {
  return "P: " + std::string(kUsbRoot) + "/" + port + "/" + port + ":1.0/" + name + "/tty/" + name + "\nN: " + name +
         "\nE: DEVNAME=/dev/" + name + "\nE: SUBSYSTEM=tty\n\n";
}

std::string Disk(const std::string& port, const std::string& name, int partitions) {
  std::string disk = std::string(kUsbRoot) + "/" + port + "/" + port + ":1.0/host6/target6:0:0/6:0:0:0/block/" + name;
  std::string text = "P: " + disk + "\nN: " + name + "\nE: DEVNAME=/dev/" + name + "\nE: DEVTYPE=disk\nE: SUBSYSTEM=block\n\n";
  for (int p = 1; p <= partitions; ++p) {
    std::string part = name + std::to_string(p);
    text += "P: " + disk + "/" + part + "\nN: " + part + "\nE: DEVNAME=/dev/" + part +
            "\nE: DEVTYPE=partition\nE: SUBSYSTEM=block\n\n";
  }
  return text;
}

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
  EXPECT_EQ(Ask(asDisk, "index /dev/sdc"), "1");  // a fresh table starts again at 1
}
