// The main window's status bar: a message pane taking the rest of the bar, a
// 250-pixel pane with a smooth progress bar (0 to 100), and a 50-pixel time
// pane.
#pragma once
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

class CMPSBarWithProgress : public QStatusBar {
  Q_OBJECT

 public:
  enum Pane { kMessagePane = 0, kProgressPane = 1, kTimePane = 2 };
  static constexpr int kProgressPaneWidth = 250;
  static constexpr int kTimePaneWidth = 50;

  explicit CMPSBarWithProgress(QWidget* parent = nullptr);

  // The message and time panes hold text; the progress pane its bar.
  void SetPaneText(Pane pane, const QString& text);
  QString GetPaneText(Pane pane) const;
  QProgressBar* Progress() { return &progress_; }
  const QProgressBar* Progress() const { return &progress_; }

 private:
  QLabel* Label(Pane pane);
  const QLabel* Label(Pane pane) const { return const_cast<CMPSBarWithProgress*>(this)->Label(pane); }

  QLabel message_;
  QProgressBar progress_;
  QLabel time_;
};
