// An editable combo box whose drop-down is a most-recently-used list (newest
// first), stored in the registry under a setting's name, with completion of
// file-system folders in its edit field.
#pragma once
#include <QComboBox>

#include "shell/settings.h"

class CMruComboCtrl : public QComboBox {
  Q_OBJECT

 public:
  explicit CMruComboCtrl(QWidget* parent = nullptr, size_t capacity = 6);

  // Completes folder names while typing.
  void EnableFolderCompletion();
  // Fills the drop-down from the registry; the edit text stays.
  bool LoadMru(const char* registryName);
  // Makes text the newest entry of the list and the drop-down.
  bool AddToMru(const QString& text);
  bool SaveMru(const char* registryName) const;
  const MruList& List() const { return list_; }

  QString Text() const { return currentText(); }
  void SetText(const QString& text) { setEditText(text); }

 private:
  void FillDropDown();

  MruList list_;
};
