#include "merge/merger.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "ipl/ipl_exception.h"
#include "math/col_vector.h"
#include "math/cplx_vector.h"
#include "merge/accumulation.h"
#include "merge/anterior_edge.h"
#include "merge/column_correlator.h"
#include "merge/column_transform.h"
#include "merge/median_filters.h"
#include "merge/worker_pool.h"

namespace lumifold {

namespace {

// Reads the files of a list in order from a given index on, each one on a
// reader thread while the caller is still busy with the one before. A read
// that fails rethrows its exception from take(); the destructor waits for a
// read still running. One thread serves the whole merge: starting a thread
// per file costs about as much as reading a small one.
class FramePrefetcher {
public:
  // Called on the reader thread with each image read and its index, before
  // take() hands the image over.
  using Prepare = std::function<void(const velIPL::GImage& image, int index)>;

  FramePrefetcher(const std::vector<std::string>& fileNames, int first, Prepare prepare = {})
      : fileNames_(fileNames), next_(first), prepare_(std::move(prepare)) {
    if (next_ >= static_cast<int>(fileNames_.size())) return;
    requested_ = next_;
    // Without a thread to spare, take() simply reads the file itself.
    try {
      reader_ = std::thread([this] { readLoop(); });
    } catch (const std::system_error&) {
      requested_ = -1;
    }
  }

  ~FramePrefetcher() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
  }

  FramePrefetcher(const FramePrefetcher&) = delete;
  FramePrefetcher& operator=(const FramePrefetcher&) = delete;

  // The next image of the list; starts reading the one after it.
  velIPL::GImage take() {
    if (!reader_.joinable()) {
      velIPL::GImage image(fileNames_[next_]);
      if (prepare_) prepare_(image, next_);
      ++next_;
      return image;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_; });
    ready_ = false;
    ++next_;
    std::exception_ptr failure = std::exchange(failure_, nullptr);
    velIPL::GImage image = std::move(image_);
    if (!failure && next_ < static_cast<int>(fileNames_.size())) {
      requested_ = next_;
      lock.unlock();
      changed_.notify_all();
    }
    if (failure) std::rethrow_exception(failure);
    return image;
  }

private:
  void readLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || requested_ >= 0; });
      if (stopping_) return;
      const int index = std::exchange(requested_, -1);
      lock.unlock();
      velIPL::GImage image;
      std::exception_ptr failure;
      try {
        image = velIPL::GImage(fileNames_[index]);
        if (prepare_) prepare_(image, index);
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      image_ = std::move(image);
      failure_ = failure;
      ready_ = true;
      changed_.notify_all();
    }
  }

  const std::vector<std::string>& fileNames_;
  int next_;
  Prepare prepare_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: the index to read next (-1: none), and a finished read.
  int requested_ = -1;
  bool ready_ = false;
  bool stopping_ = false;
  velIPL::GImage image_;
  std::exception_ptr failure_;
};

// Threads for one merge: every core the process may use, up to 8. A frame
// has only a few hundred column batches, so more threads mostly wait; a
// large machine is better used by merging several series at once.
int mergeThreads() { return std::min(WorkerPool::availableCores(), 8); }

}  // namespace

using mathORN::CplxVector;
using mathORN::RowVector;
using velIPL::CImage;
using velIPL::GImage;

Merger::Merger(const std::vector<std::string>& fileNames, MergeProgress* progress)
    : fileNames_(&fileNames), imageCount_(static_cast<int>(fileNames.size())), progress_(progress) {}

void Merger::setShiftObserver(ShiftObserver observer) { observer_ = std::move(observer); }

GImage Merger::mergeByCorrelation() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return implementation_ == Implementation::Fast ? correlationFast() : correlationStraightforward();
}

GImage Merger::mergeByAnteriorEdge() {
  if (imageCount_ < 1) throw velIPL::IPLException("No image to merge");
  return implementation_ == Implementation::Fast ? anteriorEdgeFast() : anteriorEdgeStraightforward();
}

