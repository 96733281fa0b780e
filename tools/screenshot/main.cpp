// vantor-screenshot: opens the main window at its default size on whatever
// bench the device helper sees, presses Refresh and Flash, and saves pictures
// of the window mid-run and at the end (with the run's verdict), of the story
// of the first failed row, and of the advanced dialog. Texts are in the
// user's language, as the program shows them.
//
//   vantor-screenshot OUTDIR PACKAGE
#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <functional>

#include "download/server_objects.h"
#include "platform/com/class_registry.h"
#include "ui/advanced_dlg.h"
#include "ui/main_dlg.h"
#include "ui/qt_translations.h"
#include "ui/story_dlg.h"

namespace {

bool RunUntil(const std::function<bool()>& condition, int deadlineMs) {
  QDeadlineTimer deadline(deadlineMs);
  while (!condition() && !deadline.hasExpired()) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return condition();
}

bool Save(QWidget* widget, const QString& path) {
  bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "saved" : "could not save", path.toUtf8().constData());
  return saved;
}

// True when the window shows some row part way.
bool MidRun(CMainDlg& window) {
  CListImpl* list = window.Devices();
  for (int row = 0; row < list->GetItemCount(); ++row) {
    int percent = list->GetItemText(row, CMainDlg::kProgressColumn).toInt();
    IDeviceReport* job = list->GetItemData(row);
    if (job && !job->IsCompleted() && percent >= 10 && percent < 100) return true;
  }
  return false;
}

// The first row whose job failed; -1 when none did.
int FirstFailedRow(CMainDlg& window) {
  CListImpl* list = window.Devices();
  for (int row = 0; row < list->GetItemCount(); ++row)
    if (IDeviceReport* job = list->GetItemData(row); job && job->HasError()) return row;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  LoadQtTranslations(&app);
  if (argc != 3) {
    std::fprintf(stderr, "usage: vantor-screenshot OUTDIR PACKAGE\n");
    return 2;
  }
  QString out = QString::fromLocal8Bit(argv[1]);
  std::vector<DWORD> cookies;
  RegisterServerObjects(&cookies);
  CoResumeClassObjects();
  bool ok = true;
  {
    CMainDlg window;
    window.Folders()->SetText(QString::fromLocal8Bit(argv[2]));
    // At the size the window opens with: the pictures show the columns as a
    // user first sees them, texts cut where they are cut.
    window.show();
    RunUntil([&] { return window.isVisible(); }, 5000);
    window.RefreshButton()->click();
    window.FlashButton()->click();
    // A bench whose phones all finish at once has no middle to show.
    RunUntil([&] { return MidRun(window) || window.RefreshButton()->isEnabled(); }, 60000);
    ok = Save(&window, out + "/main-window-running.png") && ok;
    bool over = RunUntil([&] { return window.RefreshButton()->isEnabled(); }, 120000);
    RunUntil([] { return false; }, 300);  // one more tick and idle update
    ok = Save(&window, out + "/main-window-done.png") && ok && over;

    if (int row = FirstFailedRow(window); row >= 0) {
      CStoryDlg* story = ShowRowStory(window.Devices(), row, CMainDlg::kDeviceColumn, CMainDlg::kIndexColumn, &window);
      RunUntil([&] { return story && story->isVisible(); }, 5000);
      RunUntil([] { return false; }, 200);
      ok = story && Save(story, out + "/story-window.png") && ok;
      if (story) story->close();
    }

    CAdvancedDlg advanced(&window.Settings(), &window);
    advanced.show();
    RunUntil([&] { return advanced.isVisible(); }, 5000);
    RunUntil([] { return false; }, 200);
    ok = Save(&advanced, out + "/advanced-dialog.png") && ok;
    advanced.reject();
  }
  RevokeServerObjects(&cookies);
  return ok ? 0 : 1;
}
