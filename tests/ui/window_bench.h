// The virtual bench the main window's tests flash: phones of the bench and a
// package folder; and a few readings of the window.
#pragma once
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/ui/ui_support.h"
#include "tools/bench_state/bench_state.h"
#include "ui/main_dlg.h"
#include "ui/resource_ids.h"

// A bench of USB-disk phones (and running phones, whose NV jobs fail here
// for want of a server), and a package that writes one image.
struct Bench {
  TempDir dir;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  std::string package = dir / "package";

  Bench() {
    std::filesystem::create_directories(dir / "bench");
    std::filesystem::create_directories(package + "/images");
    WriteFile(package + "/images/boot.img", std::string(4096, 'B'));
    WriteFile(package + "/rawprogram0.xml",
              "<data><program SECTOR_SIZE_IN_BYTES=\"512\" file_sector_offset=\"0\" filename=\"boot.img\" "
              "label=\"boot\" num_partition_sectors=\"8\" physical_partition_number=\"0\" start_sector=\"16\"/></data>");
    WriteFile(package + "/patch0.xml", "<patches/>");
  }
  std::string DiskPhone(unsigned index) {
    std::string disk = dir / ("disk-" + std::to_string(index) + ".img");
    WriteFile(disk, std::string(1 << 20, '\0'));
    bench::WritePhoneState(dir / "bench", {index, "disk", "", disk, "", ""});
    return disk;
  }
  void RunningPhone(unsigned index) {
    bench::WritePhoneState(dir / "bench", {index, "diagnostic", "/dev/null", "", "VB" + std::to_string(index), ""});
  }
};

inline QString Prompt(CMainDlg& w) { return w.StatusBar()->GetPaneText(CMPSBarWithProgress::kMessagePane); }
inline QString Text(int id) { return QString::fromUtf8(res::LoadString(id)); }

inline bool RunOver(CMainDlg& w) {
  return WaitFor([&] { return w.RefreshButton()->isEnabled() && !w.TimerActive(); }, 30000);
}
