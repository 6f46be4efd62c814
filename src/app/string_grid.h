// StringGrid: a one-column grid of texts with a selection of whole rows,
// the way the image list shows its entries.
//
// It always has at least one row (an empty list shows one empty row), no
// header rows or columns, grid lines, no editing, and a vertical scroll bar
// only while the rows do not fit. The
// selection is one range of rows, Top..Bottom, or none. Key presses are
// passed to keyDown() before the grid handles them itself, so the owner
// can act on the Delete key. A row can be marked with what a merge made of
// it (greyed, in bold, a short note at its right end, a tool tip); showing
// texts anew clears every mark.
#pragma once

#include <QStringList>
#include <QTableWidget>

#include <optional>
#include <utility>

namespace lumifold {

class StringGrid : public QTableWidget {
  Q_OBJECT

public:
  explicit StringGrid(QWidget* parent = nullptr);

  // Shows texts one per row; no texts gives one empty row.
  void showTexts(const QStringList& texts);
  QString cellText(int row) const;

  // The selected row range (Top, Bottom), or nothing when no row is
  // selected.
  std::optional<std::pair<int, int>> selectedRows() const;
  // Selects rows top..bottom, clipped to the grid.
  void selectRows(int top, int bottom);
  // Selects no cell at all, and leaves no current cell either.
  void selectNothing();

  struct RowMark {
    bool greyed = false;
    bool bold = false;
    QString note;
    QString tip;
  };
  // Marks an existing row; its text stays as it is.
  void markRow(int row, const RowMark& mark);
  // The note a row is marked with; "" when it is not.
  QString rowNote(int row) const;
  bool rowGreyed(int row) const;
  bool rowBold(int row) const;

  // The column's width at the design size; once shown, the column also
  // reaches the right edge of a grid grown wider.
  void setDefaultColumnWidth(int width);
  void setDefaultRowHeight(int height);

signals:
  void keyDown(int key, Qt::KeyboardModifiers modifiers);

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void fitColumn();

  int designColumnWidth_ = 0;
};

}  // namespace lumifold
