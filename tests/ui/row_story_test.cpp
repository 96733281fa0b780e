// The window in the user's language, and what its rows tell: a failed row and
// the status bar under a zh_CN locale, a row's story, the run's verdict, the
// header's tick box, and Qt's own dialogs.
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>
#include <atomic>

#include "platform/error_text.h"
#include "platform/executable.h"
#include "platform/message_catalogue.h"
#include "platform/path_name.h"
#include "tests/support/log_capture.h"
#include "tests/support/user_locale.h"
#include "tests/ui/window_bench.h"
#include "ui/qt_translations.h"
#include "ui/story_dlg.h"

namespace {

// The zh_CN text of a code, read from the build's catalogue itself.
QString ChineseText(HRESULT hr) {
  CMessageCatalogue catalogue;
  catalogue.Load(ParentFolder(ExecutableFolder()) + "/share/locale/zh_CN/LC_MESSAGES/vantor.mo");
  const std::string* text = catalogue.Find(GetEnglishErrorText(hr));
  return text ? QString::fromStdString(*text) : QString();
}

// A job that reports what the test tells it to and ends when told.
class CToldJob : public CDeviceReport {
 public:
  HRESULT DoWork() override {
    while (!end) {
      std::string message;
      {
        std::lock_guard guard(lock);
        message.swap(next);
      }
      if (!message.empty()) ReportStatus("%s", message.c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return result;
  }
  void Tell(const std::string& message) {
    std::lock_guard guard(lock);
    next = message;
  }

  std::mutex lock;
  std::string next;
  std::atomic<bool> end{false};
  std::atomic<HRESULT> result{S_OK};
};

CStoryDlg* OpenStory(CMainDlg& w, int row) {
  CListImpl* list = w.Devices();
  QPoint point = list->visualRect(list->model()->index(row, CMainDlg::kDeviceColumn)).center();
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, point);
  CStoryDlg* story = nullptr;
  WaitFor([&] {
    for (CStoryDlg* d : w.findChildren<CStoryDlg*>())
      if (d->isVisible()) story = d;
    return story != nullptr;
  });
  return story;
}

}  // namespace

class RowStoryTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TestRegistry> registry_;

 private slots:
  void init() { registry_ = std::make_unique<TestRegistry>(); }
  void cleanup() { registry_.reset(); }

  void aFailedRowAndTheStatusBarReadChineseUnderAZhCnLocale() {
    ScopedUserLocale chinese("zh_CN.UTF-8");
    LogCapture log;
    Bench bench;
    bench.RunningPhone(2);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    w.OnFlash();
    QVERIFY(RunOver(w));
    IDeviceReport* job = w.Devices()->GetItemData(0);
    HRESULT hr = job->GetResult();
    QVERIFY(FAILED(hr));
    QString chineseText = ChineseText(hr);
    QVERIFY(!chineseText.isEmpty());
    QString row = w.Devices()->GetItemText(0, CMainDlg::kStatusColumn);
    QVERIFY2(row.startsWith(chineseText + QString::asprintf("(0x%08x", static_cast<unsigned>(hr))), qPrintable(row));
    // The cell's tooltip holds the whole text, however narrow the column.
    QCOMPARE(w.Devices()->model()->data(w.Devices()->model()->index(0, CMainDlg::kStatusColumn), Qt::ToolTipRole)
                 .toString(),
             row);
    // The log keeps English texts.
    QString english = QString::fromStdString(GetEnglishErrorText(hr));
    QVERIFY(log.Count(english.toStdString() + "(0x") > 0);
    QCOMPARE(log.Count(chineseText.toStdString()), 0);

    {
      ScopedEnv broken("VANTOR_BENCH_DIR", (bench.dir / "no-such-bench").c_str());
      w.OnRefresh();
    }
    QString error = Prompt(w);
    QVERIFY2(error.startsWith(Text(150)), qPrintable(error));
    QRegularExpressionMatch code = QRegularExpression("\\((0x[0-9a-f]{8})\\)$").match(error);
    QVERIFY(code.hasMatch());
    HRESULT refreshFailure = static_cast<HRESULT>(code.captured(1).toUInt(nullptr, 16));
    QCOMPARE(error, Text(150) + ChineseText(refreshFailure) + "(" + code.captured(1) + ")");
  }

  void aFailingPhonesStoryTellsItsWholeRunAndCopiesAsText() {
    Bench bench;
    // A disk too small for the package: the job opens it, then fails.
    WriteFile(bench.DiskPhone(4), std::string(4096, '\0'));
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    QVERIFY(!OpenStory(w, 0) && w.findChildren<CStoryDlg*>().isEmpty());  // no job, no story
    w.OnFlash();
    QVERIFY(RunOver(w));

    CStoryDlg* story = OpenStory(w, 0);
    QVERIFY(story);
    IDeviceReport* job = w.Devices()->GetItemData(0);
    ComPtr<IJobStory> source;
    QCOMPARE(job->QueryInterface(IJobStory::kIid, reinterpret_cast<void**>(source.ReleaseAndGetAddressOf())), S_OK);
    JobStory told;
    source->GetStory(&told);
    QString text = story->Text();
    QVERIFY2(!told.statuses.empty(), qPrintable(text));
    QVERIFY(!told.traces.empty());
    QVERIFY(text.contains(w.Devices()->GetItemText(0, CMainDlg::kDeviceColumn)));
    // Every message in order, each after its time.
    qsizetype at = 0;
    for (const StoryEntry& entry : told.statuses) {
      QString line = QString::asprintf("%8.2fs  ", entry.elapsed) + QString::fromStdString(entry.text);
      qsizetype found = text.indexOf(line, at);
      QVERIFY2(found >= at, qPrintable(line));
      at = found + line.size();
    }
    QString result = QString::asprintf("0x%08x  ", static_cast<unsigned>(told.result)) +
                     w.Devices()->GetItemText(0, CMainDlg::kStatusColumn);
    QVERIFY2(text.contains(result), qPrintable(text));
    for (const std::string& trace : told.traces) QVERIFY(text.contains(QString::fromStdString(trace)));

    story->CopyButton()->click();
    QCOMPARE(QApplication::clipboard()->text(), text);
    QPointer<CStoryDlg> closed(story);
    story->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!closed);  // a closed story is gone, with its reference to the job

