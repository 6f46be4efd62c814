// FramePrefetcher: reads the frames of a merge list in order from a given
// index on, each one on a reader thread while the caller is still busy with
// the one before. A read that fails rethrows its exception from take(); the
// destructor waits for a read still running. One thread serves the whole
// merge: starting a thread per frame costs about as much as reading a small
// one.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "ipl/images.h"
#include "merge/frame_reader.h"

namespace lumifold {

class FramePrefetcher {
public:
  // Called on the reader thread with each frame's 8-bit picture and index,
  // before take() hands the frame over.
  using Prepare = std::function<void(const velIPL::GImage& grey, int index)>;

  // Reads frames first .. count - 1 through reader, which from now on only
  // the prefetcher uses and which must outlive it.
  FramePrefetcher(FrameReader& reader, int count, int first, Prepare prepare = {});
  ~FramePrefetcher();

  FramePrefetcher(const FramePrefetcher&) = delete;
  FramePrefetcher& operator=(const FramePrefetcher&) = delete;

  // The next frame of the list; starts reading the one after it.
  FramePixels take();

private:
  void readLoop();
  // Reads frame index and hands it to prepare_.
  void readFrame(int index, FramePixels& frame);

  FrameReader& reader_;
  int count_;
  int next_;
  Prepare prepare_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: the index to read next (-1: none), and a finished read.
  int requested_ = -1;
  bool ready_ = false;
  bool stopping_ = false;
  FramePixels frame_;
  std::exception_ptr failure_;
};

}  // namespace lumifold
