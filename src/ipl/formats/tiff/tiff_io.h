// TiffIo: one libtiff handle over our own bytes, for the TIFF reader and
// writer. Reading goes through a std::istream (a file or memory), writing
// into a growing memory buffer that the writer then saves safely; libtiff
// never opens a path itself.
//
// libtiff reports through per-handle callbacks: errors are kept (the first
// one, formatted into a fixed buffer, so a callback never allocates or
// throws through libtiff's C frames) and turned into IPLException by
// fail(); warnings (unknown private tags, as ImageJ writes) are dropped,
// except that a looping page chain is remembered (loopSeen()).
// Nothing is ever printed. The handle is closed when the object dies.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

typedef struct tiff TIFF;

namespace velIPL {

class TiffIo {
public:
  // Opens a TIFF for reading from the stream's start, which must outlive
  // this object. Throws "Not a TIFF file" or "Corrupt TIFF file: ...".
  explicit TiffIo(std::istream& stream);

  // Opens a TIFF for writing into bytes (replacing their content), which
  // must outlive this object; big-endian ("MM") or little-endian ("II").
  TiffIo(std::vector<unsigned char>& bytes, bool bigEndian);

  ~TiffIo();
  TiffIo(const TiffIo&) = delete;
  TiffIo& operator=(const TiffIo&) = delete;

  TIFF* get() const { return tiff_; }

  // Whether libtiff has reported an error since the last clearError().
  bool failed() const;
  void clearError();

  // Whether libtiff has warned that the page chain loops.
  bool loopSeen() const;

  // libtiff's first error since the last clearError(); empty when none.
  std::string error() const;

  // Throws IPLException(message + ": " + libtiff's first error, when any).
  [[noreturn]] void fail(const std::string& message) const;

  struct Context;

private:
  std::unique_ptr<Context> context_;
  TIFF* tiff_ = nullptr;
};

}  // namespace velIPL
