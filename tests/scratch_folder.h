// A fresh, empty folder under the system's temporary folder for one test,
// removed with everything in it when the object goes out of scope; and the
// small file helpers the suites share.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "ipl/images.h"

namespace testutil {

class ScratchFolder {
public:
  // Throws std::runtime_error with the system's reason when no folder can
  // be made, so a test fails there instead of working somewhere else.
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumifold-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a scratch folder " + pattern + ": " + std::strerror(errno));
    }
    path_ = pattern;
  }
  // Folders a test made read-only are opened again first, so nothing stays.
  ~ScratchFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      std::error_code ignored;
      if (it->is_directory(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
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
