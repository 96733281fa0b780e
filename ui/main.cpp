// vantor: the windows of the bench tool.
#include <QApplication>
#include <clocale>

#include "download/server_objects.h"
#include "platform/com/class_registry.h"
#include "ui/main_dlg.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  // No outside automation server exists on this platform: the program's own
  // objects serve the emergency and NV jobs.
  std::vector<DWORD> cookies;
  RegisterServerObjects(&cookies);
  CoResumeClassObjects();
  int code;
  {
    CMainDlg window;
    window.show();
    code = app.exec();
  }
  RevokeServerObjects(&cookies);
  return code;
}
