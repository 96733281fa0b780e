// The windows behind the start-up sequence: an error of the start reaches
// the main window's message pane.
#include <QtTest>

#include "shell/server_module.h"
#include "tests/ui/ui_support.h"
#include "ui/application.h"

class ApplicationTest : public QObject {
  Q_OBJECT

 private slots:
  void aFailedInstallationAsRootShowsInTheMessagePane() {
    TestRegistry registry;
    CVantorApplication vantor(qApp);
    vantor.ShowStartupError(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    CServerAppModule module([] {});
    QString shown;
    QTimer::singleShot(0, [&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<CMainDlg*>(widget);
        if (!window) continue;
        RunIdle();  // the prompts of the idle handler must not replace it
        shown = window->StatusBar()->GetPaneText(CMPSBarWithProgress::kMessagePane);
        window->close();
      }
    });
    QCOMPARE(vantor.RunMainWindow(&module), 0);
    QCOMPARE(shown, QString::fromUtf8("错误: Access is denied.(0x80070005)"));
  }
};

QTEST_MAIN(ApplicationTest)
#include "application_test.moc"
