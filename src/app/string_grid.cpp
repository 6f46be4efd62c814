#include "app/string_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace lumifold {

namespace {

constexpr int kNoteRole = Qt::UserRole + 1;
// Space between the text and a note, and after the note.
constexpr int kNoteGap = 12;
constexpr int kNoteMargin = 4;

// Draws a row's note right-aligned in the row's own colour, italic, the
// text shortened to leave room for it.
class NoteDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QString note = index.data(kNoteRole).toString();
    if (note.isEmpty()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    QFont noteFont = item.font;
    noteFont.setItalic(true);
    noteFont.setBold(false);
    const int noteWidth = QFontMetrics(noteFont).horizontalAdvance(note);
    item.text = item.fontMetrics.elidedText(item.text, Qt::ElideMiddle,
                                            std::max(0, item.rect.width() - noteWidth - kNoteGap - kNoteMargin));
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    painter->save();
    painter->setFont(noteFont);
    const bool selected = item.state & QStyle::State_Selected;
    painter->setPen(selected ? item.palette.color(QPalette::HighlightedText)
                             : index.data(Qt::ForegroundRole).value<QBrush>().color());
    if (!selected && !index.data(Qt::ForegroundRole).isValid()) painter->setPen(item.palette.color(QPalette::Text));
    painter->drawText(item.rect.adjusted(0, 0, -kNoteMargin, 0), Qt::AlignRight | Qt::AlignVCenter, note);
    painter->restore();
  }
};

}  // namespace

StringGrid::StringGrid(QWidget* parent) : QTableWidget(1, 1, parent) {
  horizontalHeader()->hide();
  verticalHeader()->hide();
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A list longer than the grid scrolls; a short one shows no bar, as
  // designed (a bar always off left a blank strip on some styles).
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWordWrap(false);
  setTextElideMode(Qt::ElideMiddle);
  setItemDelegate(new NoteDelegate(this));
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
    cell->setData(kNoteRole, QVariant());
    cell->setData(Qt::ForegroundRole, QVariant());
    cell->setData(Qt::FontRole, QVariant());
  }
}

void StringGrid::markRow(int row, const RowMark& mark) {
  QTableWidgetItem* cell = item(row, 0);
  if (!cell) return;
  cell->setData(kNoteRole, mark.note.isEmpty() ? QVariant() : QVariant(mark.note));
  cell->setData(Qt::ForegroundRole, mark.greyed ? QVariant(QBrush(palette().color(QPalette::Disabled, QPalette::Text)))
                                                : QVariant());
  if (mark.bold) {
    QFont bold = font();
    bold.setBold(true);
    cell->setData(Qt::FontRole, bold);
  } else {
    cell->setData(Qt::FontRole, QVariant());
  }
  cell->setToolTip(mark.tip.isEmpty() ? cell->text() : cell->text() + QLatin1Char('\n') + mark.tip);
}

QString StringGrid::cellText(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell ? cell->text() : QString();
}

QString StringGrid::rowNote(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell ? cell->data(kNoteRole).toString() : QString();
}

bool StringGrid::rowGreyed(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell && cell->data(Qt::ForegroundRole).isValid();
}

bool StringGrid::rowBold(int row) const {
  const QTableWidgetItem* cell = item(row, 0);
  return cell && cell->data(Qt::FontRole).isValid() && cell->font().bold();
}

void StringGrid::setDefaultColumnWidth(int width) {
  designColumnWidth_ = width;
  setColumnWidth(0, width);
}

void StringGrid::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  fitColumn();
}

void StringGrid::fitColumn() {
  if (designColumnWidth_ <= 0 || !isVisible()) return;
  // Never narrower than designed, and reaching the right edge of a grid
  // grown wider.
  setColumnWidth(0, std::max(designColumnWidth_, viewport()->width()));
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
