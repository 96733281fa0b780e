#include "ui/mru_combo.h"

#include <QCompleter>
#include <QFileSystemModel>
#include <QLineEdit>

CMruComboCtrl::CMruComboCtrl(QWidget* parent, size_t capacity) : QComboBox(parent), list_(capacity) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(10);
  setMaxVisibleItems(static_cast<int>(capacity));
}

void CMruComboCtrl::EnableFolderCompletion() {
  auto* folders = new QFileSystemModel(this);
  folders->setFilter(QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot);
  folders->setRootPath("/");
  auto* completer = new QCompleter(folders, this);
  completer->setCompletionMode(QCompleter::PopupCompletion);
  lineEdit()->setCompleter(completer);
}

bool CMruComboCtrl::LoadMru(const char* registryName) {
  bool loaded = ::LoadMru(&list_, registryName);
  FillDropDown();
  return loaded;
}

bool CMruComboCtrl::AddToMru(const QString& text) {
  bool added = ::AddToMru(&list_, text.toStdString());
  if (added) FillDropDown();
  return added;
}

bool CMruComboCtrl::SaveMru(const char* registryName) const { return ::SaveMru(list_, registryName); }

void CMruComboCtrl::FillDropDown() {
  QString text = currentText();
  blockSignals(true);
  clear();
  for (const std::string& entry : list_.NewestFirst()) addItem(QString::fromStdString(entry));
  setEditText(text);
  blockSignals(false);
}
