#pragma once

#include <vector>

#include <QObject>
#include <QString>

class QModelIndex;
class QTableWidget;

namespace ostrel {

class Dialogs;
class FrozenColumn;

// The selected rows `rows` of `table` (table rows, in the order given) as tab-separated
// text, one line per row, each ending in "\n", as spreadsheets paste it. Tabs and line
// breaks inside a cell become blanks, so every cell stays in its column.
QString RowsAsTabSeparatedText(const QTableWidget& table, const std::vector<int>& rows);

// What the hit table offers beside its cells: a first column that stays in place while
// the others scroll (FrozenColumn), a tooltip with the whole text of a cell too narrow for
// it, the whole text of a cell in a small window on double-click (through `dialogs`), and
// Ctrl+C copying the selected rows (RowsAsTabSeparatedText). Belongs to `table`; `dialogs`
// must outlive it.
class HitTableExtras : public QObject {
  Q_OBJECT

 public:
  HitTableExtras(QTableWidget& table, Dialogs& dialogs);

  // Copies the selected rows, top to bottom, to the clipboard.
  void CopySelectedRows();
  // Shows the whole text of the cell at `index` in a read-only window, modally.
  void ShowCellText(const QModelIndex& index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTableWidget& table_;
  Dialogs& dialogs_;
  FrozenColumn* frozen_column_;
};

}  // namespace ostrel
