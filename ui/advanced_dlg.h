// The advanced settings dialog: the seven file names the main window
// resolves against the package folders, and the storage type of a Firehose
// phone. Each file is typed, picked from its list, browsed for or dropped;
// the storage type is typed or picked. OK writes them into the main window's
// settings block and stores each as the newest entry of its list; Cancel
// changes nothing.
#pragma once
#include <QDialog>
#include <array>

#include "jobs/job_settings.h"
#include "ui/mru_combo.h"

class CAdvancedDlg : public QDialog {
  Q_OBJECT

 public:
  // A settings combo box: owns its registry name and, for a file, takes
  // dropped paths and completes folder names.
  class CMruComboCtrl : public ::CMruComboCtrl {
   public:
    CMruComboCtrl(const char* registryName, bool file, QWidget* parent);
    // Makes value the newest entry of the list and saves the list.
    void Store(const std::string& value);
    // Saves an empty list: the next start reads the setting's default.
    void Forget();
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
    bool file;  // a file: a browse button beside it, drops taken
  };
  static constexpr size_t kRowCount = 8;
  static const std::array<Row, kRowCount> kRows;
  // The row of the storage type.
  static constexpr int kMemoryRow = 7;
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
  std::array<CMruComboCtrl*, kRowCount> combos_{};
};
