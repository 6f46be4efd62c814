#include "merge/fast/frame_prefetcher.h"

#include <system_error>
#include <utility>

namespace lumifold {

FramePrefetcher::FramePrefetcher(const std::vector<std::string>& fileNames, int first, Prepare prepare)
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

FramePrefetcher::~FramePrefetcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

velIPL::GImage FramePrefetcher::take() {
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

void FramePrefetcher::readLoop() {
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

}  // namespace lumifold
