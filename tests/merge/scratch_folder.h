// A fresh, empty folder under the system's temporary folder for one test,
// removed with everything in it when the object goes out of scope; and the
// small file helpers the merge and simulator tests share.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "ipl/images.h"

namespace testutil {

class ScratchFolder {
public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("lumifold-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
};

// Saves a grey image as a 24-bit BMP with equal channels, which reads back
// as the same grey values; returns the path.
inline std::string saveGrey(const velIPL::GImage& grey, const std::string& path) {
  velIPL::RGBImage rgb(grey.width(), grey.height(), 0);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < grey.height(); ++y) {
      for (int x = 0; x < grey.width(); ++x) rgb.at(x, y, c) = grey.at(x, y);
    }
  }
  rgb.save(path);
  return path;
}

// The whole content of a file; empty when it cannot be read.
inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string content;
  if (in) content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return content;
}

inline std::string writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

}  // namespace testutil
