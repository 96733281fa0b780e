// What the main window guards a bench against: a running row is never
// restarted, a row's colours follow its present job, a backup says when the
// phone is not a running phone, a mistyped package folder starts nothing, a
// close while phones are written asks first.
#include <QMessageBox>
#include <QtTest>

#include "tests/ui/ui_support.h"
#include "tests/ui/window_bench.h"
#include "ui/main_dlg.h"
#include "ui/resource_ids.h"

namespace {

bool ShownInRed(CListImpl* list, int row) {
  QModelIndex status = list->model()->index(row, CMainDlg::kStatusColumn);
  return list->model()->data(status, Qt::ForegroundRole).isValid() ||
         list->model()->data(status, Qt::BackgroundRole).isValid();
}

// Answers every question box that opens with `answer` and keeps its text.
class QuestionAnswerer {
 public:
  QMessageBox::StandardButton answer = QMessageBox::No;
  QStringList questions;

  QuestionAnswerer() {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible() || box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      questions << box->text();
      box->button(answer)->click();
    });
    poll_.start(10);
  }

 private:
  QTimer poll_;
};

}  // namespace

class MainDlgGuardTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { registry_ = std::make_unique<TestRegistry>(); }
  void cleanup() { registry_.reset(); }

  // Quick clicks reach the buttons before the event loop idles: only the
  // first starts anything, and every job runs to its own end.
  void quickClicksNeverRestartARunningRow() {
    Bench bench;
    std::string disk = bench.DiskPhone(1);
    bench::WritePhoneState(bench.dir / "bench", {6, "fastboot", "", "", "VB0006", "127.0.0.1:1"});
    WriteFile(bench.package + "/flash_all.sh", "sleep 1\n");
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    RunIdle();
    CListImpl* list = w.Devices();
    QCOMPARE(list->GetItemCount(), 2);
    QVERIFY(w.FlashButton()->isEnabled());

    QTest::mouseClick(w.FlashButton(), Qt::LeftButton);
    IDeviceReport* started[] = {list->GetItemData(0), list->GetItemData(1)};
    QVERIFY(started[0] && started[1]);
    QVERIFY(!w.FlashButton()->isEnabled());
    QVERIFY(!w.BackupButton()->isEnabled());
    QTest::mouseClick(w.FlashButton(), Qt::LeftButton);
    QTest::mouseClick(w.FlashButton(), Qt::LeftButton);
    QTest::mouseClick(w.BackupButton(), Qt::LeftButton);
    QCOMPARE(list->GetItemData(0), started[0]);
    QCOMPARE(list->GetItemData(1), started[1]);
    // A press that reaches the window anyway while a job runs only beeps.
    QVERIFY(!started[1]->IsCompleted());
    w.OnBackup();
    QCOMPARE(list->GetItemData(1), started[1]);

    QVERIFY(RunOver(w));
    QCOMPARE(list->GetItemData(0), started[0]);
    QCOMPARE(list->GetItemData(1), started[1]);
    QCOMPARE(started[0]->GetResult(), S_OK);
    QCOMPARE(started[1]->GetResult(), S_OK);
    QCOMPARE(ReadFile(disk).substr(16 * 512, 4096), std::string(4096, 'B'));
  }

  // A row that failed and then succeeds reads its success in the list's own
  // colours, from the press on.
  void aRowsColoursFollowItsPresentJob() {
    Bench bench;
    bench.DiskPhone(1);
    std::filesystem::remove(bench.package + "/images/boot.img");
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    CListImpl* list = w.Devices();
    w.OnFlash();
    QVERIFY(RunOver(w));
    QVERIFY(list->GetItemData(0)->HasError());
    QVERIFY(ShownInRed(list, 0));

    WriteFile(bench.package + "/images/boot.img", std::string(4096, 'B'));
    w.OnFlash();
    QVERIFY(!ShownInRed(list, 0));
    QVERIFY(RunOver(w));
    QCOMPARE(list->GetItemData(0)->GetResult(), S_OK);
    QCOMPARE(list->GetItemText(0, CMainDlg::kStatusColumn), QString("The operation completed successfully."));
    QVERIFY(!ShownInRed(list, 0));
  }

  // 备份系统 on a phone attached as a USB disk: its row says the phone is no
  // running phone, in red, and the disk is not touched.
  void aBackupOfAPhoneThatIsNotRunningSaysSo() {
    Bench bench;
    std::string disk = bench.DiskPhone(1);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    w.OnBackup();
    QVERIFY(RunOver(w));
    CListImpl* list = w.Devices();
    QCOMPARE(list->GetItemData(0)->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    QCOMPARE(list->GetItemText(0, CMainDlg::kStatusColumn),
             QString("The request is not supported.(0x80070032: the phone is not a running phone in diagnostic mode)"));
    QVERIFY(ShownInRed(list, 0));
    QCOMPARE(ReadFile(disk), std::string(1 << 20, '\0'));
  }

  // A mistyped folder would be widened to its parent, which holds the
  // package here: nothing starts, and the message pane names the folder.
  void aPackageFolderThatDoesNotExistStartsNoJob() {
    Bench bench;
    std::string disk = bench.DiskPhone(1);
    std::string mistyped = bench.package + "/imagse";
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package + ";" + mistyped));
    w.OnRefresh();
    RunIdle();
    CListImpl* list = w.Devices();
    QString error = Text(res::IDS_ERROR) + "The path was not found.(0x80070003): " + QString::fromStdString(mistyped);
    w.OnFlash();
    QVERIFY(!w.TimerActive());
    QVERIFY(!list->GetItemData(0));
    QCOMPARE(Prompt(w), error);
    RunIdle();
    QCOMPARE(Prompt(w), error);
    QVERIFY(w.FlashButton()->isEnabled());
    // A ";" in a folder's name splits it: the part that is not there.
    std::filesystem::create_directories(bench.dir / "pkg;2");
    w.Folders()->SetText(QString::fromStdString(bench.dir / "pkg;2"));
    w.OnBackup();
    QVERIFY(!list->GetItemData(0));
    QCOMPARE(Prompt(w), Text(res::IDS_ERROR) + "The path was not found.(0x80070003): " +
                            QString::fromStdString(bench.dir / "pkg"));
    QCOMPARE(ReadFile(disk), std::string(1 << 20, '\0'));

    // Corrected, the run starts and the error goes.
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnFlash();
    QVERIFY(w.TimerActive());
    w.OnIdle();  // not the event loop: there the run's timer may end the run first
    QCOMPARE(Prompt(w), Text(res::IDS_BUSY));
    QVERIFY(RunOver(w));
    QCOMPARE(list->GetItemData(0)->GetResult(), S_OK);
  }

  // Two phones are being written: the close box asks, "no" keeps the
  // window and its jobs, "yes" closes; a close the system asks for does
  // not ask.
  void closingWhilePhonesAreWrittenAsksFirst() {
    Bench bench;
    bench::WritePhoneState(bench.dir / "bench", {5, "fastboot", "", "", "VB0005", "127.0.0.1:1"});
    bench::WritePhoneState(bench.dir / "bench", {6, "fastboot", "", "", "VB0006", "127.0.0.1:2"});
    WriteFile(bench.package + "/flash_all.sh", "sleep 3063\n");
    auto scripts = [] { return std::system("pgrep -f '^sleep 3063$' >/dev/null") == 0; };
    QuestionAnswerer answerer;
    for (bool system : {false, true}) {
      auto w = std::make_unique<CMainDlg>();
      int closed = 0;
      connect(w.get(), &CMainDlg::Closed, [&] { ++closed; });
      w->show();
      QVERIFY(QTest::qWaitForWindowExposed(w.get()));
      w->Folders()->SetText(QString::fromStdString(bench.package));
      w->OnRefresh();
      QCOMPARE(w->Devices()->GetItemCount(), 2);
      w->OnFlash();
      IDeviceReport* job = w->Devices()->GetItemData(0);
      QVERIFY(WaitFor(scripts));
      answerer.questions.clear();
      if (system) {
        w->CloseForSystem();
        QCOMPARE(answerer.questions.size(), 0);
      } else {
        answerer.answer = QMessageBox::No;
        QVERIFY(!w->close());
        QCOMPARE(answerer.questions.size(), 1);
        QVERIFY2(answerer.questions[0].contains("2 部"), qPrintable(answerer.questions[0]));
        QVERIFY(w->isVisible());
        QCOMPARE(closed, 0);
        QCOMPARE(w->Devices()->GetItemData(0), job);
        QVERIFY(!job->IsCompleted());
        answerer.answer = QMessageBox::Yes;
        QVERIFY(w->close());
        QCOMPARE(answerer.questions.size(), 2);
      }
      QVERIFY(!w->isVisible());
      QCOMPARE(closed, 1);
      w.reset();
      QVERIFY(WaitFor([&] { return !scripts(); }, 5000));
    }
    // With nothing running the window closes without a question.
    CMainDlg idle;
    idle.show();
    QVERIFY(QTest::qWaitForWindowExposed(&idle));
    answerer.questions.clear();
    QVERIFY(idle.close());
    QCOMPARE(answerer.questions.size(), 0);
  }

 private:
  std::unique_ptr<TestRegistry> registry_;
};

QTEST_MAIN(MainDlgGuardTest)
#include "main_dlg_guard_test.moc"
