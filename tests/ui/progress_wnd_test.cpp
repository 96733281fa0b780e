// The installer's progress window.
#include <QPushButton>
#include <QtTest>

#include "ui/progress_wnd.h"

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
