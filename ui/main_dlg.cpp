#include "ui/main_dlg.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "jobs/discovery.h"
#include "jobs/job_record.h"
#include "jobs/job_settings.h"
#include "platform/error_text.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/ticks.h"
#include "process/path_list.h"
#include "shell/log.h"
#include "shell/server_module.h"
#include "shell/settings.h"
#include "ui/advanced_dlg.h"
#include "ui/app_icon.h"
#include "ui/close_question.h"
#include "ui/dialog_units.h"
#include "ui/resource_ids.h"
#include "ui/run_verdict.h"
#include "ui/story_dlg.h"

// The resources of a static library are registered by hand.
static void InitResources() { Q_INIT_RESOURCE(ui); }

namespace {

constexpr unsigned kWhite = 0xFFFFFF;
constexpr unsigned kRed = 0x0000FF;  // COLORREF order: 0x00BBGGRR
constexpr size_t kMaxPathChars = 260;

QString Text(int stringId) { return QString::fromUtf8(res::LoadString(stringId)); }

// The wait cursor for the life of the object.
class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
};

void SetupButton(QPushButton* button, const char* text, int id, const DialogUnits& du) {
  button->setText(QString::fromUtf8(text));
  button->setObjectName(QString::number(id));
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setFixedSize(du.x(40), du.y(14));
}

}  // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : QWidget(parent), browse_(QString::fromUtf8(res::kBrowseText)), options_(QString::fromUtf8(res::kOptionsMenuText)) {
  settings_.nvItemFile = ReadSetting(kNvItemFileSetting);
  settings_.fastbootScript = ReadSetting(kBatchFileSetting);
  settings_.flashProgrammer = ReadSetting(kProgrammerSetting);
  settings_.firehoseProgrammer = ReadSetting(kFirehoseProgrammerSetting);
  settings_.firehoseMemory = ReadSetting(kFirehoseMemorySetting);
  settings_.bootImage = ReadSetting(kBootImageSetting);
  settings_.rawprogramXml = ReadSetting(kRawFileSetting);
  settings_.patchXml = ReadSetting(kPatchFileSetting);
  folderList_ = ReadSetting(kSearchPathSetting);
  OnInitDialog();
}

CMainDlg::~CMainDlg() {
  OnDestroy();
  // The list goes before this window's base: its viewport must not call
  // back into a half-destroyed list. The rows' jobs are released with it.
  devices_.viewport()->removeEventFilter(this);
}

void CMainDlg::OnInitDialog() {
  setObjectName(QString::number(res::IDD_MAINDLG));
  setWindowTitle(res::kCaption);
  setWindowIcon(AppIcon());
  setAcceptDrops(true);
  DialogUnits du(font());

  browse_.setObjectName(QString::number(res::IDC_BROWSE));
  browse_.setFixedSize(du.x(50), du.y(14));
  options_.addAction(QString::fromUtf8(res::kAdvancedMenuText), this, &CMainDlg::OnAdvanced)
      ->setData(res::ID_ADVANCED);
  browse_.SetMenu(&options_);
  connect(&browse_, &CAutoMenuButton::Command, this, &CMainDlg::OnBrowse);

  folders_.setObjectName(QString::number(res::IDC_FOLDERS));
  folders_.setFixedHeight(du.y(14));
  folders_.EnableFolderCompletion();
  // Folders dropped onto the field go to the window's drop handling, like
  // any drop inside the window, instead of being pasted in as links.
  folders_.lineEdit()->setAcceptDrops(false);
  folders_.SetText(QString::fromStdString(folderList_));
  folders_.LoadMru(kSearchPathSetting.name);

  SetupButton(&refresh_, res::kRefreshText, res::IDC_REFRESH, du);
  SetupButton(&flash_, res::kFlashText, res::IDC_FLASH, du);
  SetupButton(&backup_, res::kBackupText, res::IDC_BACKUP, du);
  connect(&refresh_, &QPushButton::clicked, this, &CMainDlg::OnRefresh);
  connect(&flash_, &QPushButton::clicked, this, &CMainDlg::OnFlash);
  connect(&backup_, &QPushButton::clicked, this, &CMainDlg::OnBackup);

  devices_.setObjectName(QString::number(res::IDC_DEVICES));
  devices_.AddColumn("", CListImpl::kImageWidth + 5, CellFormat::Check, CListImpl::CheckHeaderImage());
  devices_.AddColumn(Text(res::IDS_COLUMN_INDEX), 50, CellFormat::Text);
  devices_.AddColumn(Text(res::IDS_COLUMN_DEVICE), 70, CellFormat::Text);
  devices_.AddColumn(Text(res::IDS_COLUMN_PROGRESS), 150, CellFormat::Progress);
  devices_.AddColumn(Text(res::IDS_COLUMN_TIME), 50, CellFormat::Text);
  devices_.AddColumn(Text(res::IDS_COLUMN_STATUS), 250, CellFormat::Text);
  devices_.viewport()->installEventFilter(this);
  connect(&devices_, &CListImpl::RowActivated, this,
          [this](int row) { ShowRowStory(&devices_, row, kDeviceColumn, kIndexColumn, this); });
  status_.setObjectName(QString::number(res::IDC_STATUSBAR));

  // The arrangement of the dialog: the top row keeps its buttons at the
  // edges and widens the combo box; the list takes the rest.
  auto* top = new QHBoxLayout;
  top->setSpacing(0);
  top->addWidget(&browse_);
  top->addSpacing(du.x(13));
  top->addWidget(&folders_, 1);
  top->addSpacing(du.x(13));
  top->addWidget(&refresh_);
  top->addSpacing(du.x(10));
  top->addWidget(&flash_);
  top->addSpacing(du.x(10));
  top->addWidget(&backup_);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(du.x(7), du.y(7), du.x(7), 0);
  body->setSpacing(du.y(7));
  body->addLayout(top);
  body->addWidget(&devices_, 1);
  auto* window = new QVBoxLayout(this);
  window->setContentsMargins(0, 0, 0, 0);
  window->setSpacing(du.y(8));
  window->addLayout(body, 1);
  window->addWidget(&status_);

  // The dialog's size is also its smallest; it opens centred on the screen.
  QSize initial(du.x(437), du.y(180));
  initial = initial.expandedTo(window->minimumSize());
  resize(initial);
  setMinimumSize(initial);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());

  connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &CMainDlg::OnRefresh);
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &CMainDlg::OnHelp);
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &CMainDlg::OnIdle);
}

