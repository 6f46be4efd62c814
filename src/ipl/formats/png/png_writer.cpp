#include "ipl/formats/png/png_writer.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ipl/formats/frame_rules.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

// Shared by the plain functions below and the C++ caller; trivially
// destructible. The encoded bytes grow in a malloc'd block, so that the
// write callback can fail through png_error instead of throwing.
struct PngWriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  unsigned char* bytes = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  char message[200] = {};
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 8;
  int colourType = PNG_COLOR_TYPE_GRAY;
  png_uint_32 xPerMetre = 0;
  png_uint_32 yPerMetre = 0;
  const char* software = nullptr;
};

// --- Plain functions: nothing with a destructor.

void writeCallback(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<PngWriteState*>(png_get_io_ptr(png));
  if (s->size + length > s->capacity) {
    std::size_t capacity = s->capacity ? s->capacity * 2 : 65536;
    while (capacity < s->size + length) capacity *= 2;
    void* grown = std::realloc(s->bytes, capacity);
    if (!grown) png_error(png, "out of memory");
    s->bytes = static_cast<unsigned char*>(grown);
    s->capacity = capacity;
  }
  std::memcpy(s->bytes + s->size, data, length);
  s->size += length;
}

void flushCallback(png_structp) {}

void writeErrorCallback(png_structp png, png_const_charp message) {
  auto* s = static_cast<PngWriteState*>(png_get_error_ptr(png));
  std::snprintf(s->message, sizeof s->message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

void writeWarningCallback(png_structp, png_const_charp) {}

bool encodePng(PngWriteState* s, png_bytepp rows) {
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s, writeErrorCallback, writeWarningCallback);
  if (!s->png) return false;
  s->info = png_create_info_struct(s->png);
  if (!s->info) return false;
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_write_fn(s->png, s, writeCallback, flushCallback);
  png_set_IHDR(s->png, s->info, s->width, s->height, s->bitDepth, s->colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (s->xPerMetre && s->yPerMetre) png_set_pHYs(s->png, s->info, s->xPerMetre, s->yPerMetre, PNG_RESOLUTION_METER);
  if (s->software) {
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<png_charp>("Software");
    text.text = const_cast<png_charp>(s->software);
    png_set_text(s->png, s->info, &text, 1);
  }
  png_write_info(s->png, s->info);
  if (s->bitDepth == 16) png_set_swap(s->png);
  png_write_image(s->png, rows);
  png_write_end(s->png, nullptr);
  return true;
}

void endWrite(PngWriteState* s) {
  if (s->png) png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
  std::free(s->bytes);
  s->bytes = nullptr;
}

// --- C++ from here on.

png_uint_32 perMetre(double millimetres) {
  const double v = millimetres > 0 ? std::round(1000.0 / millimetres) : 0.0;
  return v >= 1 && v < 2147483647.0 ? static_cast<png_uint_32>(v) : 0;
}

struct WriteSession {
  PngWriteState state;
  WriteSession() = default;
  WriteSession(const WriteSession&) = delete;
  WriteSession& operator=(const WriteSession&) = delete;
  ~WriteSession() { endWrite(&state); }
};

template <typename Image>
std::vector<const unsigned char*> rowsOf(const Image& image) {
  std::vector<const unsigned char*> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) rows[static_cast<std::size_t>(y)] = reinterpret_cast<const unsigned char*>(image.row(y));
  return rows;
}

}  // namespace

std::vector<unsigned char> PngWriter::encode(const GImage& image) const {
  return encodeRows(image.width(), image.height(), 8, false, rowsOf(image));
}

std::vector<unsigned char> PngWriter::encode(const G16Image& image) const {
  return encodeRows(image.width(), image.height(), 16, false, rowsOf(image));
}

std::vector<unsigned char> PngWriter::encode(const RGBImage& image) const {
  const std::size_t w = static_cast<std::size_t>(image.width());
  std::vector<unsigned char> packed(w * 3 * static_cast<std::size_t>(image.height()));
  std::vector<const unsigned char*> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) {
    unsigned char* out = packed.data() + static_cast<std::size_t>(y) * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) out[x * 3 + c] = image.row(y, c)[x];
    }
    rows[static_cast<std::size_t>(y)] = out;
  }
  return encodeRows(image.width(), image.height(), 8, true, rows);
}

std::vector<unsigned char> PngWriter::encodeRows(int width, int height, int bitDepth, bool colour,
                                                 const std::vector<const unsigned char*>& rows) const {
  if (width <= 0 || height <= 0) throw IPLException("Empty image");
  WriteSession session;
  PngWriteState& s = session.state;
  s.width = static_cast<png_uint_32>(width);
  s.height = static_cast<png_uint_32>(height);
  s.bitDepth = bitDepth;
  s.colourType = colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  s.xPerMetre = perMetre(options_.pixelSpacingX);
  s.yPerMetre = perMetre(options_.pixelSpacingY);
  if (!options_.software.empty()) s.software = options_.software.c_str();
  // libpng takes non-const row pointers but only reads them while writing.
  std::vector<png_bytep> rowPointers(rows.size());
  for (std::size_t y = 0; y < rows.size(); ++y) rowPointers[y] = const_cast<png_bytep>(rows[y]);
  if (!encodePng(&s, rowPointers.data())) {
    if (!s.png || !s.info) throw std::bad_alloc();
    const std::string detail = libraryDetail(s.message);
    throw IPLException(detail.empty() ? "Cannot write image" : "Cannot write image: " + detail);
  }
  return std::vector<unsigned char>(s.bytes, s.bytes + s.size);
}

void PngWriter::save(const std::string& fileName, const std::vector<unsigned char>& bytes) {
  saveFileBytes(fileName, bytes.data(), bytes.size());
}

}  // namespace velIPL
