// The installer's progress window.
#include <QPushButton>
#include <QtTest>
#include <filesystem>

#include "installer/installer.h"
#include "platform/registry/registry.h"
#include "process/search_file.h"
#include "shell/settings.h"
#include "tests/ui/ui_support.h"
#include "ui/progress_wnd.h"

namespace {

// Counts the paint events of a widget and its children.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

class ProgressWndTest : public QObject {
  Q_OBJECT

 private slots:
  void optionsRangeAndLines() {
    CSHProgressWnd window;
    window.SetTimeDisplay(true);
    window.SetMinimizeButton(false);
    window.SetProgressBar(true);
    QCOMPARE(window.OptionsInForce(), unsigned(CSHProgressWnd::kTimeShown | CSHProgressWnd::kNoMinimize));
    window.SetTimeDisplay(false);
    window.SetProgressBar(false);
    QCOMPARE(window.OptionsInForce(),
             unsigned(CSHProgressWnd::kNoTime | CSHProgressWnd::kNoMinimize | CSHProgressWnd::kNoProgressBar));
    window.SetTitle("Vantor 6.0.0.1");
    window.SetRange(0, 15);
    QVERIFY(window.ShowModeless());
    QVERIFY(window.Dialog()->isVisible());
    window.SetPosition(3);
    QCOMPARE(window.Dialog()->value(), 3);
    QCOMPARE(window.Dialog()->maximum(), 15);
    window.SetPosition(99);  // never past the total
    QCOMPARE(window.Dialog()->value(), 15);
    QString longPath = "/a/very/long/path/" + QString(400, 'x') + "/qcser.rules";
    window.SetLine(2, longPath.toStdString(), true);
    QVERIFY(window.LineText(2).size() < longPath.size());
    QVERIFY(window.LineText(2).endsWith("qcser.rules"));
    window.SetLine(1, "安装相关刷机组件", false);
    QCOMPARE(window.LineText(1), QString("安装相关刷机组件"));
    QCOMPARE(window.Dialog()->windowTitle(), QString("Vantor 6.0.0.1"));
  }

  void remainingTimeFollowsThePace() {
    CSHProgressWnd window;
    window.SetTimeDisplay(true);
    window.SetRange(0, 4);
    window.ShowModeless();
    window.SetPosition(1);
    QVERIFY(window.RemainingText().contains(QString::fromUtf8("秒")));
    window.SetPosition(4);
    QVERIFY(window.RemainingText().isEmpty());
  }

  void cancelIsSeenAndStopClosesOnce() {
    CSHProgressWnd window;
    window.SetRange(0, 15);
    window.ShowModeless();
    QVERIFY(!window.HasUserCancelled());
    QPushButton* cancel = window.Dialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    cancel->click();
    QVERIFY(window.HasUserCancelled());
    window.Stop();
    window.Stop();
    QCOMPARE(window.CloseCount(), 1);
    QVERIFY(!window.Shown());
  }

  // Esc (the key, and the dialog's own answer to it, reject) and the close
  // box cancel as Cancel does; none of them merely hides the window.
  void escapeAndTheCloseBoxCancelAsCancelDoes() {
    const char* ways[] = {"Esc", "reject", "close box"};
    for (const char* way : ways) {
      CSHProgressWnd window;
      window.SetRange(0, 15);
      window.ShowModeless();
      QVERIFY(!window.HasUserCancelled());
      if (way == ways[0]) QTest::keyClick(window.Dialog(), Qt::Key_Escape);
      else if (way == ways[1]) window.Dialog()->reject();
      else window.Dialog()->close();
      QVERIFY2(window.HasUserCancelled(), way);
      window.Stop();
      QCOMPARE(window.CloseCount(), 1);
      QVERIFY(!window.Dialog()->isVisible());
    }
  }

  // The installer with this window, over a package tree of the test's own,
  // whose udev reload takes a second: the window paints while it runs, and a
  // Cancel pressed meanwhile is taken within 200 ms; the steps after it are
  // skipped.
  void cancelIsTakenWhileAStepsCommandRuns() {
    namespace fs = std::filesystem;
    TempDir dir;
    std::string arch = GetNativeArchitecture();
    fs::create_directories(dir / "pkg/Google/Driver");
    fs::create_directories(dir / ("pkg/Qualcomm/Driver/" + arch));
    fs::create_directories(dir / "pkg/Qualcomm/QPST");
    fs::create_directories(dir / "rules");
    fs::create_directories(dir / "bin");
    WriteFile(dir / "pkg/Google/Driver/51-android.rules", "# android\n");
    WriteFile(dir / ("pkg/Qualcomm/Driver/" + arch + "/qcser.rules"), "# qualcomm\n");
    WriteFile(dir / "bin/udevadm", "#!/bin/sh\n[ \"$2\" = --reload ] && sleep 1\nexit 0\n");
    fs::permissions(dir / "bin/udevadm", fs::perms::owner_all);
    ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
    ScopedEnv rules{"VANTOR_RULES_DIR", (dir / "rules").c_str()};
    ScopedEnv bench{"VANTOR_BENCH_DIR", dir.path().c_str()};
    ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
    ScopedEnv path{"PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str()};
    fs::path old = fs::current_path();
    fs::current_path(dir / "pkg");

    CSHProgressWnd window;
    PaintCounter counter;
    window.Dialog()->installEventFilter(&counter);
    for (QWidget* child : window.Dialog()->findChildren<QWidget*>()) child->installEventFilter(&counter);
    // The reload starts when line 2 shows the second rules file; Cancel is
    // pressed 300 ms into it.
    QElapsedTimer clock;
    qint64 reloading = -1, pressed = -1, taken = -1;
    int paintsAtStart = 0, paintsAtPress = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (reloading < 0 && window.LineText(2).endsWith("qcser.rules")) {
        reloading = clock.elapsed();
        paintsAtStart = counter.paints;
      }
      if (reloading >= 0 && pressed < 0 && clock.elapsed() - reloading > 300) {
        paintsAtPress = counter.paints;
        pressed = clock.elapsed();
        window.Dialog()->findChild<QPushButton*>()->click();
      }
      if (pressed >= 0 && taken < 0 && window.Dialog()->wasCanceled()) taken = clock.elapsed();
    });
    poll.start(10);
    clock.start();
    bool succeeded;
    {
      CInstaller installer(true, false, &window);
      succeeded = installer.Succeeded();
    }
    qint64 total = clock.elapsed();
    fs::current_path(old);

    QVERIFY2(pressed >= 0 && pressed - reloading < 500, "the event loop did not turn while the command ran");
    QVERIFY2(pressed < total - 300, "the command had ended when Cancel was pressed");
    QVERIFY2(paintsAtPress > paintsAtStart, "no repaint while the command ran");
    QVERIFY(taken >= 0);
    QVERIFY2(taken - pressed < 200, QByteArray::number(taken - pressed));
    QVERIFY(!succeeded);
    QVERIFY(!IsInstalled());
    CRegKey key;
    QCOMPARE(key.Open(HKEY_LOCAL_MACHINE, kSettingsKey), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    QVERIFY2(RegQueryValueEx(key.get(), "NoQPST", &type, nullptr, &size) != ERROR_SUCCESS,
             "the steps after Cancel ran");
  }

  void aWindowNeverShownClosesNothing() {
    auto window = std::make_unique<CSHProgressWnd>();
    QVERIFY(!window->Dialog()->isVisible());
    window->Stop();
    QCOMPARE(window->CloseCount(), 0);
    window.reset();
  }
};

QTEST_MAIN(ProgressWndTest)
#include "progress_wnd_test.moc"
