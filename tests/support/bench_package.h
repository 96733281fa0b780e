// A small flash package in a folder: a programmer, a boot image, one system
// image at sector 200 and a patch of sector 1 (the disk's last sector).
#pragma once
#include <string>
#include <vector>

#include "tests/support/hex_writer.h"
#include "tests/support/temp_dir.h"

struct BenchPackage {
  std::vector<unsigned char> boot = Pattern(40000, 1);
  std::vector<unsigned char> system = Pattern(5000, 2);
  std::string dir;

  explicit BenchPackage(const std::string& folder) : dir(folder) {
    WriteFile(dir + "/MPRG8660.hex", MakeHex({{0x2A000000, Pattern(3000, 3)}}, 0x2A000000));
    WriteFile(dir + "/8660_msimage.mbn", std::string(boot.begin(), boot.end()));
    WriteFile(dir + "/system.img", std::string(system.begin(), system.end()));
    WriteFile(dir + "/rawprogram0.xml", "<data><program start_sector=\"200\" filename=\"system.img\"/></data>");
    WriteFile(dir + "/patch0.xml",
              "<data><patch start_sector=\"1\" byte_offset=\"0\" size_in_bytes=\"4\" value=\"NUM_DISK_SECTORS-1\" "
              "filename=\"DISK\"/></data>");
  }
  std::string Path(const char* name) const { return dir + "/" + name; }
  // Whether a disk holds the system image where the package puts it.
  bool OnDisk(const std::string& disk) const {
    return ReadFile(disk).substr(200 * 512, system.size()) == std::string(system.begin(), system.end());
  }
};
