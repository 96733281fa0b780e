#include "ui/close_question.h"

#include <QMessageBox>

#include "ui/resource_ids.h"

bool AskToCloseWhileWriting(QWidget* parent, int phones) {
  QString text = QString::fromUtf8(res::LoadString(res::IDS_CLOSE_WHILE_WRITING)).arg(phones);
  QMessageBox::StandardButton answer = QMessageBox::question(
      parent, QString::fromUtf8(res::kCaption), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  return answer == QMessageBox::Yes;
}