void CMainDlg::ReportError(HRESULT hr, const std::string& subject) {
  if (TraceResult(hr, "CMainDlg::ReportError", __LINE__)) {
    status_.SetPaneText(CMPSBarWithProgress::kMessagePane, "");
    return;
  }
  std::string text = res::LoadString(res::IDS_ERROR) + GetErrorText(hr) + Format("(0x%08x)", static_cast<unsigned>(hr));
  if (!subject.empty()) text += ": " + subject;
  status_.SetPaneText(CMPSBarWithProgress::kMessagePane, QString::fromStdString(text));
}

void CMainDlg::ReportRecordsFault(HRESULT hr) {
  TraceResult(hr, "CMainDlg::ReportRecordsFault", __LINE__);
  std::string text = res::LoadString(res::IDS_ERROR) + std::string(res::LoadString(res::IDS_RECORDS_NOT_KEPT)) +
                     GetErrorText(hr) + Format("(0x%08x)", static_cast<unsigned>(hr));
  status_.SetPaneText(CMPSBarWithProgress::kMessagePane, QString::fromStdString(text));
}

void CMainDlg::SetPrompt(int stringId) {
  if (verdictShown_) return;
  if (status_.GetPaneText(CMPSBarWithProgress::kMessagePane).startsWith(Text(res::IDS_ERROR))) return;
  status_.SetPaneText(CMPSBarWithProgress::kMessagePane, Text(stringId));
}

void CMainDlg::OnRefresh() {
  // A refresh releases every row's job, which stops a running one with its
  // phone half written. The button is disabled during a run; F5 reaches
  // here all the same, and only beeps until the run is over.
  if (RunningJobCount() > 0) {
    QApplication::beep();
    return;
  }
  WaitCursor wait;
  verdictShown_ = false;
  status_.Progress()->setValue(0);
  status_.SetPaneText(CMPSBarWithProgress::kTimePane, "");
  devices_.DeleteAllItems();
  std::vector<std::string> ids;
  HRESULT hr = GetDeviceList(&ids);
  if (TraceResult(hr, "CMainDlg::OnRefresh", __LINE__)) {
    for (const std::string& id : ids) {
      int row = devices_.AddItem("1");
      devices_.SetItemText(row, kIndexColumn, QString::number(GetDeviceIndex(id)));
      devices_.SetItemText(row, kDeviceColumn, QString::fromStdString(id));
    }
  }
  ReportError(hr);
  folderErrorShown_ = false;
}

int CMainDlg::RunningJobCount() {
  int running = 0;
  for (int row = 0; row < devices_.GetItemCount(); ++row) {
    IDeviceReport* job = devices_.GetItemData(row);
    if (job && !job->IsCompleted()) ++running;
  }
  return running;
}

