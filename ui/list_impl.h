// The device list: a table of check-box, progress-bar and text cells with
// per-cell colours, and one job per row. Clicking a check cell toggles it:
// a cell whose number is above 0 becomes "0", any other "1". Clicking the
// check column's header ticks every row, or unticks every row when all are
// ticked. A double-click on a row, or Enter on the current row, reports the
// row (RowActivated).
#pragma once
#include <QTableView>

#include "ui/list_ctrl_data.h"

class CListImpl : public QTableView {
  Q_OBJECT

 public:
  explicit CListImpl(QWidget* parent = nullptr);

  int AddColumn(const QString& title, int width, CellFormat format, const QIcon& headerImage = {});
  // Appends a row whose first cell holds text; its index.
  int AddItem(const QString& text);
  void DeleteAllItems();
  int GetItemCount() const { return data_.RowCount(); }
  QString GetItemText(int row, int column) const { return data_.CellAt(row, column).text; }
  void SetItemText(int row, int column, const QString& text) { data_.SetText(row, column, text); }
  // Colours as COLORREF values (0x00BBGGRR).
  void SetItemColours(int row, int column, unsigned background, unsigned foreground);
  void SetItemDefaultColours(int row, int column) { data_.ClearColours(row, column); }
  IDeviceReport* GetItemData(int row) const { return data_.Job(row); }
  void SetItemData(int row, IDeviceReport* job) { data_.SetJob(row, job); }
  const CListCtrlData& Data() const { return data_; }

  // The image shown in the check column's header: a ticked box.
  static QIcon CheckHeaderImage();
  static constexpr int kImageWidth = 16;

  // What a click on the header of a check column does.
  void TickAll(int column);

 signals:
  void RowActivated(int row);

 private:
  void OnClicked(const QModelIndex& index);

  CListCtrlData data_;
};
