// vantor-screenshot on a bench of one USB-disk phone: the pictures of the
// main window show it at the size it opens with.
#include <QtTest>
#include <filesystem>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/ui/ui_support.h"
#include "tools/bench_state/bench_state.h"
#include "ui/main_dlg.h"

namespace {

// A PNG file's width and height, from its header.
QSize PngSize(const std::string& path) {
  std::string data = ReadFile(path);
  if (data.size() < 24 || data.compare(1, 3, "PNG") != 0) return {};
  auto be32 = [&](size_t at) {
    return int(static_cast<unsigned char>(data[at])) << 24 | int(static_cast<unsigned char>(data[at + 1])) << 16 |
           int(static_cast<unsigned char>(data[at + 2])) << 8 | int(static_cast<unsigned char>(data[at + 3]));
  };
  return QSize(be32(16), be32(20));
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void theMainWindowsPicturesHaveItsDefaultSize() {
    TempDir dir;
    ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
    ScopedEnv bench{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
    ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
    std::filesystem::create_directories(dir / "bench");
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directories(dir / "package");
    WriteFile(dir / "package/boot.img", std::string(4096, 'B'));
    WriteFile(dir / "package/rawprogram0.xml",
              "<data><program SECTOR_SIZE_IN_BYTES=\"512\" file_sector_offset=\"0\" filename=\"boot.img\" "
              "label=\"boot\" num_partition_sectors=\"8\" physical_partition_number=\"0\" start_sector=\"16\"/></data>");
    WriteFile(dir / "package/patch0.xml", "<patches/>");
    WriteFile(dir / "disk.img", std::string(1 << 20, '\0'));
    bench::WritePhoneState(dir / "bench", {1, "disk", "", dir / "disk.img", "", ""});
    QSize opening = CMainDlg().size();

    std::string output;
    HRESULT status = ExecuteCommand(QuoteArgument(VANTOR_SCREENSHOT_BIN) + " " + QuoteArgument(dir / "out") + " " +
                                        QuoteArgument(dir / "package"),
                                    &output);
    QVERIFY2(status == 0, output.c_str());
    QCOMPARE(PngSize(dir / "out/main-window-running.png"), opening);
    QCOMPARE(PngSize(dir / "out/main-window-done.png"), opening);
    QVERIFY(PngSize(dir / "out/advanced-dialog.png").isValid());
  }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