// A row's job is released only once it has ended: a job released while it
// runs leaves its phone half written and keeps the phone's lock, so the new
// job fails as busy. A press while any started job runs (a second click
// that reached the button before the idle handler disabled it) only beeps,
// and the buttons are disabled here, in the press itself.
void CMainDlg::StartJobs(bool backup) {
  if (RunningJobCount() > 0) {
    QApplication::beep();
    return;
  }
  flash_.setEnabled(false);
  backup_.setEnabled(false);
  // The combo box's text as it stands now serves every row of this start.
  std::string folders = TruncateChars(folders_.Text().toStdString(), kMaxFolderListChars);
  if (!CheckPackageFolders(folders)) return;
  verdictShown_ = false;
  if (refresh_.isEnabled()) {
    timer_.start(100, this);
    startTick_ = GetTickCount();
    refresh_.setEnabled(false);
  }
  for (int row = 0; row < devices_.GetItemCount(); ++row) {
    if (devices_.GetItemText(row, kCheckColumn) != "1") continue;
    folderList_ = folders;
    ComPtr<IDeviceReport> job;
    StartRowJob(backup, devices_.GetItemText(row, kDeviceColumn).toStdString(), folderList_, settings_,
                job.ReleaseAndGetAddressOf());
    devices_.SetItemData(row, job.Get());
    devices_.SetItemDefaultColours(row, kStatusColumn);
  }
}

// A mistyped package folder starts nothing: it would be widened to its
// parent and the default folders, and a package lying there flashed. The
// error names the folder and stays until a start or a refresh succeeds.
bool CMainDlg::CheckPackageFolders(const std::string& folders) {
  std::string missing = FirstMissingFolder(folders);
  if (missing.empty()) {
    if (std::exchange(folderErrorShown_, false)) ReportError(S_OK);
    return true;
  }
  ReportError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), missing);
  folderErrorShown_ = true;
  return false;
}

void CMainDlg::OnTimer() {
  unsigned sum = 0, count = 0;
  bool allCompleted = true;
  for (int row = 0; row < devices_.GetItemCount(); ++row) {
    IDeviceReport* job = devices_.GetItemData(row);
    if (!job) continue;
    int percent = job->GetPercent();
    devices_.SetItemText(row, kProgressColumn, QString::number(percent));
    devices_.SetItemText(row, kTimeColumn, QString::fromStdString(Format("%.0fs", job->GetElapsedTime())));
    Bstr status;
    job->GetStatus(&status);
    devices_.SetItemText(row, kStatusColumn, QString::fromStdString(status.str()));
    RecordJobIfEnded(job, devices_.GetItemText(row, kDeviceColumn).toStdString(),
                     devices_.GetItemText(row, kIndexColumn).toUInt(), status.str());
    // The colours follow the job: a row that failed before and succeeds now
    // does not read its success in red.
    if (job->HasError()) devices_.SetItemColours(row, kStatusColumn, kWhite, kRed);
    else devices_.SetItemDefaultColours(row, kStatusColumn);
    if (!job->IsCompleted()) allCompleted = false;
    sum += static_cast<unsigned>(percent);
    ++count;
  }
  devices_.viewport()->repaint();
  // Rows with jobs always exist after a start; a tick without any leaves
  // the bar where it is.
  if (count > 0) status_.Progress()->setValue(static_cast<int>(sum / count));
  DWORD seconds = (GetTickCount() - startTick_) / 1000;
  status_.SetPaneText(CMPSBarWithProgress::kTimePane, QString::fromStdString(Format("%4ds", static_cast<int>(seconds))));
  bool notKept = false;
  HRESULT fault = TakeRecordsFault(&notKept);
  if (FAILED(fault) && notKept) ReportRecordsFault(fault);
  else if (FAILED(fault)) ReportError(fault);  // a server's: the records wait in the local file
  if (allCompleted && !refresh_.isEnabled()) {
    refresh_.setEnabled(true);
    ShowVerdict();
  }
  // A job's record is written after the job ends: the timer runs on until
  // the records are, so a store that fails the last ones is still reported.
  if (allCompleted && JobRecordsWritten()) timer_.stop();
}

void CMainDlg::ShowVerdict() {
  if (status_.GetPaneText(CMPSBarWithProgress::kMessagePane).startsWith(Text(res::IDS_ERROR))) return;
  status_.SetPaneText(CMPSBarWithProgress::kMessagePane, VerdictText(CountRun(devices_)));
  verdictShown_ = true;
}

