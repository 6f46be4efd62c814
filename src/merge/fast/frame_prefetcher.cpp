#include "merge/fast/frame_prefetcher.h"

#include <system_error>
#include <utility>

namespace lumifold {

FramePrefetcher::FramePrefetcher(FrameReader& reader, int count, int first, Prepare prepare)
    : reader_(reader), count_(count), next_(first), prepare_(std::move(prepare)) {
  if (next_ >= count_) return;
  requested_ = next_;
  // Without a thread to spare, take() simply reads the frame itself.
  try {
    thread_ = std::thread([this] { readLoop(); });
  } catch (const std::system_error&) {
    requested_ = -1;
  }
}

FramePrefetcher::~FramePrefetcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void FramePrefetcher::readFrame(int index, FramePixels& frame) {
  reader_.read(index, frame);
  if (prepare_) prepare_(frame.grey, index);
}

FramePixels FramePrefetcher::take() {
  if (!thread_.joinable()) {
    FramePixels frame;
    readFrame(next_, frame);
    ++next_;
    return frame;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ready_; });
  ready_ = false;
  ++next_;
  std::exception_ptr failure = std::exchange(failure_, nullptr);
  FramePixels frame = std::move(frame_);
  if (!failure && next_ < count_) {
    requested_ = next_;
    lock.unlock();
    changed_.notify_all();
  }
  if (failure) std::rethrow_exception(failure);
  return frame;
}

void FramePrefetcher::readLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || requested_ >= 0; });
    if (stopping_) return;
    const int index = std::exchange(requested_, -1);
    lock.unlock();
    FramePixels frame;
    std::exception_ptr failure;
    try {
      readFrame(index, frame);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    frame_ = std::move(frame);
    failure_ = failure;
    ready_ = true;
    changed_.notify_all();
  }
}

}  // namespace lumifold
