// The main window on a virtual bench: refresh, the prompts and buttons of each
// state, runs of jobs, the job settings, drops and resizing.
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "download/server_objects.h"
#include "nv/nv_service.h"
#include "platform/com/class_registry.h"
#include "platform/timing.h"
#include "tests/support/bench_package.h"
#include "tests/firehose/wire_vectors.h"
#include "tests/support/bench_phone.h"
#include "tests/ui/ui_support.h"
#include "tests/ui/window_bench.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/sahara_phone.h"
#include "ui/advanced_dlg.h"
#include "ui/main_dlg.h"
#include "ui/resource_ids.h"

namespace {

// Notes when each tick of the window's timer came, in milliseconds from the
// window's construction.
class TickNotingMainDlg : public CMainDlg {
 public:
  TickNotingMainDlg() { clock_.start(); }
  std::vector<qint64> ticks;

 protected:
  void timerEvent(QTimerEvent* event) override {
    if (TimerActive()) ticks.push_back(clock_.elapsed());
    CMainDlg::timerEvent(event);
  }

 private:
  QElapsedTimer clock_;
};

// The folder browser answers from a script.
class ScriptedMainDlg : public CMainDlg {
 public:
  QString folder;
  QString askedTitle, askedStart;
  int advancedRuns = 0;

 protected:
  QString ChooseFolder(const QString& title, const QString& start) override {
    askedTitle = title;
    askedStart = start;
    return folder;
  }
  void RunAdvancedDialog() override { ++advancedRuns; }
};

// "NoQPST": the program's own server objects answer while it lives.
struct OwnServer {
  OwnServer() { CoResumeClassObjects(); }
  ~OwnServer() { RevokeServerObjects(&cookies); }
  std::vector<DWORD> cookies;
  HRESULT registered = RegisterServerObjects(&cookies);
};

// Sets boxes of the advanced dialog (by their number) and presses OK.
void ChooseAdvanced(CMainDlg* w, std::initializer_list<std::pair<int, const char*>> boxes) {
  CAdvancedDlg dialog(&w->Settings(), w);
  for (const auto& [box, text] : boxes) dialog.Combo(box)->SetText(text);
  dialog.accept();
}

}  // namespace

class MainDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { registry_ = std::make_unique<TestRegistry>(); }
  void cleanup() { registry_.reset(); }

  void opensWithItsCaptionColumnsAndPanes() {
    CMainDlg w;
    QCOMPARE(w.windowTitle(), QString("Vantor 6.0.0.1"));
    CListImpl* list = w.Devices();
    QCOMPARE(list->model()->columnCount(), 6);
    const int widths[] = {21, 50, 70, 150, 50, 250};
    for (int c = 0; c < 6; ++c) QCOMPARE(list->columnWidth(c), widths[c]);
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), Text(130));
    QCOMPARE(list->model()->headerData(5, Qt::Horizontal).toString(), Text(134));
    QCOMPARE(w.StatusBar()->Progress()->width(), 250);
    QCOMPARE(w.BrowseButton()->Popup()->actions()[1]->text(), QString("高级设置"));
    QCOMPARE(w.Folders()->Text(), QString());
  }

  void theStateTableOfPromptsAndButtons() {
    Bench bench;
    CMainDlg w;
    RunIdle();
    QCOMPARE(Prompt(w), Text(152));  // no rows
    QVERIFY(!w.FlashButton()->isEnabled());
    QVERIFY(!w.BackupButton()->isEnabled());

    bench.DiskPhone(3);
    bench.DiskPhone(1);
    w.OnRefresh();
    RunIdle();
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    QCOMPARE(w.Devices()->GetItemText(0, 0), QString("1"));
    QCOMPARE(w.Devices()->GetItemText(0, 1), QString("1"));
    QCOMPARE(w.Devices()->GetItemText(1, 1), QString("3"));
    QCOMPARE(w.Devices()->GetItemText(1, 2).toStdString(), bench.dir / "disk-3.img");
    QCOMPARE(Prompt(w), Text(154));
    QVERIFY(w.FlashButton()->isEnabled());
    QVERIFY(w.BackupButton()->isEnabled());

    w.Devices()->SetItemText(0, 0, "0");
    w.Devices()->SetItemText(1, 0, "0");
    RunIdle();
    QCOMPARE(Prompt(w), Text(153));
    QVERIFY(!w.FlashButton()->isEnabled());
  }

  void aRunShowsProgressAndEndsWithRefreshEnabled() {
    Bench bench;
    std::string disk = bench.DiskPhone(1);
    bench.RunningPhone(2);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    w.OnFlash();
    QVERIFY(w.TimerActive());
    QVERIFY(!w.RefreshButton()->isEnabled());
    // The idle handler during the run, before any tick could end it (the
    // jobs may well have ended already on a fast machine).
    w.OnIdle();
    QCOMPARE(Prompt(w), Text(151));
    QVERIFY(!w.FlashButton()->isEnabled());
    QVERIFY(RunOver(w));
    RunIdle();
    // The run's verdict stays in the prompt's place until the next refresh.
    QCOMPARE(Prompt(w), QString("完成: 1 台设备成功, 1 台失败"));
    RunIdle();
    QCOMPARE(Prompt(w), QString("完成: 1 台设备成功, 1 台失败"));

    CListImpl* list = w.Devices();
    QCOMPARE(list->GetItemText(0, CMainDlg::kProgressColumn), QString("100"));
    QVERIFY(list->GetItemText(0, CMainDlg::kTimeColumn).endsWith("s"));
    QVERIFY(!list->GetItemData(0)->HasError());
    QVERIFY(!list->model()->data(list->model()->index(0, 5), Qt::ForegroundRole).isValid());
    // The running phone's job fails: its status in red on white.
    QVERIFY(list->GetItemData(1)->HasError());
    QCOMPARE(list->model()->data(list->model()->index(1, 5), Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    QVERIFY(list->GetItemText(1, 5).contains("(0x"));
    // The mean of the rows' percents, and whole seconds in the time pane.
    int mean = (list->GetItemData(0)->GetPercent() + list->GetItemData(1)->GetPercent()) / 2;
    QCOMPARE(w.StatusBar()->Progress()->value(), mean);
    QVERIFY(QRegularExpression("^ {0,3}\\d+s$").match(w.StatusBar()->GetPaneText(CMPSBarWithProgress::kTimePane)).hasMatch());
    QCOMPARE(ReadFile(disk).substr(16 * 512, 4096), std::string(4096, 'B'));

    // Pressing Flash again restarts every ticked row, finished or not.
    IDeviceReport* first = list->GetItemData(0);
    list->SetItemText(1, 0, "0");
    w.OnFlash();
    QVERIFY(list->GetItemData(0) != first);
    QVERIFY(RunOver(w));
    QCOMPARE(list->GetItemText(1, 5).contains("(0x"), true);  // left as it was
  }

  void fourPhonesOfEveryModeRunThroughTheWindow() {
    if (std::system("fastboot --version >/dev/null 2>&1") != 0) QSKIP("Debian's fastboot is not installed");
    Bench bench;
    std::string benchDir = bench.dir / "bench";
    std::filesystem::create_directories(bench.dir / "four");
    BenchPackage package(bench.dir / "four");
    WriteFile(package.Path("boot.img"), std::string(4096, 'F'));
    WriteFile(package.Path("flash_all.sh"), "fastboot \"$1\" \"$2\" flash boot boot.img\n");
    OwnServer server;
    QCOMPARE(server.registered, S_OK);
    phonesim::PtyEmergencyPhone emergency(BenchPhoneAt(benchDir, 1));
    std::string disk = bench.DiskPhone(2);
    phonesim::FastbootPhoneOptions fastbootOptions;
    fastbootOptions.benchDir = benchDir;
    fastbootOptions.index = 3;
    phonesim::TcpFastbootPhone fastboot(fastbootOptions);
    phonesim::DiagnosticPhone running(benchDir, 4, "VB0004");
    std::string error;
    QVERIFY2(emergency.Start(&error), error.c_str());
    QVERIFY2(fastboot.Start(&error), error.c_str());
    QVERIFY2(running.Start(&error), error.c_str());
    // The running phone's own items, to be restored into it.
    QCOMPARE(BackupNvItems(running.portPath(), package.Path("kelva-factory.qcn"), "482615", NvBackupOptions{}, nullptr),
             S_OK);
    // The run's protocol waits shortened; the backup above is only the
    // test's set-up and keeps its own, which a loaded machine needs.
    ScopedTimeScale fast(0.01);
    {
      CMainDlg w;
      w.Folders()->SetText(QString::fromStdString(package.dir));
      w.OnRefresh();
      CListImpl* list = w.Devices();
      QCOMPARE(list->GetItemCount(), 4);
      w.OnFlash();
      QVERIFY(RunOver(w));
      for (int row = 0; row < 4; ++row) {
        QCOMPARE(list->GetItemText(row, CMainDlg::kIndexColumn), QString::number(row + 1));
        QCOMPARE(list->GetItemText(row, CMainDlg::kStatusColumn), QString("The operation completed successfully."));
        QCOMPARE(list->GetItemText(row, CMainDlg::kProgressColumn), QString("100"));
        QVERIFY(list->GetItemText(row, CMainDlg::kTimeColumn).endsWith("s"));
        QVERIFY(!list->model()->data(list->model()->index(row, 5), Qt::ForegroundRole).isValid());
      }
      QCOMPARE(w.StatusBar()->Progress()->value(), 100);
    }
    QVERIFY(WaitFor([&] { return running.comebacks() == 1; }, 5000));  // the restore ends with a reset
    QVERIFY(package.OnDisk(emergency.diskPath()));
    QVERIFY(package.OnDisk(disk));
    QCOMPARE(fastboot.partitions()["boot"], std::vector<std::uint8_t>(4096, 'F'));
  }

  // F5 during a run (the Refresh button is disabled, F5 is not) must not
  // release the running jobs: every job runs to its end.
  void f5DuringARunOnlyBeepsAndEveryJobCompletes() {
    if (std::system("fastboot --version >/dev/null 2>&1") != 0) QSKIP("Debian's fastboot is not installed");
    Bench bench;
    std::string disk = bench.DiskPhone(1);
    // The fastboot phone's script takes a while before it flashes.
    WriteFile(bench.package + "/flash_all.sh", "sleep 1\nfastboot \"$1\" \"$2\" flash boot images/boot.img\n");
    phonesim::FastbootPhoneOptions options;
    options.benchDir = bench.dir / "bench";
    options.index = 5;
    phonesim::TcpFastbootPhone phone(options);
    std::string error;
    QVERIFY2(phone.Start(&error), error.c_str());
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    w.OnFlash();
    IDeviceReport* jobs[] = {w.Devices()->GetItemData(0), w.Devices()->GetItemData(1)};
    QVERIFY(!jobs[1]->IsCompleted());
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    QCOMPARE(w.Devices()->GetItemData(0), jobs[0]);
    QCOMPARE(w.Devices()->GetItemData(1), jobs[1]);
    QVERIFY(RunOver(w));
    QCOMPARE(w.Devices()->GetItemData(0)->GetResult(), S_OK);
    QCOMPARE(w.Devices()->GetItemData(1)->GetResult(), S_OK);
    QCOMPARE(phone.partitions()["boot"], std::vector<std::uint8_t>(4096, 'B'));
    // After the run F5 refreshes as before: the rows come back without jobs.
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    QVERIFY(!w.Devices()->GetItemData(0));
  }

  void theScriptChosenInTheAdvancedDialogRunsOnTheNextFastbootJob() {
    if (std::system("fastboot --version >/dev/null 2>&1") != 0) QSKIP("Debian's fastboot is not installed");
    Bench bench;
    WriteFile(bench.package + "/images/recovery.img", std::string(3000, 'R'));
    WriteFile(bench.package + "/flash_all.sh", "fastboot \"$1\" \"$2\" flash boot boot.img\n");
    WriteFile(bench.package + "/recovery_only.sh", "fastboot \"$1\" \"$2\" flash recovery images/recovery.img\n");
    phonesim::FastbootPhoneOptions options;
    options.benchDir = bench.dir / "bench";
    options.index = 5;
    phonesim::TcpFastbootPhone phone(options);
    std::string error;
    QVERIFY2(phone.Start(&error), error.c_str());
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    ChooseAdvanced(&w, {{1, "recovery_only.sh"}});
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 1);
    w.OnFlash();
    QVERIFY(RunOver(w));
    QCOMPARE(w.Devices()->GetItemData(0)->GetResult(), S_OK);
    auto partitions = phone.partitions();
    QCOMPARE(partitions.count("boot"), size_t(0));
    QCOMPARE(partitions["recovery"], std::vector<std::uint8_t>(3000, 'R'));
  }

  // The Firehose programmer and storage type chosen in the advanced dialog
  // reach the next emergency job: a programmer the default glob would not
  // find, and UFS for a device of 512-byte sectors, which the package's own
  // sector size would have configured as eMMC (and the phone refused).
  void theFirehoseBoxesOfTheAdvancedDialogReachTheNextJob() {
    Bench bench;
    vectors::Bytes programmer = vectors::SyntheticProgrammer();
    WriteFile(bench.package + "/loader_sm8550.elf", std::string(programmer.begin(), programmer.end()));
    OwnServer server;
    QCOMPARE(server.registered, S_OK);
    phonesim::SaharaPhoneOptions options;
    options.benchDir = bench.dir / "bench";
    options.index = 1;
    options.lunBytes = 1 << 20;
    options.firehose.ufs = true;
    options.firehose.sectorSize = 512;
    phonesim::PtySaharaPhone phone(options);
    std::string error;
    QVERIFY2(phone.Start(&error), error.c_str());
    ScopedTimeScale fast(0.1);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    ChooseAdvanced(&w, {{6, "loader_*.elf"}, {7, "ufs"}});
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 1);
    w.OnFlash();
    QVERIFY(RunOver(w));
    QCOMPARE(w.Devices()->GetItemText(0, CMainDlg::kStatusColumn), QString("The operation completed successfully."));
    QCOMPARE(phone.resets(), 1);  // one programmer ran, to its power reset
    QCOMPARE(ReadFile(phone.LunPath(0)).substr(16 * 512, 4096), std::string(4096, 'B'));
  }

  void aFolderListTooLongForTheRecordFailsItsRowsInRed() {
    Bench bench;
    bench.DiskPhone(1);
    std::string deep = bench.package;
    while (deep.size() < 300) deep += "/a-deep-folder-of-the-package";
    std::filesystem::create_directories(deep);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(deep));
    w.OnRefresh();
    w.OnFlash();
    QVERIFY(RunOver(w));
    QCOMPARE(w.Devices()->GetItemData(0)->GetResult(), HRESULT(0x800700CE));
    QVERIFY(w.Devices()->GetItemText(0, 5).contains("(0x800700ce)"));
    QCOMPARE(w.FolderList(), deep);
  }

  void aRefreshErrorStaysUntilARefreshSucceeds() {
    Bench bench;
    CMainDlg w;
    {
      ScopedEnv broken("VANTOR_BENCH_DIR", (bench.dir / "no-such-bench").c_str());
      w.OnRefresh();
    }
    QString error = Prompt(w);
    QVERIFY(error.startsWith(Text(150)));
    QVERIFY(QRegularExpression("\\(0x[0-9a-f]{8}\\)$").match(error).hasMatch());
    RunIdle();
    RunIdle();
    QCOMPARE(Prompt(w), error);
    w.OnRefresh();
    QCOMPARE(Prompt(w), QString());
    RunIdle();
    QCOMPARE(Prompt(w), Text(152));
  }

  void dropsAppendAfterAFileAndReplaceAfterAFolder() {
    TempDir dir;
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "two");
    WriteFile(dir / "file.txt", "x");
    CMainDlg w;
    w.Folders()->SetText("/existing");
    w.OnDropFiles({QString::fromStdString(dir / "file.txt"), QString::fromStdString(dir / "one")});
    QCOMPARE(w.Folders()->Text().toStdString(), "/existing;" + dir / "one");
    w.OnDropFiles({QString::fromStdString(dir / "two"), QString::fromStdString(dir / "one")});
    QCOMPARE(w.Folders()->Text().toStdString(), dir / "two;" + dir / "one");
    w.OnDropFiles({QString::fromStdString(dir / "file.txt")});
    QCOMPARE(w.Folders()->Text().toStdString(), dir / "two;" + dir / "one");
  }

  void realDropsOnTheListOrOnTheFolderFieldReachTheWindow() {
    TempDir dir;
    std::filesystem::create_directories(dir / "one");
    std::filesystem::create_directories(dir / "two");
    WriteFile(dir / "file.txt", "x");
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Folders()->SetText("/existing");
    QPoint onList = w.Devices()->mapTo(&w, w.Devices()->rect().center());
    QVERIFY(DropOnto(&w, onList, {QString::fromStdString(dir / "file.txt"), QString::fromStdString(dir / "one")}));
    QCOMPARE(w.Folders()->Text().toStdString(), "/existing;" + dir / "one");
    // Onto the folder field: the same folder list, not the links as text.
    QLineEdit* field = w.Folders()->lineEdit();
    QPoint onField = field->mapTo(&w, field->rect().center());
    QVERIFY(DropOnto(&w, onField, {QString::fromStdString(dir / "two")}));
    QCOMPARE(w.Folders()->Text(), QString::fromStdString(dir / "two"));
    DropOnto(&w, onList, {QString::fromStdString(dir / "file.txt")});
    QCOMPARE(w.Folders()->Text().toStdString(), dir / "two");
  }

  void browseReplacesTheListAndStartsAtItsFirstFolder() {
    ScriptedMainDlg w;
    w.Folders()->SetText(" ;/first;/second");
    w.folder = "/chosen";
    w.BrowseButton()->click();
    QCOMPARE(w.askedTitle, Text(160));
    QCOMPARE(w.askedStart, QString("/first"));
    QCOMPARE(w.Folders()->Text(), QString("/chosen"));
    w.folder = "";
    w.OnBrowse();
    QCOMPARE(w.Folders()->Text(), QString("/chosen"));
    // The split button's menu: its own command first, then the options.
    w.BrowseButton()->Popup()->actions()[1]->trigger();
    QCOMPARE(w.advancedRuns, 1);
  }

  void theFolderBrowserOffersNoNewFolderButton() {
    TempDir dir;
    std::filesystem::create_directories(dir / "first");
    std::filesystem::create_directories(dir / "chosen");
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Folders()->SetText(QString::fromStdString(dir / "first;/second"));
    bool seen = false, newFolderOffered = true;
    QString title, start;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      poll.stop();
      seen = true;
      auto* button = dialog->findChild<QWidget*>("newFolderButton");
      auto* action = dialog->findChild<QAction*>("qt_new_folder_action");
      newFolderOffered = (button && button->isVisible() && button->isEnabled()) ||
                         (action && action->isVisible() && action->isEnabled());
      title = dialog->windowTitle();
      start = dialog->directory().absolutePath();
      dialog->selectFile(QString::fromStdString(dir / "chosen"));
      static_cast<QDialog*>(dialog)->accept();
    });
    poll.start(10);
    w.OnBrowse();
    QVERIFY(seen);
    QVERIFY(!newFolderOffered);
    QCOMPARE(title, Text(160));
    QCOMPARE(start.toStdString(), dir / "first");
    QCOMPARE(w.Folders()->Text().toStdString(), dir / "chosen");
  }

  void theTimerTicksEvery100Milliseconds() {
    Bench bench;
    bench::WritePhoneState(bench.dir / "bench", {6, "fastboot", "", "", "VB0006", "127.0.0.1:1"});
    WriteFile(bench.package + "/flash_all.sh", "sleep 1\n");
    TickNotingMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 1);
    w.OnFlash();
    QVERIFY(RunOver(w));
    QVERIFY2(w.ticks.size() >= 6, std::to_string(w.ticks.size()).c_str());
    std::vector<qint64> gaps;
    for (size_t k = 1; k < w.ticks.size(); ++k) gaps.push_back(w.ticks[k] - w.ticks[k - 1]);
    std::sort(gaps.begin(), gaps.end());
    qint64 median = gaps[gaps.size() / 2];
    QVERIFY2(median >= 90 && median <= 200, std::to_string(median).c_str());
  }

  void enterStartsNothing() {
    Bench bench;
    bench.DiskPhone(1);
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    RunIdle();
    QVERIFY(w.FlashButton()->isEnabled());
    w.Devices()->SetItemText(0, CMainDlg::kStatusColumn, "kept");  // a refresh would empty it
    for (QWidget* focus : std::initializer_list<QWidget*>{w.Folders()->lineEdit(), w.RefreshButton(), w.FlashButton(),
                                                          w.BackupButton(), w.Devices()}) {
      focus->setFocus();
      QTest::keyClick(focus, Qt::Key_Return);
      QTest::keyClick(focus, Qt::Key_Enter);
      RunIdle();
      QVERIFY2(!w.TimerActive(), qPrintable(focus->objectName()));
      QVERIFY(!w.Devices()->GetItemData(0));
      QCOMPARE(w.Devices()->GetItemText(0, CMainDlg::kStatusColumn), QString("kept"));
    }
    QCOMPARE(w.Folders()->count(), 0);  // nor does the field take its text into the list
  }

  void theStatusColumnTakesTheRestFromExactly50Pixels() {
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    CListImpl* list = w.Devices();
    // Widens the device column so that the next pixel of window width leaves
    // `rest` pixels to the status column; the status column's width then.
    auto widenByOneLeaving = [&](int rest) {
      int width = list->viewport()->width() + 1;
      int others = 0;
      for (int c = 0; c < 5; ++c)
        if (c != 2) others += list->columnWidth(c);
      list->setColumnWidth(2, width - rest - others);
      w.resize(w.width() + 1, w.height());
      [&] { QVERIFY(WaitFor([&] { return list->viewport()->width() == width; })); }();
      return list->columnWidth(5);
    };
    int status = list->columnWidth(5);
    QVERIFY(status > 50);
    QCOMPARE(widenByOneLeaving(49), status);
    QCOMPARE(widenByOneLeaving(50), 50);
    QCOMPARE(widenByOneLeaving(49), 50);
    QCOMPARE(widenByOneLeaving(77), 77);
  }

  void theStatusColumnTakesTheRestWhenItIsAtLeast50() {
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    CListImpl* list = w.Devices();
    auto othersWidth = [&] {
      int sum = 0;
      for (int c = 0; c < 5; ++c) sum += list->columnWidth(c);
      return sum;
    };
    QVERIFY(WaitFor([&] { return list->columnWidth(5) == list->viewport()->width() - othersWidth(); }));
    w.resize(w.width() + 200, w.height());
    QVERIFY(WaitFor([&] { return list->columnWidth(5) == list->viewport()->width() - othersWidth(); }));
    int status = list->columnWidth(5);
    // Wider fixed columns than the list: the status column keeps its width.
    list->setColumnWidth(2, list->viewport()->width());
    w.resize(w.width() + 10, w.height());
    QVERIFY(WaitFor([&] { return list->viewport()->width() > 0; }));
    RunIdle();
    QCOMPARE(list->columnWidth(5), status);
  }

  void closingSavesTheFolderListAndF1ShowsTheReadMe() {
    {
      CMainDlg w;
      w.show();
      QVERIFY(QTest::qWaitForWindowActive(&w));
      QTest::keyClick(&w, Qt::Key_F1);
      QVERIFY(WaitFor([&] { return w.ReadMe() && w.ReadMe()->isVisible(); }));
      auto* text = w.ReadMe()->findChild<QPlainTextEdit*>();
      QVERIFY(text && text->toPlainText().contains("flash_all.sh"));
      w.Folders()->SetText("/bench/package");
      QVERIFY(w.close());
      // Saved at the close itself, before the window object goes.
      QCOMPARE(ReadSetting(kSearchPathSetting), std::string("/bench/package"));
    }
    CMainDlg again;
    QCOMPARE(again.Folders()->Text(), QString("/bench/package"));
    QCOMPARE(again.Folders()->count(), 1);
  }

  void whatAClosedWindowSavedSurvivesAKillOfTheProcess() {
#ifdef __SANITIZE_THREAD__
    QSKIP("ThreadSanitizer does not run a forked child of a threaded process");
#endif
    pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
      CMainDlg w;
      w.Folders()->SetText("/saved/before/the/kill");
      w.close();
      ::raise(SIGKILL);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QCOMPARE(ReadSetting(kSearchPathSetting), std::string("/saved/before/the/kill"));
  }

  // A job still running when the system closes the window (a script that
  // sleeps) is released, not waited for, and its script's tree ends with it.
  void f5RefreshesAndClosingDuringARunDoesNotWait() {
    Bench bench;
    bench::WritePhoneState(bench.dir / "bench", {4, "fastboot", "", "", "VB0004", "127.0.0.1:5999"});
    WriteFile(bench.package + "/flash_all.sh", "sleep 3071\n");
    auto running = [] { return std::system("pgrep -f '^sleep 3071$' >/dev/null") == 0; };
    auto w = std::make_unique<CMainDlg>();
    w->Folders()->SetText(QString::fromStdString(bench.package));
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F5);
    QCOMPARE(w->Devices()->GetItemCount(), 1);
    w->OnFlash();
    QVERIFY(WaitFor(running));
    QVERIFY(!w->Devices()->GetItemData(0)->IsCompleted());
    QElapsedTimer timer;
    timer.start();
    w->CloseForSystem();
    QVERIFY(!w->isVisible());
    w.reset();  // releases the row's job
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(WaitFor([&] { return !running(); }, 3000));
  }

 private:
  std::unique_ptr<TestRegistry> registry_;
};

QTEST_MAIN(MainDlgTest)
#include "main_dlg_test.moc"
