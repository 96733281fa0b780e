#include "ui/status_bar.h"

CMPSBarWithProgress::CMPSBarWithProgress(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(true);
  message_.setTextFormat(Qt::PlainText);
  message_.setMinimumWidth(1);
  addWidget(&message_, 1);
  progress_.setRange(0, 100);
  progress_.setValue(0);
  progress_.setTextVisible(false);
  progress_.setFixedWidth(kProgressPaneWidth);
  progress_.setMaximumHeight(fontMetrics().height() + 2);
  addPermanentWidget(&progress_);
  time_.setTextFormat(Qt::PlainText);
  time_.setFixedWidth(kTimePaneWidth);
  time_.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  addPermanentWidget(&time_);
}

QLabel* CMPSBarWithProgress::Label(Pane pane) {
  return pane == kMessagePane ? &message_ : pane == kTimePane ? &time_ : nullptr;
}

void CMPSBarWithProgress::SetPaneText(Pane pane, const QString& text) {
  if (QLabel* label = Label(pane)) label->setText(text);
}

QString CMPSBarWithProgress::GetPaneText(Pane pane) const {
  const QLabel* label = Label(pane);
  return label ? label->text() : QString();
}
