// vantor: the bench tool with its windows.
#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "platform/version.h"
#include "shell/command_line_switch.h"
#include "shell/console_application.h"
#include "ui/application.h"
#include "ui/qt_translations.h"

namespace {

int g_closePipe[2] = {-1, -1};

void OnTerminate(int) {
  char c = 't';
  (void)!::write(g_closePipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForHelp(argc, argv)) {
    std::fputs(kStartSwitchHelp, stdout);
    return 0;
  }
  if (AsksForVersion(argc, argv)) {
    std::printf("vantor %s\n", VANTOR_VERSION);
    return 0;
  }
  std::string commandLine = JoinCommandLine(argc, argv);
  // Installing and uninstalling need no display (pkexec starts them without
  // one): the windowing toolkit is not even loaded.
  StartSwitch start = ScanCommandLine(commandLine);
  if (start == StartSwitch::RegServer || start == StartSwitch::UnregServer) {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    CConsoleApplication console;
    return RunVantor(commandLine, &console);
  }
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  LoadQtTranslations(&app);
  app.setQuitOnLastWindowClosed(false);
  CVantorApplication vantor(&app);

  // SIGTERM is the polite close request: it closes the window as its close
  // box does.
  if (::pipe2(g_closePipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    auto* notifier = new QSocketNotifier(g_closePipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&vantor] {
      char c;
      while (::read(g_closePipe[0], &c, 1) == 1) {
      }
      vantor.RequestClose();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
  }
  return RunVantor(commandLine, &vantor);
}
