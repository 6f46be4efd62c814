// OutputFile: writes a file so that a failure never leaves a broken, emptied
// or half-written target behind.
//
// For a target that is missing or a regular file the bytes go to a new
// temporary file in the target's folder, which commit() flushes to the disk
// and renames over the target; an existing file keeps its permission bits
// and, through a symbolic link, its link. A target that exists but is not a
// regular file (a device such as /dev/full, a pipe) is written in place:
// there is nothing to replace it with.
//
// Throws IPLException: "Cannot open image file " + name when the file cannot
// be created or opened, "Cannot write image file " + name when a write, the
// flush, or the rename fails; either carries the system's error number. If
// commit() has not succeeded when the object is destroyed, the temporary
// file is removed and the target is untouched. The stream may be used for
// any bytes, not only images; only the messages speak of image files.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace velIPL {

class OutputFile {
public:
  explicit OutputFile(const std::string& fileName);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return stream_; }

  // Makes the written bytes the target's content.
  void commit();

private:
  [[noreturn]] void fail(int error);
  void discard() noexcept;

  std::string fileName_;   // as the caller named it, for messages
  std::string target_;     // the path finally written (a link resolved)
  std::string temporary_;  // empty when writing in place
  int fd_ = -1;
  std::unique_ptr<std::streambuf> buffer_;
  std::ostream stream_{nullptr};
};

}  // namespace velIPL
