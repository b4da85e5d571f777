#pragma once

#include <QColor>
#include <QPalette>
#include <QStyledItemDelegate>

namespace ostrel {

// The background of file-list cell (column, row) in grid coordinates, where row 0 is the
// header row and column 0 the number column: the header row and the number column in the
// 3-D light colour (QPalette::Midlight, the role Qt maps the desktop's 3-D light to), data
// cells of even rows from 2 on in the tooltip base colour, all others white.
QColor FileListCellBackground(int column, int row, const QPalette& palette);

// The colour of the frame drawn around the file list's current row: the palette's
// highlight colour.
QColor FileListFrameColour(const QPalette& palette);

// How wide, in pixels, that frame is.
inline constexpr int kFileListFrameWidth = 2;

// Paints the file list's data cells by FileListCellBackground, black text from the cell's
// top-left corner without margin. Selection does not change the colours; the current row
// (the one "单行删除" and the Delete key act on) gets a frame in FileListFrameColour on top,
// so the user sees which row that is. Table row k is grid row k + 1 (the grid's header
// row is the table's header view).
class FileListDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

// The style sheet that gives a header view the header row's colour and black text.
QString FileListHeaderStyleSheet(const QPalette& palette);

}  // namespace ostrel
