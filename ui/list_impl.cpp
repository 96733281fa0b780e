#include "ui/list_impl.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Draws each cell by its column's format.
class CellDelegate : public QStyledItemDelegate {
 public:
  CellDelegate(const CListCtrlData* data, QObject* parent) : QStyledItemDelegate(parent), data_(data) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const CListCtrlData::Cell& cell = data_->CellAt(index.row(), index.column());
    switch (data_->ColumnAt(index.column()).format) {
      case CellFormat::Check: PaintCheck(painter, option, cell); break;
      case CellFormat::Progress: PaintProgress(painter, option, cell); break;
      case CellFormat::Text: PaintText(painter, option, index, cell); break;
    }
  }

 private:
  static void PaintCheck(QPainter* painter, const QStyleOptionViewItem& option, const CListCtrlData::Cell& cell) {
    QStyleOptionButton box;
    box.state = QStyle::State_Enabled | (cell.text.toInt() > 0 ? QStyle::State_On : QStyle::State_Off);
    QSize size = QApplication::style()->sizeFromContents(QStyle::CT_CheckBox, &box, {});
    int side = qMin(qMin(size.width(), size.height()), option.rect.height());
    box.rect = QRect(0, 0, side, side);
    box.rect.moveCenter(option.rect.center());
    QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter);
  }

  static void PaintProgress(QPainter* painter, const QStyleOptionViewItem& option, const CListCtrlData::Cell& cell) {
    if (cell.text.isEmpty()) return;
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = qBound(0, cell.text.toInt(), 100);
    bar.text = cell.text + "%";
    bar.textVisible = true;
    bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
  }

  void PaintText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                 const CListCtrlData::Cell& cell) const {
    QStyleOptionViewItem styled(option);
    initStyleOption(&styled, index);
    if (cell.coloured) {
      painter->fillRect(option.rect, cell.background);
      styled.palette.setColor(QPalette::Text, cell.foreground);
      styled.backgroundBrush = QBrush(cell.background);
    }
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &styled, painter);
  }

  const CListCtrlData* data_;
};

}  // namespace

CListImpl::CListImpl(QWidget* parent) : QTableView(parent) {
  setModel(&data_);
  setItemDelegate(new CellDelegate(&data_, this));
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setMinimumSectionSize(kImageWidth + 5);
  setCursor(Qt::ArrowCursor);
  connect(this, &QAbstractItemView::clicked, this, &CListImpl::OnClicked);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CListImpl::TickAll);
  connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit RowActivated(index.row());
  });
}

int CListImpl::AddColumn(const QString& title, int width, CellFormat format, const QIcon& headerImage) {
  int column = data_.AddColumn({title, format, headerImage});
  setColumnWidth(column, width);
  return column;
}

int CListImpl::AddItem(const QString& text) {
  int row = data_.AddRow();
  if (data_.columnCount() > 0) data_.SetText(row, 0, text);
  return row;
}

void CListImpl::DeleteAllItems() { data_.RemoveAll(); }

void CListImpl::SetItemColours(int row, int column, unsigned background, unsigned foreground) {
  data_.SetColours(row, column, FromColorRef(background), FromColorRef(foreground));
}

QIcon CListImpl::CheckHeaderImage() {
  QPixmap image(kImageWidth, kImageWidth);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
  painter.drawRect(QRectF(1.5, 1.5, 12, 12));
  painter.setPen(QPen(QColor(0x10, 0x80, 0x10), 2));
  painter.drawPolyline(QPolygonF({QPointF(4, 8), QPointF(7, 11), QPointF(12, 4)}));
  return QIcon(image);
}

void CListImpl::OnClicked(const QModelIndex& index) {
  if (!index.isValid() || data_.ColumnAt(index.column()).format != CellFormat::Check) return;
  QString text = GetItemText(index.row(), index.column());
  SetItemText(index.row(), index.column(), text.toInt() > 0 ? "0" : "1");
}

void CListImpl::TickAll(int column) {
  if (column < 0 || column >= data_.columnCount() || data_.ColumnAt(column).format != CellFormat::Check) return;
  bool allTicked = true;
  for (int row = 0; row < GetItemCount(); ++row)
    if (GetItemText(row, column).toInt() <= 0) allTicked = false;
  for (int row = 0; row < GetItemCount(); ++row) SetItemText(row, column, allTicked ? "0" : "1");
}
