// ShiftTable: the final shift profile of every registered frame of a merge,
// as the merge reports them, with the two things the command line does with
// them: writing them as CSV and comparing them with a simulator's truth.
//
// The CSV has one line per registered frame: the frame's path (quoted when it
// holds a comma, quote or line break), then one whole-number shift per
// column. Truth files are the simulator's "frame,column,shift" table.
// Reading a truth file throws PathError(path, reason) for anything that is not
// such a table; the rest does not throw beyond std::bad_alloc.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "math/row_vector.h"

namespace lumifold {

// A field as CSV writes it: quoted, with quotes doubled, when it holds a
// comma, a quote or a line break; as it is otherwise. Bytes that are not
// UTF-8 become U+FFFD (validUtf8), so the table stays valid UTF-8.
std::string csvField(const std::string& text);

// True shifts by frame index, each one value per column.
using ShiftTruth = std::map<int, std::vector<int>>;

// Reads a "frame,column,shift" table (header line first). Every frame must
// list columns 0, 1, ... in order.
ShiftTruth readShiftTruth(const std::string& path);

struct ShiftRecovery {
  long long matched = 0;   // interior columns whose shift equals the truth
  long long withinOne = 0; // interior columns at most one row off
  long long compared = 0;  // interior columns compared
  int firstColumn = 0;     // the interior columns compared: first ..
  int lastColumn = -1;     // .. last, inclusive (last < first: none)
};

class ShiftTable {
public:
  // Registers image imageIndex's final shift profile (the merge's observer).
  void record(int imageIndex, const mathORN::RowVector& shifts);

  // One line per recorded frame in recording order: paths[imageIndex], then
  // the shifts.
  std::string toCsv(const std::vector<std::string>& paths) const;

  // Compares every recorded frame i with its true shift relative to truth
  // frame reference (the merge's reference): truth i minus truth reference,
  // as the truth gives every frame's shift relative to its frame 0; a
  // reference missing from the truth counts as unmoved. Over the interior
  // columns, those at least margin columns from either edge, where the
  // median filters see a full window. Frames missing from the truth count as
  // compared and not matched.
  ShiftRecovery compare(const ShiftTruth& truth, int width, int margin, int reference) const;

  int frames() const { return static_cast<int>(rows_.size()); }

  // The shifts recorded for frame imageIndex; null when there are none.
  const std::vector<int>* shiftsOf(int imageIndex) const;

private:
  struct Row {
    int imageIndex;
    std::vector<int> shifts;
  };
  std::vector<Row> rows_;
};

}  // namespace lumifold
