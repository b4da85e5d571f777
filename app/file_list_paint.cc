#include "app/file_list_paint.h"

#include <QAbstractItemView>
#include <QPainter>

namespace ostrel {

QColor FileListCellBackground(int column, int row, const QPalette& palette) {
  if (row == 0) return palette.color(QPalette::Midlight);
  if (row % 2 == 0 && row >= 2 && column >= 1) return palette.color(QPalette::ToolTipBase);
  if (column == 0) return palette.color(QPalette::Midlight);
  return QColor(Qt::white);
}

QColor FileListFrameColour(const QPalette& palette) { return palette.color(QPalette::Highlight); }

void FileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const QColor background = FileListCellBackground(index.column(), index.row() + 1, option.palette);
  painter->save();
  painter->fillRect(option.rect, background);
  painter->setPen(QColor(Qt::black));
  painter->setFont(option.font);
  painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                    index.data(Qt::DisplayRole).toString());
  const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
  if (view != nullptr && view->currentIndex().isValid() &&
      view->currentIndex().row() == index.row()) {
    // One frame around the whole row: top and bottom edges in every cell, the sides in
    // the first and last column.
    const QRect rect = option.rect;
    const QColor frame = FileListFrameColour(option.palette);
    const int w = kFileListFrameWidth;
    painter->fillRect(rect.left(), rect.top(), rect.width(), w, frame);
    painter->fillRect(rect.left(), rect.bottom() - w + 1, rect.width(), w, frame);
    if (index.column() == 0) painter->fillRect(rect.left(), rect.top(), w, rect.height(), frame);
    if (index.column() == index.model()->columnCount() - 1) {
      painter->fillRect(rect.right() - w + 1, rect.top(), w, rect.height(), frame);
    }
  }
  painter->restore();
}

QString FileListHeaderStyleSheet(const QPalette& palette) {
  return QStringLiteral(
             "QHeaderView::section { background-color: %1; color: black; "
             "border: 1px solid palette(mid); padding: 0px; }")
      .arg(FileListCellBackground(0, 0, palette).name());
}

}  // namespace ostrel
