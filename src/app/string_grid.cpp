#include "app/string_grid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>

namespace lumifold {

StringGrid::StringGrid(QWidget* parent) : QTableWidget(1, 1, parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setWordWrap(false);
  setTextElideMode(Qt::ElideMiddle);
  showTexts({});
}

void StringGrid::setDefaultRowHeight(int height) {
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(height);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

void StringGrid::showTexts(const QStringList& texts) {
  const int rows = std::max<int>(1, static_cast<int>(texts.size()));
  setRowCount(rows);
  for (int r = 0; r < rows; ++r) {
    const QString text = r < texts.size() ? texts[r] : QString();
    QTableWidgetItem* cell = item(r, 0);
    if (!cell) {
      cell = new QTableWidgetItem;
      cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      setItem(r, 0, cell);
    }
    cell->setText(text);
    // A path too long for the column is shortened in the middle; the whole
    // path stays readable in the tool tip.
    cell->setToolTip(text);
  }
}

QString StringGrid::cellText(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell ? cell->text() : QString();
}

std::optional<std::pair<int, int>> StringGrid::selectedRows() const {
  const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
  if (ranges.isEmpty()) return std::nullopt;
  // The selection mode allows one contiguous range; take its hull anyway.
  int top = ranges.front().topRow();
  int bottom = ranges.front().bottomRow();
  for (const QTableWidgetSelectionRange& r : ranges) {
    top = std::min(top, r.topRow());
    bottom = std::max(bottom, r.bottomRow());
  }
  return std::make_pair(top, bottom);
}

void StringGrid::selectRows(int top, int bottom) {
  selectNothing();
  top = std::max(top, 0);
  bottom = std::min(bottom, rowCount() - 1);
  if (top > bottom) return;
  setRangeSelected(QTableWidgetSelectionRange(top, 0, bottom, 0), true);
}

void StringGrid::selectNothing() { selectionModel()->clear(); }

void StringGrid::keyPressEvent(QKeyEvent* event) {
  emit keyDown(event->key(), event->modifiers());
  QTableWidget::keyPressEvent(event);
}

}  // namespace lumifold
