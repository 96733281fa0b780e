#include "ui/progress_wnd.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPainter>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>
#include <thread>

#include "shell/log.h"

// The dialog's label: the animation, three lines and the remaining time.
class CSHProgressWnd::Content : public QLabel {
 public:
  Content() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    animation_.setFixedSize(48, 48);
    layout->addWidget(&animation_, 0, Qt::AlignHCenter);
    for (QLabel& line : lines_) {
      line.setTextFormat(Qt::PlainText);
      line.setMinimumWidth(kLineWidth);
      layout->addWidget(&line);
    }
    layout->addWidget(&remaining_);
    connect(&frames_, &QTimer::timeout, this, [this] { DrawFrame(); });
  }
  QSize sizeHint() const override { return layout()->sizeHint(); }
  QSize minimumSizeHint() const override { return layout()->minimumSize(); }

  void StartAnimation() {
    DrawFrame();
    frames_.start(80);
  }
  QLabel& Line(int line) { return lines_[line - 1]; }
  QLabel& Remaining() { return remaining_; }
  static constexpr int kLineWidth = 420;

 private:
  // Arrows that circle: work is going on.
  void DrawFrame() {
    QPixmap image(48, 48);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(24, 24);
    p.rotate(frame_++ * 30 % 360);
    for (int k = 0; k < 8; ++k) {
      p.setBrush(QColor(0x2b, 0x6c, 0xb0, 40 + k * 26));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPointF(0, -16), 4, 4);
      p.rotate(45);
    }
    animation_.setPixmap(image);
  }

  QLabel animation_;
  std::array<QLabel, 3> lines_;
  QLabel remaining_;
  QTimer frames_;
  int frame_ = 0;
};

namespace {

// Esc and the close box cancel, as the Cancel button does; the dialog is
// not simply hidden while the installation goes on.
class CancellingDialog : public QProgressDialog {
 public:
  void reject() override { cancel(); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    cancel();
  }
};

}  // namespace

CSHProgressWnd::CSHProgressWnd() {
  dialog_ = std::make_unique<CancellingDialog>();
  created_ = dialog_ != nullptr;
  if (!TraceResult(created_ ? S_OK : E_OUTOFMEMORY, "CSHProgressWnd::CSHProgressWnd", __LINE__)) return;
  content_ = new Content;
  dialog_->setLabel(content_);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(INT_MAX);  // shown by ShowModeless only
  dialog_->setWindowModality(Qt::NonModal);
  dialog_->setCancelButtonText(QString::fromUtf8("取消"));
  dialog_->hide();
}

CSHProgressWnd::~CSHProgressWnd() {
  if (!created_) return;
  if (shown_) Stop();
}

void CSHProgressWnd::SetTitle(const std::string& title) { dialog_->setWindowTitle(QString::fromStdString(title)); }

void CSHProgressWnd::SetAnimation(int) { content_->StartAnimation(); }

void CSHProgressWnd::SetTimeDisplay(bool show) {
  options_ = show ? (options_ | kTimeShown) & ~kNoTime : (options_ | kNoTime) & ~kTimeShown;
  content_->Remaining().setVisible(show);
}

void CSHProgressWnd::SetMinimizeButton(bool show) {
  options_ = show ? options_ & ~kNoMinimize : options_ | kNoMinimize;
  dialog_->setWindowFlag(Qt::WindowMinimizeButtonHint, show);
}

void CSHProgressWnd::SetProgressBar(bool show) {
  options_ = show ? options_ & ~kNoProgressBar : options_ | kNoProgressBar;
  if (auto* bar = dialog_->findChild<QProgressBar*>()) bar->setVisible(show);
}

void CSHProgressWnd::SetRange(unsigned start, unsigned total) {
  total_ = total;
  dialog_->setRange(0, static_cast<int>(total));
  SetPosition(start);
}

void CSHProgressWnd::SetPosition(unsigned value) {
  dialog_->setValue(static_cast<int>(qMin(value, total_)));
  Update();
}

bool CSHProgressWnd::ShowModeless() {
  dialog_->show();
  running_.start();
  shown_ = true;
  TraceResult(S_OK, "CSHProgressWnd::ShowModeless", __LINE__);
  Update();
  return true;
}

void CSHProgressWnd::SetLine(int line, const std::string& text, bool compact) {
  if (line < 1 || line > 3) return;
  QLabel& label = content_->Line(line);
  QString value = QString::fromStdString(text);
  label.setToolTip(value);
  label.setText(compact ? label.fontMetrics().elidedText(value, Qt::ElideMiddle, Content::kLineWidth) : value);
  Update();
}

bool CSHProgressWnd::HasUserCancelled() {
  QCoreApplication::processEvents();
  return dialog_->wasCanceled();
}

HRESULT CSHProgressWnd::Await(const std::function<HRESULT()>& command) {
  if (!shown_) return command();
  HRESULT result = E_UNEXPECTED;
  QEventLoop loop;
  std::thread worker([&] {
    result = command();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  return result;
}

void CSHProgressWnd::Stop() {
  if (!shown_) return;
  dialog_->hide();
  shown_ = false;
  ++closes_;
}

QString CSHProgressWnd::LineText(int line) const {
  return line >= 1 && line <= 3 ? content_->Line(line).text() : QString();
}

QString CSHProgressWnd::RemainingText() const { return content_->Remaining().text(); }

// The remaining time from the pace so far, and a chance to paint.
void CSHProgressWnd::Update() {
  unsigned done = static_cast<unsigned>(qMax(dialog_->value(), 0));
  if (shown_ && done > 0 && done < total_) {
    qint64 left = running_.elapsed() * (total_ - done) / done / 1000;
    content_->Remaining().setText(QString::fromUtf8("剩余时间: 约 %1 秒").arg(left + 1));
  } else {
    content_->Remaining().clear();
  }
  if (shown_) QCoreApplication::processEvents();
}
