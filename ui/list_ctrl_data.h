// The rows of the device list: text cells with optional per-cell colours,
// and one job reference per row.
#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QString>
#include <vector>

#include "jobs/device_report.h"

enum class CellFormat { Text, Check, Progress };

// A colour as the Windows COLORREF 0x00BBGGRR.
inline QColor FromColorRef(unsigned colorRef) {
  return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

class CListCtrlData : public QAbstractTableModel {
  Q_OBJECT

 public:
  struct Column {
    QString title;
    CellFormat format = CellFormat::Text;
    QIcon headerImage;
  };
  struct Cell {
    QString text;
    bool coloured = false;
    QColor background, foreground;
  };
  struct Row {
    std::vector<Cell> cells;
    ComPtr<IDeviceReport> job;
  };

  using QAbstractTableModel::QAbstractTableModel;

  int AddColumn(const Column& column);
  const Column& ColumnAt(int column) const { return columns_[column]; }
  // Appends a row of empty cells; its index.
  int AddRow();
  // Removes every row, releasing each row's job.
  void RemoveAll();
  int RowCount() const { return static_cast<int>(rows_.size()); }
  const Cell& CellAt(int row, int column) const { return rows_[row].cells[column]; }
  void SetText(int row, int column, const QString& text);
  void SetColours(int row, int column, const QColor& background, const QColor& foreground);
  // The cell takes the list's own colours again.
  void ClearColours(int row, int column);
  IDeviceReport* Job(int row) const { return rows_[row].job.Get(); }
  // Stores job in the row (a reference of its own), releasing the old one.
  void SetJob(int row, IDeviceReport* job);

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  std::vector<Column> columns_;
  std::vector<Row> rows_;
};
