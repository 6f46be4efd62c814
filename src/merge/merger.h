// Merger: turns an ordered list of B-scan files of one retinal section into
// one averaged grey image. File 0 is the reference; every other file is
// registered to it column by column (a whole-row axial shift per column),
// added into a running sum, and the sum is divided by the number of files.
// A merge runs to completion on the calling thread, which receives every
// progress call and every observer call, in image order; the fast
// implementation lends it helper threads only for the duration of a merge.
//
// The Merger keeps a pointer to the caller's list: the caller keeps it alive
// and unchanged for the Merger's life. Each merge reads every file exactly
// once and holds at most the reference and two further images (the one
// being registered and the next one being read). Nothing is
// caught: a file that cannot be read ends the merge with the reader's
// velIPL::IPLException, an image whose size differs from the reference's
// with velIPL::IPLException("Image has not same dimensions as reference
// image") (the anterior-edge merge reports a different width as
// mathORN::MathException("Incompatible vector size")), and currentImage()
// then names the file that failed. Progress, when given, must outlive the
// Merger.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/merge_progress.h"

namespace lumifold {

class WorkerPool;

class Merger {
public:
  explicit Merger(const std::vector<std::string>& fileNames, MergeProgress* progress = nullptr);

  // Registration by the phase-normalised cross-correlation of the column
  // spectra, smoothed by a running median of 15. Throws
  // velIPL::IPLException("Image must have at least 2 rows") for a reference
  // of fewer than two rows.
  velIPL::GImage mergeByCorrelation();
  // Registration by the first row reaching grey 200 in every column, cleaned
  // by the running median of 15 and the outlier correction of 25.
  velIPL::GImage mergeByAnteriorEdge();

  // How the frames are registered. Both give the same image, byte for byte.
  // Fast works on several columns at once, on every core the process may
  // use, and reads the next file while the current one is registered.
  // Straightforward runs every operation literally, one column at a time on
  // the calling thread: the yardstick that tests and benchmarks measure Fast
  // against.
  enum class Implementation { Fast, Straightforward };
  void setImplementation(Implementation implementation) { implementation_ = implementation; }
  Implementation implementation() const { return implementation_; }

  // Receives each registered frame's final shift profile (after the median
  // passes); does not change the result.
  using ShiftObserver = std::function<void(int imageIndex, const mathORN::RowVector& shifts)>;
  void setShiftObserver(ShiftObserver observer);

  // Index of the image being loaded or registered; after an exception
  // escapes a merge it names the file that failed. -1 before any merge.
  int currentImage() const { return currentImage_; }

private:
  // The literal loops; merger.cpp.
  velIPL::GImage correlationStraightforward();
  velIPL::GImage anteriorEdgeStraightforward();
  // The fast loops, built from the fast layer; fast/merger_fast.cpp.
  velIPL::GImage correlationFast();
  velIPL::GImage anteriorEdgeFast();
  void startProgress();
  void stepProgress();
  // Loads image index, remembering it as the current one.
  velIPL::GImage load(int index);
  // Sets the size from the reference and starts the sum with it.
  void startAccumulator(const velIPL::GImage& reference);
  void requireReferenceSize(const velIPL::GImage& image) const;
  // Hands the shifts to the observer, adds the shifted image and steps the
  // progress; acceptPooled adds it on the pool's threads.
  void accept(int index, const velIPL::GImage& image, const mathORN::RowVector& shifts);
  void acceptPooled(int index, const velIPL::GImage& image, const mathORN::RowVector& shifts, WorkerPool& pool);

  int width_ = 0;
  int height_ = 0;
  velIPL::DImage accumulator_;
  const std::vector<std::string>* fileNames_;
  int imageCount_;
  MergeProgress* progress_;
  ShiftObserver observer_;
  int currentImage_ = -1;
  Implementation implementation_ = Implementation::Fast;
};

}  // namespace lumifold
