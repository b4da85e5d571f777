#pragma once

#include <QHeaderView>
#include <QObject>
#include <QPointer>

class QTableView;

namespace ostrel {

// Keeps the first column of `table` in place while the other columns scroll sideways, as
// a grid's fixed column does: a second view over the same model and selection shows only
// that column on top of the table's left edge, following its rows, row heights, vertical
// scrolling and column 0's width both ways. The overlay view is a child of `table`, named
// after it with "FixedColumn" appended; this object belongs to `table` too.
class FrozenColumn : public QObject {
  Q_OBJECT

 public:
  explicit FrozenColumn(QTableView& table);

  // The overlay view.
  QTableView& view() { return *frozen_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void HideOtherColumns();
  void UpdateGeometry();

  QTableView& table_;
  QTableView* frozen_;
  // The table's column header. It goes before the table's model when the table is
  // destroyed, and the dying model still reports a reset: then there is nothing to do.
  QPointer<QHeaderView> table_header_;
};

}  // namespace ostrel
