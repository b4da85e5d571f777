#include "app/file_list_paint.h"

#include <QPainter>

namespace ostrel {

QColor FileListCellBackground(int column, int row, const QPalette& palette) {
  if (row == 0) return palette.color(QPalette::Midlight);
  if (row % 2 == 0 && row >= 2 && column >= 1) return palette.color(QPalette::ToolTipBase);
  if (column == 0) return palette.color(QPalette::Midlight);
  return QColor(Qt::white);
}

void FileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const QColor background = FileListCellBackground(index.column(), index.row() + 1, option.palette);
  painter->save();
  painter->fillRect(option.rect, background);
  painter->setPen(QColor(Qt::black));
  painter->setFont(option.font);
  painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

QString FileListHeaderStyleSheet(const QPalette& palette) {
  return QStringLiteral(
             "QHeaderView::section { background-color: %1; color: black; "
             "border: 1px solid palette(mid); padding: 0px; }")
      .arg(FileListCellBackground(0, 0, palette).name());
}

}  // namespace ostrel
