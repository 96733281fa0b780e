// The main window: the package folders, the attached phones with a job per
// ticked row, and the run's progress. Everything here runs on the main
// thread; jobs run on their own threads and are only polled.
#pragma once
#include <QBasicTimer>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "jobs/job_settings.h"
#include "platform/hresult.h"
#include "ui/auto_menu_button.h"
#include "ui/list_impl.h"
#include "ui/mru_combo.h"
#include "ui/status_bar.h"


class CServerAppModule;

class CMainDlg : public QWidget {
  Q_OBJECT

 public:
  enum Column { kCheckColumn, kIndexColumn, kDeviceColumn, kProgressColumn, kTimeColumn, kStatusColumn };
  static constexpr int kMinStatusColumnWidth = 50;

  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Commands.
  void OnRefresh();
  void OnFlash() { StartJobs(false); }
  void OnBackup() { StartJobs(true); }
  void OnBrowse();
  void OnAdvanced();
  void OnHelp();
  void OnDropFiles(const QStringList& paths);
  // Keeps the buttons and the prompt in step with the rows; runs whenever the
  // event loop is about to wait.
  void OnIdle();
  void OnTimer();

  // Shows "错误: ", the text and code of hr and, when given, what it is
  // about; S_OK clears the message pane.
  void ReportError(HRESULT hr, const std::string& subject = "");
  // The run's flash records could not be kept: said in the message pane.
  void ReportRecordsFault(HRESULT hr);
  // Shows the prompt unless an error text or the run's verdict is shown.
  void SetPrompt(int stringId);

  // The current values of the seven file settings and the Firehose storage
  // type, edited by the advanced
  // dialog, and the folder list as last read from the combo box.
  FileSettings& Settings() { return settings_; }
  const std::string& FolderList() const { return folderList_; }

  CAutoMenuButton* BrowseButton() { return &browse_; }
  CMruComboCtrl* Folders() { return &folders_; }
  QPushButton* RefreshButton() { return &refresh_; }
  QPushButton* FlashButton() { return &flash_; }
  QPushButton* BackupButton() { return &backup_; }
  CListImpl* Devices() { return &devices_; }
  CMPSBarWithProgress* StatusBar() { return &status_; }
  bool TimerActive() const { return timer_.isActive(); }
  QDialog* ReadMe() { return readMe_; }
  // The module whose lock this window holds while it is shown; released
  // when the window closes.
  void SetModule(CServerAppModule* module) { module_ = module; }
  // A close the system requests (SIGTERM, the session ending): it does not
  // ask, even while jobs write phones.
  void CloseForSystem();

 signals:
  // The window was closed: the main loop ends.
  void Closed();

 protected:
  // Asks for a folder; "" when the user cancels.
  virtual QString ChooseFolder(const QString& title, const QString& start);
  // Runs the advanced dialog over the settings block.
  virtual void RunAdvancedDialog();

  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnInitDialog();
  void StartJobs(bool backup);
  // The rows whose started job has not completed yet.
  int RunningJobCount();
  // Whether every package folder exists; shows the one that does not.
  bool CheckPackageFolders(const std::string& folders);
  // Gives the status column the rest of the list's width when that is at
  // least 50 pixels.
  void OnSize();
  void OnDestroy();
  // The run's verdict in the message pane, until the next refresh or start.
  void ShowVerdict();

  DWORD startTick_ = 0;
  FileSettings settings_;
  std::string folderList_;
  CAutoMenuButton browse_;
  QMenu options_;
  CMruComboCtrl folders_;
  QPushButton refresh_, flash_, backup_;
  CListImpl devices_;
  CMPSBarWithProgress status_;
  QBasicTimer timer_;
  QPointer<QDialog> readMe_;
  bool destroyed_ = false;
  bool folderErrorShown_ = false;
  bool closingForSystem_ = false;
  bool verdictShown_ = false;
  CServerAppModule* module_ = nullptr;
};
