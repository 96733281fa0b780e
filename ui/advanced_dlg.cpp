#include "ui/advanced_dlg.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>

#include "firehose/firehose_package.h"
#include "platform/text.h"
#include "ui/dialog_units.h"
#include "ui/resource_ids.h"

const std::array<CAdvancedDlg::Row, CAdvancedDlg::kRowCount> CAdvancedDlg::kRows = {{
    {"&NV项目文件", res::IDC_NVITEMFILE, &FileSettings::nvItemFile, kNvItemFileSetting.name, true},
    {"&FastBoot脚本", res::IDC_BATCHFILE, &FileSettings::fastbootScript, kBatchFileSetting.name, true},
    {"F&lash编程", res::IDC_PROGRAMMER, &FileSettings::flashProgrammer, kProgrammerSetting.name, true},
    {"开机画面", res::IDC_BOOTIMAGE, &FileSettings::bootImage, kBootImageSetting.name, true},
    {"&XML原始文件", res::IDC_RAWFILE, &FileSettings::rawprogramXml, kRawFileSetting.name, true},
    {"&XML补丁文件", res::IDC_PATCHFILE, &FileSettings::patchXml, kPatchFileSetting.name, true},
    {"Fire&hose编程", res::IDC_FIREHOSEPROGRAMMER, &FileSettings::firehoseProgrammer,
     kFirehoseProgrammerSetting.name, true},
    {"存储类型", res::IDC_FIREHOSEMEMORY, &FileSettings::firehoseMemory, kFirehoseMemorySetting.name, false},
}};

CAdvancedDlg::CMruComboCtrl::CMruComboCtrl(const char* registryName, bool file, QWidget* parent)
    : ::CMruComboCtrl(parent), registryName_(registryName) {
  LoadMru(registryName_);
  // Only a file field takes drops, and they go to OnDropFiles.
  setAcceptDrops(file);
  lineEdit()->setAcceptDrops(file);
  if (!file) return;
  EnableFolderCompletion();
  lineEdit()->installEventFilter(this);
}

void CAdvancedDlg::CMruComboCtrl::Store(const std::string& value) {
  AddToMru(QString::fromStdString(value));
  SaveMru(registryName_);
}

void CAdvancedDlg::CMruComboCtrl::Forget() { ::SaveMru(MruList(List().capacity()), registryName_); }

void CAdvancedDlg::CMruComboCtrl::OnDropFiles(const QStringList& paths) {
  for (const QString& path : paths) {
    if (QFileInfo::exists(path)) {
      SetText(path);
      return;
    }
  }
}

// Drops of files onto the edit field go to OnDropFiles, not into the text.
bool CAdvancedDlg::CMruComboCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    if (drag->mimeData()->hasUrls()) {
      drag->acceptProposedAction();
      return true;
    }
  } else if (event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    if (drop->mimeData()->hasUrls()) {
      QStringList paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
      OnDropFiles(paths);
      drop->acceptProposedAction();
      return true;
    }
  }
  return ::CMruComboCtrl::eventFilter(watched, event);
}

CAdvancedDlg::CAdvancedDlg(FileSettings* settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setWindowTitle(res::kAdvancedCaption);
  setObjectName(QString::number(res::IDD_ADVANCED));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  // The dialog's template: every control at its place in dialog units, so
  // the proportions hold with any font; not resizable.
  DialogUnits du(font());
  auto place = [&du](QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(du.x(left), du.y(top), du.x(width), du.y(height));
  };
  for (size_t k = 0; k < kRows.size(); ++k) {
    const Row& row = kRows[k];
    int top = 8 + 20 * static_cast<int>(k);
    auto* label = new QLabel(QString::fromUtf8(row.label), this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    place(label, 7, top, 58, 14);
    combos_[k] = new CMruComboCtrl(row.registryName, row.file, this);
    combos_[k]->setObjectName(QString::number(row.comboId));
    combos_[k]->SetText(QString::fromStdString(settings_->*row.field));
    place(combos_[k], 80, top, 198, 14);
    label->setBuddy(combos_[k]);
    if (!row.file) continue;
    auto* browse = new QPushButton(res::kBrowseText, this);
    browse->setObjectName(QString::number(row.comboId + 1));
    browse->setAutoDefault(false);
    place(browse, 293, top, 50, 14);
    connect(browse, &QPushButton::clicked, this, [this, k] { OnBrowse(static_cast<int>(k)); });
  }
  combos_[kMemoryRow]->lineEdit()->setPlaceholderText(QString::fromUtf8(res::kFirehoseMemoryHint));
  auto* ok = new QPushButton(res::kOkText, this);
  ok->setObjectName("1");
  ok->setDefault(true);
  place(ok, 228, 169, 50, 14);
  auto* cancel = new QPushButton(res::kCancelText, this);
  cancel->setObjectName("2");
  cancel->setAutoDefault(false);
  place(cancel, 293, 169, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CAdvancedDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CAdvancedDlg::reject);
  setFixedSize(du.x(350), du.y(190));
}

void CAdvancedDlg::OnBrowse(int row) {
  QString file = ChooseFile(combos_[row]->Text());
  if (!file.isEmpty()) combos_[row]->SetText(file);
}

QString CAdvancedDlg::ChooseFile(const QString& initial) {
  return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), initial);
}

// A storage type the jobs would refuse beeps, gets the focus and keeps the
// dialog open with nothing taken. Otherwise fields are taken in row order; a
// text that does not fit takes its first 259 characters, beeps, gets the
// focus, and the fields after it keep their values. Then each list stores
// the value now in effect, so the next start of the program reads what this
// one uses (an empty storage type empties its list: the automatic default),
// and the dialog closes.
void CAdvancedDlg::accept() {
  std::string memory;
  if (!FirehoseMemoryName(combos_[kMemoryRow]->Text().toStdString(), &memory)) {
    QApplication::beep();
    combos_[kMemoryRow]->setFocus();
    return;
  }
  for (size_t k = 0; k < kRows.size(); ++k) {
    std::string text = combos_[k]->Text().toStdString();
    if (CharCount(text) > kMaxFieldChars) {
      settings_->*kRows[k].field = TruncateChars(text, kMaxFieldChars);
      QApplication::beep();
      combos_[k]->setFocus();
      break;
    }
    settings_->*kRows[k].field = text;
  }
  for (size_t k = 0; k < kRows.size(); ++k) {
    const std::string& value = settings_->*kRows[k].field;
    if (k == kMemoryRow && value.empty()) combos_[k]->Forget();
    else combos_[k]->Store(value);
  }
  QDialog::accept();
}
