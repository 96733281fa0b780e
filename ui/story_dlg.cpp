#include "ui/story_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

#include "jobs/status_text.h"
#include "platform/error_text.h"
#include "platform/format.h"
#include "ui/dialog_units.h"
#include "ui/list_impl.h"

namespace {

// The window's texts.
constexpr char kTitle[] = "设备记录";
constexpr char kDeviceLabel[] = "设备ID: ";
constexpr char kIndexLabel[] = "    索引号: ";
constexpr char kStatusHeading[] = "状态:";
constexpr char kDroppedText[] = "(更早的 %zu 条状态未保留)";
constexpr char kResultLabel[] = "结果: ";
constexpr char kRunningText[] = "正在运行...";
constexpr char kTraceHeading[] = "跟踪:";
constexpr char kNoTraceText[] = "(无)";
constexpr char kCopyText[] = "复制";
constexpr char kCloseText[] = "关闭";

QString U(const std::string& text) { return QString::fromStdString(text); }

QString StoryText(const QString& heading, const JobStory& story) {
  QString text = heading + "\n\n" + U(kStatusHeading) + "\n";
  if (story.statusesDropped > 0) text += "  " + U(Format(kDroppedText, story.statusesDropped)) + "\n";
  for (const StoryEntry& entry : story.statuses) text += U(Format("%8.2fs  ", entry.elapsed)) + U(entry.text) + "\n";
  text += "\n" + U(kResultLabel);
  if (story.completed()) {
    text += U(Format("0x%08x  ", static_cast<unsigned>(story.result))) +
            U(FinalStatusText(story.result, GetErrorText(story.result), story.Newest()));
  } else {
    text += U(kRunningText);
  }
  text += "\n\n" + U(kTraceHeading) + "\n";
  if (story.traces.empty()) text += U(kNoTraceText) + "\n";
  for (const std::string& line : story.traces) text += U(line) + "\n";
  return text;
}

}  // namespace

CStoryDlg::CStoryDlg(IJobStory* story, const QString& deviceId, const QString& index, QWidget* parent)
    : QDialog(parent), story_(story), heading_(U(kDeviceLabel) + deviceId + U(kIndexLabel) + index) {
  setObjectName("Story");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(deviceId + " - " + U(kTitle));
  text_.setReadOnly(true);
  text_.setLineWrapMode(QPlainTextEdit::NoWrap);
  text_.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  copy_.setText(U(kCopyText));
  close_.setText(U(kCloseText));
  copy_.setAutoDefault(false);
  close_.setAutoDefault(false);
  connect(&copy_, &QPushButton::clicked, this, &CStoryDlg::Copy);
  connect(&close_, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(&copy_);
  buttons->addWidget(&close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(&text_, 1);
  layout->addLayout(buttons);
  DialogUnits du(font());
  resize(du.x(380), du.y(220));

  Refresh();
}

void CStoryDlg::Refresh() {
  JobStory story;
  if (FAILED(story_->GetStory(&story))) return;
  QString text = StoryText(heading_, story);
  if (text != shown_) {
    // A reader scrolled up to an earlier part stays there; one at the end
    // follows the new lines.
    QScrollBar* bar = text_.verticalScrollBar();
    bool atEnd = bar->value() == bar->maximum();
    int position = bar->value();
    shown_ = text;
    text_.setPlainText(text);
    bar->setValue(atEnd ? bar->maximum() : position);
  }
  if (story.completed()) timer_.stop();
  else if (!timer_.isActive()) timer_.start(kRefreshMs, this);
}

void CStoryDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) Refresh();
  else QDialog::timerEvent(event);
}

void CStoryDlg::Copy() { QApplication::clipboard()->setText(Text()); }

CStoryDlg* ShowRowStory(CListImpl* list, int row, int deviceColumn, int indexColumn, QWidget* parent) {
  if (row < 0 || row >= list->GetItemCount()) return nullptr;
  IDeviceReport* job = list->GetItemData(row);
  ComPtr<IJobStory> story;
  if (!job || FAILED(job->QueryInterface(IJobStory::kIid, reinterpret_cast<void**>(story.ReleaseAndGetAddressOf()))))
    return nullptr;
  auto* dialog = new CStoryDlg(story.Get(), list->GetItemText(row, deviceColumn), list->GetItemText(row, indexColumn),
                               parent);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  return dialog;
}
