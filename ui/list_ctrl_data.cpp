#include "ui/list_ctrl_data.h"

int CListCtrlData::AddColumn(const Column& column) {
  int at = static_cast<int>(columns_.size());
  beginInsertColumns({}, at, at);
  columns_.push_back(column);
  for (Row& row : rows_) row.cells.resize(columns_.size());
  endInsertColumns();
  return at;
}

int CListCtrlData::AddRow() {
  int at = RowCount();
  beginInsertRows({}, at, at);
  rows_.push_back(Row{std::vector<Cell>(columns_.size()), {}});
  endInsertRows();
  return at;
}

void CListCtrlData::RemoveAll() {
  beginResetModel();
  // Moved out first so that a job's release never sees a half-reset model.
  std::vector<Row> old;
  old.swap(rows_);
  endResetModel();
}

void CListCtrlData::SetText(int row, int column, const QString& text) {
  Cell& cell = rows_[row].cells[column];
  if (cell.text == text) return;
  cell.text = text;
  emit dataChanged(index(row, column), index(row, column));
}

void CListCtrlData::SetColours(int row, int column, const QColor& background, const QColor& foreground) {
  Cell& cell = rows_[row].cells[column];
  cell.coloured = true;
  cell.background = background;
  cell.foreground = foreground;
  emit dataChanged(index(row, column), index(row, column));
}

void CListCtrlData::ClearColours(int row, int column) {
  Cell& cell = rows_[row].cells[column];
  if (!cell.coloured) return;
  cell.coloured = false;
  emit dataChanged(index(row, column), index(row, column));
}

void CListCtrlData::SetJob(int row, IDeviceReport* job) { rows_[row].job = ComPtr<IDeviceReport>(job); }

int CListCtrlData::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : RowCount(); }

int CListCtrlData::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant CListCtrlData::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Cell& cell = CellAt(index.row(), index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return cell.text;
    case Qt::BackgroundRole: return cell.coloured ? QVariant(cell.background) : QVariant();
    case Qt::ForegroundRole: return cell.coloured ? QVariant(cell.foreground) : QVariant();
    default: return {};
  }
}

QVariant CListCtrlData::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size())) return {};
  const Column& column = columns_[section];
  if (role == Qt::DisplayRole) return column.title;
  if (role == Qt::DecorationRole && !column.headerImage.isNull()) return column.headerImage;
  if (role == Qt::TextAlignmentRole && column.title.isEmpty()) return int(Qt::AlignCenter);
  return {};
}

Qt::ItemFlags CListCtrlData::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}
