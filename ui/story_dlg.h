// The story of one row: the window a double-click (or Enter) on a row opens,
// showing everything that phone's job went through: each status message in
// order with its elapsed time, the final result code and text in full, and
// the trace lines the job left. It follows the job while it runs and can be
// copied as text.
#pragma once
#include <QBasicTimer>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include "jobs/device_report.h"

class CListImpl;

class CStoryDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 200;

  // Holds a reference to the job's story for the window's life.
  CStoryDlg(IJobStory* story, const QString& deviceId, const QString& index, QWidget* parent);

  // The story as shown, the text that Copy puts on the clipboard.
  QString Text() const { return text_.toPlainText(); }
  QPushButton* CopyButton() { return &copy_; }
  // Reads the job again and redraws when anything changed; stops following
  // once the job has completed.
  void Refresh();

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void Copy();

  ComPtr<IJobStory> story_;
  QString heading_;
  QString shown_;
  QPlainTextEdit text_;
  QPushButton copy_, close_;
  QBasicTimer timer_;
};

// Opens the story of a row of the device list, as a window of its own
// beside the list's window; a row without a job has no story and opens
// nothing. The window, or nullptr.
CStoryDlg* ShowRowStory(CListImpl* list, int row, int deviceColumn, int indexColumn, QWidget* parent);
