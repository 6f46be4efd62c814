#include "ipl/formats/tiff/tiff_io.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>

#include "ipl/formats/frame_rules.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

struct TiffIo::Context {
  std::istream* in = nullptr;
  std::vector<unsigned char>* out = nullptr;
  std::uint64_t position = 0;  // writing only
  bool error = false;
  bool loop = false;
  char message[256] = {};
};

namespace {

using Context = TiffIo::Context;

Context& contextOf(thandle_t handle) { return *static_cast<Context*>(handle); }

// The callbacks run inside libtiff's C code: they catch everything and
// report failure through their results.

tmsize_t readProc(thandle_t handle, void* data, tmsize_t size) {
  Context& c = contextOf(handle);
  if (size < 0) return -1;
  if (c.out) {
    // libtiff reads back its own directories while linking a new page.
    const std::uint64_t have = c.position < c.out->size() ? c.out->size() - c.position : 0;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(have, static_cast<std::uint64_t>(size)));
    if (n) std::memcpy(data, c.out->data() + c.position, n);
    c.position += n;
    return static_cast<tmsize_t>(n);
  }
  c.in->read(static_cast<char*>(data), static_cast<std::streamsize>(size));
  const std::streamsize got = c.in->gcount();
  c.in->clear();
  return static_cast<tmsize_t>(got);
}

tmsize_t writeProc(thandle_t handle, void* data, tmsize_t size) {
  Context& c = contextOf(handle);
  if (!c.out || size < 0) return -1;
  try {
    const std::uint64_t end = c.position + static_cast<std::uint64_t>(size);
    if (end > c.out->size()) c.out->resize(end);
    std::memcpy(c.out->data() + c.position, data, static_cast<std::size_t>(size));
    c.position = end;
    return size;
  } catch (...) {
    return -1;
  }
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  Context& c = contextOf(handle);
  constexpr toff_t failure = static_cast<toff_t>(-1);
  if (c.in) {
    c.in->clear();
    if (offset > static_cast<toff_t>(std::numeric_limits<std::streamoff>::max())) return failure;
    const auto off = static_cast<std::streamoff>(offset);
    c.in->seekg(off, whence == SEEK_SET ? std::ios::beg : whence == SEEK_CUR ? std::ios::cur : std::ios::end);
    const std::istream::pos_type at = c.in->tellg();
    c.in->clear();
    return at == std::istream::pos_type(-1) ? failure : static_cast<toff_t>(at);
  }
  std::uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? c.position : c.out->size();
  c.position = base + offset;
  return c.position;
}

int closeProc(thandle_t) { return 0; }

toff_t sizeProc(thandle_t handle) {
  Context& c = contextOf(handle);
  if (c.out) return c.out->size();
  c.in->clear();
  const std::istream::pos_type here = c.in->tellg();
  c.in->seekg(0, std::ios::end);
  const std::istream::pos_type end = c.in->tellg();
  c.in->clear();
  c.in->seekg(here);
  return end == std::istream::pos_type(-1) ? 0 : static_cast<toff_t>(end);
}

int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

int errorHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
  Context& c = *static_cast<Context*>(user);
  if (!c.error) {
    c.error = true;
    char text[200];
    std::vsnprintf(text, sizeof text, format, args);
    std::snprintf(c.message, sizeof c.message, "%s%s%s", module ? module : "", module ? ": " : "", text);
  }
  return 1;
}

int warningHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
  Context& c = *static_cast<Context*>(user);
  char text[200];
  std::vsnprintf(text, sizeof text, format, args);
  // libtiff only warns when a page chain loops, and stops there.
  if (std::strstr(text, "looping")) c.loop = true;
  (void)module;
  return 1;
}

TIFF* openWith(Context& context, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &context);
  TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &context);
  // No single allocation of libtiff's own (tag arrays, strip buffers) may
  // exceed what the largest accepted frame needs.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, FrameLimits::maxFramePixels * 8);
  TIFF* tiff = TIFFClientOpenExt("TIFF", mode, &context, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                 unmapProc, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

}  // namespace

TiffIo::TiffIo(std::istream& stream) : context_(std::make_unique<Context>()) {
  context_->in = &stream;
  stream.clear();
  stream.seekg(0);
  unsigned char head[4] = {};
  stream.read(reinterpret_cast<char*>(head), 4);
  const bool little = head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
  const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
  if (!little && !big) throw IPLException("Not a TIFF file");
  stream.clear();
  stream.seekg(0);
  tiff_ = openWith(*context_, "rm");
  if (!tiff_) fail("Corrupt TIFF file");
}

TiffIo::TiffIo(std::vector<unsigned char>& bytes, bool bigEndian) : context_(std::make_unique<Context>()) {
  bytes.clear();
  context_->out = &bytes;
  tiff_ = openWith(*context_, bigEndian ? "wbm" : "wlm");
  if (!tiff_) fail("Cannot write image");
}

TiffIo::~TiffIo() {
  if (tiff_) TIFFClose(tiff_);
}

bool TiffIo::failed() const { return context_->error; }

void TiffIo::clearError() {
  context_->error = false;
  context_->message[0] = '\0';
}

bool TiffIo::loopSeen() const { return context_->loop; }

std::string TiffIo::error() const { return context_->error ? context_->message : ""; }

void TiffIo::fail(const std::string& message) const {
  if (!context_->error || context_->message[0] == '\0') throw IPLException(message);
  throw IPLException(message + ": " + libraryDetail(context_->message));
}

}  // namespace velIPL