GImage Merger::correlationStraightforward() {
  startProgress();
  const GImage reference = load(0);
  CImage referenceSpectra;
  columnSpectra(reference, referenceSpectra);
  const int m = referenceSpectra.height();
  startAccumulator(reference);

  // Every column comparison uses the same weights and inverse table; built
  // once here rather than per column, with identical values.
  const CplxVector weights = frequencyWeights(m);
  CplxVector inverse(m);
  inverseTwiddles(inverse);

  for (int j = 1; j < imageCount_; ++j) {
    const GImage image = load(j);
    requireReferenceSize(image);
    CImage spectra;
    columnSpectra(image, spectra);
    RowVector s(width_);
    CplxVector r(m);
    CplxVector i(m);
    for (int x = 0; x < width_; ++x) {
      for (int k = 0; k < m; ++k) {
        r[k] = referenceSpectra.at(x, k);
        i[k] = spectra.at(x, k);
      }
      s[x] = wrapLag(peakLag(crossCorrelate(r, i, weights, inverse)), m);
    }
    smoothProfile(s);
    accept(j, image, s);
  }
  return averageResult(accumulator_, imageCount_);
}

GImage Merger::anteriorEdgeStraightforward() {
  startProgress();
  const GImage reference = load(0);
  const RowVector referenceEdges = anteriorEdges(reference);
  startAccumulator(reference);

  for (int j = 1; j < imageCount_; ++j) {
    const GImage image = load(j);
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(image) - referenceEdges);
    requireReferenceSize(image);
    smoothProfile(s);
    correctOutliers(s);
    accept(j, image, s);
  }
  return averageResult(accumulator_, imageCount_);
}

GImage Merger::correlationFast() {
  startProgress();
  const GImage reference = load(0);
  WorkerPool pool(mergeThreads());
  ColumnCorrelator correlator(reference, pool);
  // The reader thread also turns each image into its column sums, while the
  // image is still in its core's cache.
  FramePrefetcher frames(*fileNames_, 1, [&correlator](const GImage& image, int index) {
    correlator.prepare(image, index % 2);
  });
  startAccumulator(reference);
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const GImage image = frames.take();
    requireReferenceSize(image);
    RowVector s = correlator.shifts(j % 2);
    smoothProfile(s);
    accept(j, image, s, &pool);
  }
  return averageResult(accumulator_, imageCount_, pool);
}

GImage Merger::anteriorEdgeFast() {
  startProgress();
  const GImage reference = load(0);
  FramePrefetcher frames(*fileNames_, 1);
  // The reader thread is this merge's second core: the edges and sums of a
  // frame take less time than reading the next one, and handing them to
  // helpers would only add the cost of waking them.
  WorkerPool pool(1);
  const RowVector referenceEdges = anteriorEdges(reference);
  startAccumulator(reference);
  for (int j = 1; j < imageCount_; ++j) {
    currentImage_ = j;
    const GImage image = frames.take();
    // A different width is reported by the difference of the edge profiles.
    RowVector s = -(anteriorEdges(image, pool) - referenceEdges);
    requireReferenceSize(image);
    smoothProfile(s);
    correctOutliersInLanes(s);
    accept(j, image, s, &pool);
  }
  return averageResult(accumulator_, imageCount_, pool);
}

void Merger::startProgress() {
  if (progress_) progress_->start(imageCount_);
}

void Merger::stepProgress() {
  if (progress_) progress_->step();
}

GImage Merger::load(int index) {
  currentImage_ = index;
  return GImage((*fileNames_)[index]);
}

void Merger::startAccumulator(const GImage& reference) {
  width_ = reference.width();
  height_ = reference.height();
  stepProgress();
  accumulator_ = velIPL::DImage(width_, height_, 0.0);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) accumulator_.at(x, y) = reference.at(x, y);
  }
}

void Merger::requireReferenceSize(const GImage& image) const {
  if (image.width() != width_ || image.height() != height_) {
    throw velIPL::IPLException("Image has not same dimensions as reference image");
  }
}

void Merger::accept(int index, const GImage& image, const RowVector& shifts, WorkerPool* pool) {
  if (observer_) observer_(index, shifts);
  if (pool) {
    accumulateShifted(accumulator_, image, shifts, *pool);
  } else {
    accumulateShifted(accumulator_, image, shifts);
  }
  stepProgress();
}

}  // namespace lumifold