void CMainDlg::OnIdle() {
  int prompt;
  if (!refresh_.isEnabled()) {
    prompt = res::IDS_BUSY;
  } else {
    bool anyFree = false, anyTickedFree = false;
    for (int row = 0; row < devices_.GetItemCount(); ++row) {
      if (devices_.GetItemData(row)) continue;
      anyFree = true;
      if (devices_.GetItemText(row, kCheckColumn) == "1") anyTickedFree = true;
    }
    prompt = !anyFree ? res::IDS_PRESS_REFRESH : !anyTickedFree ? res::IDS_SELECT_DEVICE : res::IDS_PRESS_FLASH;
  }
  SetPrompt(prompt);
  bool enable = prompt == res::IDS_PRESS_FLASH;
  if (flash_.isEnabled() != enable) flash_.setEnabled(enable);
  if (backup_.isEnabled() != enable) backup_.setEnabled(enable);
}

void CMainDlg::OnBrowse() {
  std::vector<std::string> folders = SplitPathList(folders_.Text().toStdString());
  QString start = folders.empty() ? QString() : QString::fromStdString(folders.front());
  QString chosen = ChooseFolder(Text(res::IDS_BROWSE_TITLE), start);
  if (!chosen.isEmpty()) folders_.SetText(chosen);
}

// Folders only, and no way to make a new folder from the browser: Qt's own
// dialog, where that can be switched off, on every desktop.
QString CMainDlg::ChooseFolder(const QString& title, const QString& start) {
  QFileDialog dialog(QApplication::activeWindow(), title, start);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
  if (auto* button = dialog.findChild<QWidget*>("newFolderButton")) button->hide();
  if (auto* action = dialog.findChild<QAction*>("qt_new_folder_action")) action->setVisible(false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().front();
}

void CMainDlg::OnAdvanced() { RunAdvancedDialog(); }

void CMainDlg::RunAdvancedDialog() {
  CAdvancedDlg dialog(&settings_, this);
  dialog.exec();
}

void CMainDlg::OnDropFiles(const QStringList& paths) {
  bool first = true;
  for (const QString& dropped : paths) {
    bool isFirst = std::exchange(first, false);
    std::string path = TruncateChars(dropped.toStdString(), kMaxPathChars - 1);
    if (!QFileInfo(QString::fromStdString(path)).isDir()) continue;
    if (isFirst) folders_.SetText("");
    folders_.SetText(QString::fromStdString(MergePathLists(folders_.Text().toStdString(), path)));
  }
}

void CMainDlg::OnHelp() {
  if (!readMe_) {
    InitResources();
    QFile file(":/ReadMe.txt");
    file.open(QIODevice::ReadOnly);
    auto* dialog = new QDialog(this);
    dialog->setObjectName("ReadMe");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle("ReadMe.txt");
    auto* text = new QPlainTextEdit(QString::fromUtf8(file.readAll()), dialog);
    text->setReadOnly(true);
    (new QVBoxLayout(dialog))->addWidget(text);
    DialogUnits du(font());
    dialog->resize(du.x(300), du.y(200));
    readMe_ = dialog;
  }
  readMe_->show();
  readMe_->raise();
  readMe_->activateWindow();
}

void CMainDlg::OnSize() {
  int others = 0;
  for (int column = 0; column < devices_.Data().columnCount(); ++column)
    if (column != kStatusColumn) others += devices_.columnWidth(column);
  int rest = devices_.viewport()->width() - others;
  if (rest >= kMinStatusColumnWidth) devices_.setColumnWidth(kStatusColumn, rest);
}

void CMainDlg::OnDestroy() {
  if (std::exchange(destroyed_, true)) return;
  folders_.AddToMru(folders_.Text());
  folders_.SaveMru(kSearchPathSetting.name);
  if (module_) module_->Unlock();
}

void CMainDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) OnTimer();
  else QWidget::timerEvent(event);
}

void CMainDlg::CloseForSystem() {
  closingForSystem_ = true;
  close();
}

// Closing while jobs write phones asks first: the jobs end with the window,
// their phones half written. A close the system asks for does not wait for
// an answer. The list is saved at the close itself so that it survives
// whatever happens to the process afterwards.
void CMainDlg::closeEvent(QCloseEvent* event) {
  int writing = RunningJobCount();
  if (writing > 0 && !closingForSystem_ && !AskToCloseWhileWriting(this, writing)) {
    event->ignore();
    return;
  }
  OnDestroy();
  event->accept();
  emit Closed();
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  OnDropFiles(paths);
  event->acceptProposedAction();
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == devices_.viewport() && event->type() == QEvent::Resize) OnSize();
  return QWidget::eventFilter(watched, event);
}
