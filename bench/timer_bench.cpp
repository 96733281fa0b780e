// The main window's 100 ms timer as a run pays it: one pass over 64 rows
// (poll each job, set the cells, repaint the list, the overall bar and the
// time pane), offscreen, with every row running, every row done, and every
// row failed. Each state's figure is the median of its passes; the first
// pass over fresh failures, which traces each failure once, is reported
// apart. The last line reads "timer-64 ms=<the worst of the three>".
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jobs/refused_job.h"
#include "ui/main_dlg.h"

namespace {

constexpr int kRows = 64;
constexpr int kPasses = 21;

double PassMs(CMainDlg& window) {
  auto start = std::chrono::steady_clock::now();
  window.OnTimer();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Rows whose jobs all read as result: S_FALSE running, S_OK done, a
// failure failed.
void FillRows(CMainDlg& window, HRESULT result) {
  CListImpl* list = window.Devices();
  list->DeleteAllItems();
  for (int row = 0; row < kRows; ++row) {
    ComPtr<IDeviceReport> job;
    CRefusedJob::Create(result, job.ReleaseAndGetAddressOf());
    int item = list->AddItem("1");
    list->SetItemText(item, CMainDlg::kIndexColumn, QString::number(row + 1));
    list->SetItemText(item, CMainDlg::kDeviceColumn, QString("/dev/ttyUSB%1").arg(row));
    list->SetItemData(item, job.Get());
  }
}

double MedianMs(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string registry =
      (std::filesystem::temp_directory_path() / ("vantor-timer-" + std::to_string(::getpid()))).string();
  ::setenv("VANTOR_REGISTRY_DIR", registry.c_str(), 1);  // the window saves its folder list on close
  QApplication app(argc, argv);
  double worst = 0;
  {
    CMainDlg window;
    window.show();
    QApplication::processEvents();
    const struct {
      const char* name;
      HRESULT result;
    } states[] = {{"running", S_FALSE}, {"done", S_OK}, {"failed", E_FAIL}};
    for (const auto& state : states) {
      FillRows(window, state.result);
      double first = PassMs(window);
      std::vector<double> ms;
      for (int pass = 0; pass < kPasses; ++pass) ms.push_back(PassMs(window));
      double median = MedianMs(ms);
      std::printf("%s: first pass %.2f ms, median of %d passes %.2f ms, slowest %.2f ms\n", state.name, first, kPasses,
                  median, *std::max_element(ms.begin(), ms.end()));
      worst = std::max(worst, median);
    }
  }
  std::filesystem::remove_all(registry);
  std::printf("timer-64 ms=%.2f\n", worst);
  return 0;
}
