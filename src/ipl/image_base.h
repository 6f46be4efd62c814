// ImageBase<T, C>: a width x height grid of T with C planar channels.
//
// Each channel is one block of rows; every row starts on a 32-byte boundary
// and rows are rowStride() bytes apart, where the stride is width * sizeof(T)
// rounded up to a multiple of 32. The bytes between the last element of a row
// and the next row belong to no element. x is the column, y the row from the
// top. at() checks no range: 0 <= x < width(), 0 <= y < height() and
// 0 <= c < C are the caller's to keep. Copies are deep. A size the address
// space cannot hold (or a negative one) fails like any allocation, with
// std::bad_alloc.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace velIPL {

template <typename T, int C>
class ImageBase {
  static_assert(C >= 1);
  static_assert(std::is_trivially_destructible_v<T> && std::is_trivially_copyable_v<T>);

public:
  static constexpr int channels = C;
  using value_type = T;

  ImageBase() = default;

  ImageBase(int width, int height, const T& fill) { allocate(width, height, &fill); }

  ImageBase(const ImageBase& other) { copyFrom(other); }

  ImageBase(ImageBase&& other) noexcept { swap(other); }

  ImageBase& operator=(const ImageBase& other) {
    if (this != &other) {
      ImageBase copy(other);
      swap(copy);
    }
    return *this;
  }

  ImageBase& operator=(ImageBase&& other) noexcept {
    if (this != &other) {
      ImageBase empty;
      swap(empty);
      swap(other);
    }
    return *this;
  }

  ~ImageBase() = default;

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }

  T& at(int x, int y) { return rowTable_[0][y][x]; }
  const T& at(int x, int y) const { return rowTable_[0][y][x]; }
  T& at(int x, int y, int c) { return rowTable_[c][y][x]; }
  const T& at(int x, int y, int c) const { return rowTable_[c][y][x]; }

  // Start of row y of channel c; the row holds width() elements.
  T* row(int y, int c = 0) { return rowTable_[c][y]; }
  const T* row(int y, int c = 0) const { return rowTable_[c][y]; }

  // Bytes from the start of one row to the start of the next.
  std::size_t rowStride() const { return stride_; }

  static std::size_t strideFor(int width) {
    const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(T);
    return (bytes + 31) / 32 * 32;
  }

  void swap(ImageBase& other) noexcept {
    std::swap(height_, other.height_);
    std::swap(width_, other.width_);
    std::swap(stride_, other.stride_);
    std::swap(rowTable_, other.rowTable_);
    std::swap(block_, other.block_);
  }

private:
  void allocate(int width, int height, const T* fill) {
    if (width < 0 || height < 0) throw std::bad_array_new_length();
    const std::size_t stride = strideFor(width);
    if (stride != 0 && static_cast<std::size_t>(height) > (SIZE_MAX - 31) / stride) {
      throw std::bad_array_new_length();
    }
    const std::size_t blockBytes = static_cast<std::size_t>(height) * stride + 31;
    for (int c = 0; c < C; ++c) {
      block_[c].reset(new unsigned char[blockBytes]);
      rowTable_[c].reset(new T*[height > 0 ? height : 1]);
      const auto base = reinterpret_cast<std::uintptr_t>(block_[c].get());
      unsigned char* first = block_[c].get() + ((32 - base % 32) % 32);
      for (int y = 0; y < height; ++y) {
        T* row = reinterpret_cast<T*>(first + static_cast<std::size_t>(y) * stride);
        rowTable_[c][y] = row;
        if (fill) {
          for (int x = 0; x < width; ++x) ::new (static_cast<void*>(row + x)) T(*fill);
        }
      }
    }
    width_ = width;
    height_ = height;
    stride_ = stride;
  }

  // Row by row: T is trivially copyable, so a row's bytes are its elements.
  void copyFrom(const ImageBase& other) {
    allocate(other.width_, other.height_, nullptr);
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * sizeof(T);
    if (rowBytes == 0) return;
    for (int c = 0; c < C; ++c) {
      for (int y = 0; y < height_; ++y) std::memcpy(row(y, c), other.row(y, c), rowBytes);
    }
  }

  int height_ = 0;
  int width_ = 0;
  std::size_t stride_ = 0;
  std::array<std::unique_ptr<T*[]>, C> rowTable_{};
  std::array<std::unique_ptr<unsigned char[]>, C> block_{};
};

}  // namespace velIPL