    // Enter on the current row opens it too.
    w.Devices()->setFocus();
    w.Devices()->setCurrentIndex(w.Devices()->model()->index(0, CMainDlg::kStatusColumn));
    QTest::keyClick(w.Devices(), Qt::Key_Return);
    QVERIFY(WaitFor([&] { return w.findChildren<CStoryDlg*>().size() == 1; }));
  }

  void aStoryFollowsItsJobWhileItRuns() {
    ScopedUserLocale chinese("zh_CN.UTF-8");
    CMainDlg w;
    CComObject<CToldJob>* raw = nullptr;
    QCOMPARE(CComObject<CToldJob>::CreateInstance(&raw), S_OK);
    ComPtr<CComObject<CToldJob>> job(raw);
    job->result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    job->StartWork("told-1");
    int row = w.Devices()->AddItem("1");
    w.Devices()->SetItemText(row, CMainDlg::kDeviceColumn, "told-1");
    w.Devices()->SetItemData(row, job.Get());
    CStoryDlg* story = ShowRowStory(w.Devices(), row, CMainDlg::kDeviceColumn, CMainDlg::kIndexColumn, &w);
    QVERIFY(story);
    QVERIFY(story->Text().contains("正在运行..."));
    job->Tell("Send hello command 1");
    QVERIFY(WaitFor([&] { return story->Text().contains("Send hello command 1"); }));
    job->end = true;
    QString ended = "结果: 0x800705b4  " + ChineseText(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    QVERIFY(WaitFor([&] { return story->Text().contains(ended); }));
  }

  void theVerdictCountsTheRunUntilTheNextRefreshOrStart() {
    Bench bench;
    bench.DiskPhone(1);
    bench.DiskPhone(3);
    bench.RunningPhone(2);
    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(bench.package));
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 3);
    w.OnFlash();
    QVERIFY(RunOver(w));
    RunIdle();
    QCOMPARE(Prompt(w), QString("完成: 2 台设备成功, 1 台失败"));
    RunIdle();
    QCOMPARE(Prompt(w), QString("完成: 2 台设备成功, 1 台失败"));
    // A new start shows the run's prompt, and its own verdict at the end.
    w.Devices()->SetItemText(0, CMainDlg::kCheckColumn, "0");
    w.Devices()->SetItemText(2, CMainDlg::kCheckColumn, "0");
    w.OnFlash();
    w.OnIdle();  // not the event loop: there the run's timer may end the run first
    QCOMPARE(Prompt(w), Text(151));
    QVERIFY(RunOver(w));
    RunIdle();
    QCOMPARE(Prompt(w), QString("完成: 2 台设备成功, 1 台失败"));  // every row holding a job counts
    w.OnRefresh();
    RunIdle();
    QCOMPARE(Prompt(w), Text(154));
  }

  void theHeaderTickBoxTicksEveryRowOrUnticksThemAll() {
    Bench bench;
    bench.DiskPhone(1);
    bench.DiskPhone(2);
    bench.DiskPhone(3);
    CMainDlg w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.OnRefresh();
    CListImpl* list = w.Devices();
    QHeaderView* header = list->horizontalHeader();
    QPoint box(header->sectionViewportPosition(CMainDlg::kCheckColumn) + header->sectionSize(0) / 2,
               header->height() / 2);
    auto ticks = [&] {
      QString cells;
      for (int row = 0; row < list->GetItemCount(); ++row) cells += list->GetItemText(row, CMainDlg::kCheckColumn);
      return cells;
    };
    QCOMPARE(ticks(), QString("111"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(ticks(), QString("000"));  // all were ticked: all unticked
    list->SetItemText(1, CMainDlg::kCheckColumn, "1");
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(ticks(), QString("111"));  // some were not: all ticked
    RunIdle();
    QCOMPARE(Prompt(w), Text(154));
    // The other headers tick nothing.
    list->SetItemText(0, CMainDlg::kCheckColumn, "0");
    QPoint status(header->sectionViewportPosition(CMainDlg::kStatusColumn) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, status);
    QCOMPARE(ticks(), QString("011"));
  }

  void qtsOwnDialogsReadChineseUnderAZhCnLocale() {
    {
      ScopedUserLocale untranslated("C");
      QVERIFY(!LoadQtTranslations(qApp));
    }
    ScopedUserLocale chinese("zh_CN.UTF-8");
    QVERIFY(LoadQtTranslations(qApp));
    QFileDialog dialog(nullptr, "", "", "");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QString("取消"));
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList actions;
    for (QAction* action : menu->actions()) actions << action->text();
    QVERIFY2(actions.join("|").contains("复制"), qPrintable(actions.join("|")));
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(translator);
      delete translator;
    }
  }
};

QTEST_MAIN(RowStoryTest)
#include "row_story_test.moc"
