#include "app/hit_table.h"

#include <algorithm>

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/frozen_column.h"

namespace ostrel {
namespace {

// Room the standard cell drawing leaves beside the text.
constexpr int kCellTextMargin = 8;

// Gives a cell whose text does not fit its width a tooltip with the whole text.
class WholeTextDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !index.isValid()) {
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty() ||
        option.fontMetrics.horizontalAdvance(text) + kCellTextMargin <= option.rect.width()) {
      QToolTip::hideText();
      event->ignore();
      return false;
    }
    // Escaped: a request in a log may well look like markup.
    QToolTip::showText(
        event->globalPos(),
        QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text.toHtmlEscaped()), view,
        option.rect);
    return true;
  }
};

QString CellForCopy(const QTableWidget& table, int row, int column) {
  const QTableWidgetItem* item = table.item(row, column);
  if (item == nullptr) return {};
  QString text = item->text();
  for (QChar& c : text) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
      c = QLatin1Char(' ');
    }
  }
  return text;
}

}  // namespace

QString RowsAsTabSeparatedText(const QTableWidget& table, const std::vector<int>& rows) {
  QString text;
  for (const int row : rows) {
    for (int column = 0; column < table.columnCount(); ++column) {
      if (column > 0) text += QLatin1Char('\t');
      text += CellForCopy(table, row, column);
    }
    text += QLatin1Char('\n');
  }
  return text;
}

HitTableExtras::HitTableExtras(QTableWidget& table, Dialogs& dialogs)
    : QObject(&table), table_(table), dialogs_(dialogs), frozen_column_(new FrozenColumn(table)) {
  auto* delegate = new WholeTextDelegate(this);
  table.setItemDelegate(delegate);
  frozen_column_->view().setItemDelegate(delegate);
  connect(&table, &QAbstractItemView::doubleClicked, this, &HitTableExtras::ShowCellText);
  connect(&frozen_column_->view(), &QAbstractItemView::doubleClicked, this,
          &HitTableExtras::ShowCellText);
  table.installEventFilter(this);
}

bool HitTableExtras::eventFilter(QObject* watched, QEvent* event) {
  // Before the view's own handling, which copies only the current cell.
  if (watched == &table_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    CopySelectedRows();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void HitTableExtras::CopySelectedRows() {
  std::vector<int> rows;
  for (const QModelIndex& index : table_.selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end());
  QGuiApplication::clipboard()->setText(RowsAsTabSeparatedText(table_, rows));
}

void HitTableExtras::ShowCellText(const QModelIndex& index) {
  if (!index.isValid()) return;
  QDialog dialog(table_.window());
  dialog.setObjectName(QStringLiteral("CellTextForm"));
  const QTableWidgetItem* header = table_.horizontalHeaderItem(index.column());
  const QString title = header != nullptr ? header->text() : QString();
  dialog.setWindowTitle(title.isEmpty() ? QStringLiteral("单元格内容") : title);
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QPlainTextEdit(index.data(Qt::DisplayRole).toString(), &dialog);
  text->setObjectName(QStringLiteral("CellText"));
  text->setReadOnly(true);
  // A request without blanks still wraps.
  text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout->addWidget(text);
  dialog.resize(520, 220);
  dialogs_.ShowModal(dialog);
}

}  // namespace ostrel
