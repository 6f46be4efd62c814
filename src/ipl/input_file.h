// InputFile: opens a path for binary reading only when it names a regular
// file, and hands it out as a std::istream.
//
// A directory, device, pipe or socket counts as "cannot be opened": an image
// is read twice (probed when it is added, decoded when it is merged), which a
// pipe cannot serve, and a FIFO or terminal could block the program or feed
// it without end. The path is opened without blocking and checked on the open
// descriptor, so it cannot be swapped for such a file between check and use.
// The descriptor is closed when the InputFile is destroyed. Nothing here
// throws on a failed open; isOpen() tells.
#pragma once

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

namespace velIPL {

class InputFile {
public:
  explicit InputFile(const std::string& fileName);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool isOpen() const { return buffer_ != nullptr; }

  // The file from its first byte; only valid while isOpen().
  std::istream& stream() { return stream_; }

private:
  std::unique_ptr<std::streambuf> buffer_;
  std::istream stream_{nullptr};
};

}  // namespace velIPL
