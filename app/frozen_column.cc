#include "app/frozen_column.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

namespace ostrel {

FrozenColumn::FrozenColumn(QTableView& table)
    : QObject(&table),
      table_(table),
      frozen_(new QTableView(&table)),
      table_header_(table.horizontalHeader()) {
  frozen_->setObjectName(table.objectName() + QStringLiteral("FixedColumn"));
  frozen_->setModel(table.model());
  frozen_->setSelectionModel(table.selectionModel());
  frozen_->setFocusPolicy(Qt::NoFocus);
  frozen_->setFrameShape(QFrame::NoFrame);
  frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setEditTriggers(table.editTriggers());
  frozen_->setSelectionBehavior(table.selectionBehavior());
  frozen_->setSelectionMode(table.selectionMode());
  frozen_->setWordWrap(table.wordWrap());
  frozen_->setShowGrid(table.showGrid());
  frozen_->setVerticalScrollMode(table.verticalScrollMode());
  frozen_->verticalHeader()->hide();
  frozen_->verticalHeader()->setDefaultSectionSize(table.verticalHeader()->defaultSectionSize());
  frozen_->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  frozen_->horizontalHeader()->setHighlightSections(false);
  frozen_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  // Under the overlay the table's own cells would show through where it is narrower.
  table.viewport()->stackUnder(frozen_);
  // Pixel scrolling, so a column passes under the overlay instead of jumping behind it.
  table.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  QHeaderView* table_columns = table.horizontalHeader();
  QHeaderView* frozen_columns = frozen_->horizontalHeader();
  connect(table_columns, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
    if (column != 0) return;
    frozen_->setColumnWidth(0, width);
    UpdateGeometry();
  });
  connect(frozen_columns, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
    if (column == 0) table_.setColumnWidth(0, width);
  });
  connect(table_columns, &QHeaderView::geometriesChanged, this, &FrozenColumn::UpdateGeometry);
  connect(table.verticalHeader(), &QHeaderView::sectionResized, this,
          [this](int row, int, int height) { frozen_->setRowHeight(row, height); });
  connect(frozen_->verticalHeader(), &QHeaderView::sectionResized, this,
          [this](int row, int, int height) { table_.setRowHeight(row, height); });
  connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged, table.verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(table.verticalScrollBar(), &QAbstractSlider::valueChanged, frozen_->verticalScrollBar(),
          &QAbstractSlider::setValue);

  QAbstractItemModel* model = table.model();
  connect(model, &QAbstractItemModel::columnsInserted, this, &FrozenColumn::HideOtherColumns);
  connect(model, &QAbstractItemModel::columnsRemoved, this, &FrozenColumn::HideOtherColumns);
  connect(model, &QAbstractItemModel::modelReset, this, &FrozenColumn::HideOtherColumns);
  table.installEventFilter(this);
  HideOtherColumns();
}

bool FrozenColumn::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &table_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
    UpdateGeometry();
  }
  return QObject::eventFilter(watched, event);
}

void FrozenColumn::HideOtherColumns() {
  if (table_header_.isNull()) return;
  const int columns = table_.model()->columnCount();
  for (int column = 0; column < columns; ++column) {
    frozen_->setColumnHidden(column, column != 0);
  }
  if (columns > 0) frozen_->setColumnWidth(0, table_.columnWidth(0));
  UpdateGeometry();
}

void FrozenColumn::UpdateGeometry() {
  if (table_header_.isNull()) return;
  if (table_.model()->columnCount() == 0) {
    frozen_->hide();
    return;
  }
  const QHeaderView* header = table_.horizontalHeader();
  frozen_->horizontalHeader()->setFixedHeight(header->height());
  const int left = table_.frameWidth() +
                   (table_.verticalHeader()->isVisible() ? table_.verticalHeader()->width() : 0);
  frozen_->setGeometry(left, table_.frameWidth(), table_.columnWidth(0),
                       table_.viewport()->height() + header->height());
  frozen_->verticalScrollBar()->setValue(table_.verticalScrollBar()->value());
  frozen_->show();
}

}  // namespace ostrel
