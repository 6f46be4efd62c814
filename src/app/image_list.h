// ImageList: the B-scans to merge, in merge order, with the size every one
// of them must have.
//
// Entry 0 is the reference image. The first file admitted into an empty
// list fixes refWidth and refHeight; removing entries never changes them,
// so the files left behind keep the size they were checked against. A file
// is admitted only when its decoder's header probe accepts it
// (velIPL::probeImageFile) and, after the first, when it has the
// reference's size; a top-down file, whose height is kept negative as the
// BMP header gives it, matches a bottom-up one of the same size. The list
// keeps no duplicate check of its own. A file of several frames (a
// multi-page TIFF, a multi-frame DICOM) becomes one row per frame, in file
// order, each shown as its path followed by " [frame N of M]", N from 1;
// rows, not files, are what the reference rule and deletion work on.
// Nothing here throws except std::bad_alloc.
#pragma once

#include <QString>
#include <QList>
#include <QStringList>

#include <optional>

namespace lumifold {

class ImageList {
public:
  // The number of rows.
  int fileCount() const { return static_cast<int>(entries_.size()); }
  // Meaningful only while fileCount() > 0.
  int refWidth() const { return refWidth_; }
  int refHeight() const { return refHeight_; }
  // The rows as shown: a file of one frame by its path alone.
  const QStringList& entries() const { return entries_; }
  // Row i's file and its frame index in the file (0 for a file of one frame).
  const QString& path(int row) const { return paths_[row]; }
  int frame(int row) const { return frames_[row]; }

  // Probes the file at path and appends its rows when acceptable. Returns
  // the reason for refusing it, or nothing when its frames became the new
  // last rows.
  // The caller has already checked that path names an existing file.
  std::optional<QString> admit(const QString& path);

  // Empties the list; the reference size stays until the next admission.
  void clear() {
    entries_.clear();
    paths_.clear();
    frames_.clear();
  }

  // Deletes the selected rows top..bottom (Delete key). A range that starts
  // at the reference row and spans more rows is kept; the reference row
  // alone may go, and the next entry becomes the reference. A range not
  // wholly inside the list (an empty list, no selection) is ignored.
  // Returns true when entries were removed.
  bool removeRows(int top, int bottom);

  // Moves row to the top, the others keeping their order: it becomes the
  // reference. All rows have the reference's size, so that stays. Returns
  // false (and changes nothing) for row 0 or a row outside the list.
  bool moveToFront(int row);

private:
  QStringList entries_;
  QStringList paths_;
  QList<int> frames_;
  int refWidth_ = 0;
  int refHeight_ = 0;
};

}  // namespace lumifold
