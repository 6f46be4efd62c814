// OutputFile: writes a file so that a failure never leaves a broken, emptied
// or half-written target behind wherever the system leaves a way to avoid
// it, and never writes a file the user may not write.
//
// How the bytes reach the target depends on what it is:
// - missing: a new temporary file in the target's folder, which commit()
//   flushes to the disk and renames to the target's name;
// - a regular file: it must first accept opening for writing, or nothing is
//   done at all ("Cannot open image file", the file untouched), so a file
//   the user made read-only stays as it is. It is then replaced as a
//   missing one is, through a symbolic link the file the link points to,
//   the replacement taking the old file's owner, group and permission bits
//   before it is renamed. Where that cannot be, it is written in place: a
//   folder that takes no new file, an owner or group the user may not give,
//   or more than one hard link (every name keeps showing the one file, as
//   it always did). In place, the old bytes are overwritten from the start
//   and cut to the new length only at commit(), so a failure before the
//   first write leaves the file as it was and a new picture of the old size
//   needs no more room on the disk;
// - anything else (a device such as /dev/full, a pipe): written in place,
//   since there is nothing to replace it with.
//
// Throws IPLException: "Cannot open image file " + name when the file cannot
// be created or opened, "Cannot write image file " + name when a write, the
// flush, the cut or the rename fails; either carries the system's error
// number. If commit() has not succeeded when the object is destroyed, a
// temporary file is removed and a replaced target is untouched (one written
// in place holds whatever was written). The stream may be used for any
// bytes, not only images; only the messages speak of image files.
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
  enum class Way { replace, overwrite, device };

  // Opens a new temporary file beside target_ into fd_; returns 0, or the
  // system's error number when none can be made.
  int openTemporary();
  void openRegular();
  [[noreturn]] void failOpen(int error);
  [[noreturn]] void fail(int error);
  void discard() noexcept;

  std::string fileName_;   // as the caller named it, for messages
  std::string target_;     // the path finally written (a link resolved)
  std::string temporary_;  // empty unless replacing
  Way way_ = Way::replace;
  int fd_ = -1;
  std::unique_ptr<std::streambuf> buffer_;
  std::ostream stream_{nullptr};
};

}  // namespace velIPL
