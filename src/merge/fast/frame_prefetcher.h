// FramePrefetcher: reads the files of a list in order from a given index
// on, each one on a reader thread while the caller is still busy with the
// one before. A read that fails rethrows its exception from take(); the
// destructor waits for a read still running. One thread serves the whole
// merge: starting a thread per file costs about as much as reading a small
// one.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipl/images.h"

namespace lumifold {

class FramePrefetcher {
public:
  // Called on the reader thread with each image read and its index, before
  // take() hands the image over.
  using Prepare = std::function<void(const velIPL::GImage& image, int index)>;

  // Keeps a reference to fileNames, which must outlive the prefetcher.
  FramePrefetcher(const std::vector<std::string>& fileNames, int first, Prepare prepare = {});
  ~FramePrefetcher();

  FramePrefetcher(const FramePrefetcher&) = delete;
  FramePrefetcher& operator=(const FramePrefetcher&) = delete;

  // The next image of the list; starts reading the one after it.
  velIPL::GImage take();

private:
  void readLoop();

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

}  // namespace lumifold
