// The main window's timer hands each job's record to the store, and a records
// server it cannot use shows as the message pane's error text.
#include <QtTest>
#include <filesystem>

#include "records/local_records.h"
#include "records/recorder.h"
#include "tests/ui/ui_support.h"
#include "tools/bench_state/bench_state.h"
#include "ui/main_dlg.h"
#include "ui/resource_ids.h"

class MainDlgRecordsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Before the process's recorder first reads its configuration.
    ::setenv("VANTOR_RECORDS_DB", (dir_ / "records.db").c_str(), 1);
    ::setenv("VANTOR_RECORDS_URL", "this is no connection string", 1);
  }

  void eachRowOfARunIsRecordedAndAServerFaultShowsInTheMessagePane() {
    TestRegistry registry;
    ScopedEnv benchDir("VANTOR_BENCH_DIR", (dir_ / "bench").c_str());
    ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
    std::filesystem::create_directories(dir_ / "bench");
    std::filesystem::create_directories(dir_ / "package");
    WriteFile(dir_ / "package/boot.img", std::string(4096, 'B'));
    WriteFile(dir_ / "package/rawprogram0.xml",
              "<data><program file_sector_offset=\"0\" filename=\"boot.img\" num_partition_sectors=\"8\" "
              "start_sector=\"16\"/></data>");
    WriteFile(dir_ / "package/patch0.xml", "<patches/>");
    WriteFile(dir_ / "disk.img", std::string(1 << 20, '\0'));
    bench::WritePhoneState(dir_ / "bench", {3, "disk", "", dir_ / "disk.img", "", ""});
    bench::WritePhoneState(dir_ / "bench", {5, "diagnostic", "/dev/null", "", "VB5", ""});

    CMainDlg w;
    w.Folders()->SetText(QString::fromStdString(dir_ / "package"));
    w.OnRefresh();
    QCOMPARE(w.Devices()->GetItemCount(), 2);
    w.OnFlash();
    QVERIFY(WaitFor([&] { return w.RefreshButton()->isEnabled(); }, 30000));
    QVERIFY(ProcessRecorder().Flush(std::chrono::seconds(10)));
    QVERIFY(WaitFor([&] {
      return w.StatusBar()->GetPaneText(CMPSBarWithProgress::kMessagePane).endsWith("(0x80070057)");
    }));
    QVERIFY(w.StatusBar()->GetPaneText(CMPSBarWithProgress::kMessagePane).startsWith(Text(res::IDS_ERROR)));
    // The records are kept in the local file: the pane does not say they were lost.
    QVERIFY(!w.StatusBar()->GetPaneText(CMPSBarWithProgress::kMessagePane).contains(Text(res::IDS_RECORDS_NOT_KEPT)));

    CLocalRecords store;
    QCOMPARE(store.Open(dir_ / "records.db"), S_OK);
    std::vector<FlashRecord> records;
    QCOMPARE(store.Query({}, &records), S_OK);
    QCOMPARE(records.size(), size_t(2));
    std::sort(records.begin(), records.end(),
              [](const FlashRecord& a, const FlashRecord& b) { return a.locationIndex < b.locationIndex; });
    QCOMPARE(records[0].locationIndex, 3u);
    QCOMPARE(records[0].outcome, std::string(kOutcomeSucceeded));
    QCOMPARE(records[0].lastStatus, w.Devices()->GetItemText(0, CMainDlg::kStatusColumn).toStdString());
    QCOMPARE(records[1].locationIndex, 5u);
    QCOMPARE(records[1].outcome, std::string(kOutcomeFailed));
    // The server never took them: they wait in the file.
    std::vector<WaitingRecord> waiting;
    QCOMPARE(store.Waiting(10, &waiting), S_OK);
    QCOMPARE(waiting.size(), size_t(2));
  }

 private:
  static QString Text(int id) { return QString::fromUtf8(res::LoadString(id)); }
  TempDir dir_;
};

QTEST_MAIN(MainDlgRecordsTest)
#include "main_dlg_records_test.moc"
