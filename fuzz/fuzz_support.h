// What the fuzz targets share: how a broken rule is reported, the reader's
// message for each refusal of the probe, comparing images, and a scratch
// file that holds one input so that the file-reading path (InputFile, the
// probe's and the reader's file entry points, the merge engine) sees it
// exactly as it would see a file on disk.
//
// A broken rule prints what broke and aborts; libFuzzer records the input
// as a finding, and the replay driver fails its test. Nothing here throws.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ipl/images.h"

namespace fuzzsupport {

[[noreturn]] inline void broken(const char* target, const char* rule, const std::string& detail) {
  std::fprintf(stderr, "%s: %s (%s)\n", target, rule, detail.c_str());
  std::abort();
}

// The reader's message for each refusal the probe can report, written out
// here rather than taken from the library, so a change to either side shows.
inline const std::map<std::string, std::string>& readerMessageForProbeMessage() {
  static const std::map<std::string, std::string> table = {
      {"Bitmap file not complete", "Premature end of stream"},
      {"File is not a bitmap image", "Not a bmp image"},
      {"Bitmap file is not complete", "Invalid bmp header size"},
      {"Unsupported compression", "Unsupported compression"},
      {"Bitmap width is negative", "Negative width not allowed"},
      {"Bitmap file is corrupt", "File corrupt"},
      {"Bitmap image is too large", "Image too large"},
  };
  return table;
}

inline bool samePixels(const velIPL::GImage& a, const velIPL::GImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.at(x, y) != b.at(x, y)) return false;
    }
  }
  return true;
}

// A regular file that lives for the whole process and is rewritten for
// every input. Kept in memory (memfd) so the fuzzer's pace is not the
// disk's; path() opens it afresh from its first byte, as open() would a
// file of the series.
class ScratchFile {
public:
  explicit ScratchFile(const char* name) {
    fd_ = ::memfd_create(name, MFD_CLOEXEC);
    if (fd_ >= 0) {
      path_ = "/proc/self/fd/" + std::to_string(fd_);
    } else {
      // Without memfd a real temporary file serves as well, only slower.
      std::string pattern = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/" + name +
                            "-XXXXXX";
      fd_ = ::mkstemp(pattern.data());
      if (fd_ < 0) broken(name, "cannot make a scratch file", pattern);
      ::unlink(pattern.c_str());
      path_ = "/proc/self/fd/" + std::to_string(fd_);
      if (::access(path_.c_str(), R_OK) != 0) broken(name, "no /proc/self/fd to name a scratch file by", path_);
    }
  }
  ~ScratchFile() { ::close(fd_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Makes the file hold exactly these bytes.
  void assign(const void* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) broken("ScratchFile", "cannot empty the scratch file", path_);
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(done));
      if (n <= 0) broken("ScratchFile", "cannot fill the scratch file", path_);
      done += static_cast<std::size_t>(n);
    }
  }
  void assign(const std::string& bytes) { assign(bytes.data(), bytes.size()); }

  const std::string& path() const { return path_; }

private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace fuzzsupport
