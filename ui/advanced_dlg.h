// The advanced settings dialog: the six file names the main window resolves
// against the package folders. Each is typed, picked from its list, browsed
// for or dropped. OK writes them into the main window's settings block and
// stores each as the newest entry of its list; Cancel changes nothing.
#pragma once
#include <QDialog>
#include <array>

#include "jobs/job_settings.h"
#include "ui/mru_combo.h"

class CAdvancedDlg : public QDialog {
  Q_OBJECT

 public:
  // A settings combo box: owns its registry name and takes dropped paths.
  class CMruComboCtrl : public ::CMruComboCtrl {
   public:
    CMruComboCtrl(const char* registryName, QWidget* parent);
    // Makes value the newest entry of the list and saves the list.
    void Store(const std::string& value);
    // The first of paths that exists (file or folder) becomes the text.
    void OnDropFiles(const QStringList& paths);

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    const char* registryName_;
  };

  struct Row {
    const char* label;
    int comboId;
    std::string FileSettings::*field;
    const char* registryName;
  };
  static const std::array<Row, 6> kRows;
  // A text longer than this is not taken whole by OK.
  static constexpr size_t kMaxFieldChars = 259;

  CAdvancedDlg(FileSettings* settings, QWidget* parent);

  CMruComboCtrl* Combo(int row) { return combos_[row]; }
  // The row's browse button: an open-file dialog for an existing file.
  void OnBrowse(int row);
  void accept() override;

 protected:
  // Asks for an existing file; "" when the user cancels.
  virtual QString ChooseFile(const QString& initial);

 private:
  FileSettings* settings_;
  std::array<CMruComboCtrl*, 6> combos_{};
};
