// The main window's 备份系统 and 执行刷机 on a running phone of the virtual
// bench, with the program's own server objects registered as start-up
// registers them: the phone's NV items are backed up into the package
// folder, then restored from there.
#include <QtTest>

#include <filesystem>

#include "download/server_objects.h"
#include "platform/com/class_registry.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tools/phonesim/generated_nv.h"
#include "tests/ui/ui_support.h"
#include "ui/main_dlg.h"

class BackupButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void aRunningPhoneIsBackedUpThenRestored() {
    TempDir dir;
    ScopedEnv registry("VANTOR_REGISTRY_DIR", (dir / "registry").c_str());
    ScopedEnv benchDir("VANTOR_BENCH_DIR", (dir / "bench").c_str());
    ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
    ScopedEnv scale("VANTOR_TIME_SCALE", "0.1");
    // adb of the test's own knows no phone: the phone's own IMEI item names the file.
    std::filesystem::create_directories(dir / "bin");
    WriteFile(dir / "bin/adb", "#!/bin/sh\nexit 1\n");
    std::filesystem::permissions(dir / "bin/adb", std::filesystem::perms::owner_all);
    ScopedEnv path("PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str());
    std::filesystem::create_directories(dir / "bench");
    std::filesystem::create_directories(dir / "registry");
    std::filesystem::create_directories(dir / "package");
    CAutoExecutor sim(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir / "bench") +
                      " --phones 0 --diagnostic-phones 1 --diag-reset-delay 50");
    QVERIFY(WaitFor([&] { return std::filesystem::exists(dir / "bench/nv-1.txt"); }));
    std::vector<DWORD> cookies;
    QCOMPARE(RegisterServerObjects(&cookies), S_OK);
    CoResumeClassObjects();
    {
      CMainDlg w;
      w.Folders()->SetText(QString::fromStdString(dir / "package"));
      w.OnRefresh();
      QCOMPARE(w.Devices()->GetItemCount(), 1);
      w.OnBackup();
      QVERIFY(WaitFor([&] { return w.RefreshButton()->isEnabled() && !w.TimerActive(); }, 30000));
      CListImpl* list = w.Devices();
      QVERIFY2(!list->GetItemData(0)->HasError(), qPrintable(list->GetItemText(0, 5)));
      QCOMPARE(list->GetItemText(0, CMainDlg::kProgressColumn), QString("100"));
      QVERIFY(std::filesystem::exists(dir / ("package/" + phonesim::GeneratedImei(1) + ".qcn")));

      w.OnFlash();
      QVERIFY(WaitFor([&] { return w.RefreshButton()->isEnabled() && !w.TimerActive(); }, 30000));
      QVERIFY2(!list->GetItemData(0)->HasError(), qPrintable(list->GetItemText(0, 5)));
      QCOMPARE(list->GetItemText(0, CMainDlg::kProgressColumn), QString("100"));
    }
    RevokeServerObjects(&cookies);
  }
};

QTEST_MAIN(BackupButtonTest)
#include "backup_button_test.moc"
