// StringGrid: a one-column grid of texts with a selection of whole rows,
// the way the image list shows its entries.
//
// It always has at least one row (an empty list shows one empty row), no
// header rows or columns, grid lines, no scroll bars and no editing. The
// selection is one range of rows, Top..Bottom, or none. Key presses are
// passed to keyDown() before the grid handles them itself, so the owner
// can act on the Delete key.
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

  void setDefaultColumnWidth(int width) { setColumnWidth(0, width); }
  void setDefaultRowHeight(int height);

signals:
  void keyDown(int key, Qt::KeyboardModifiers modifiers);

protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace lumifold
