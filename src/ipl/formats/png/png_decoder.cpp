#include "ipl/formats/png/png_decoder.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "ipl/formats/frame_rules.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Everything the plain functions below share with the C++ side; trivially
// destructible, so a longjmp may leave any frame that holds it by pointer.
struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::istream* in = nullptr;
  char message[200] = {};
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  int channels = 0;       // after the transforms
  png_size_t rowBytes = 0;
  int significantBits = 0;
  double spacingX = 0;
  char software[201] = {};  // the "Software" text, cut to 200 bytes
  double spacingY = 0;
};

// --- Plain functions: no object with a destructor below this line until
// --- the PngFile class.

void readCallback(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<PngReadState*>(png_get_io_ptr(png));
  s->in->read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(length));
  if (static_cast<png_size_t>(s->in->gcount()) != length) png_error(png, "file ends early");
}

void errorCallback(png_structp png, png_const_charp message) {
  auto* s = static_cast<PngReadState*>(png_get_error_ptr(png));
  std::snprintf(s->message, sizeof s->message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

void warningCallback(png_structp, png_const_charp) {}

// Reads up to the image data and sets the transforms; false on an error.
bool beginRead(PngReadState* s) {
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, errorCallback, warningCallback);
  if (!s->png) return false;
  s->info = png_create_info_struct(s->png);
  if (!s->info) return false;
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_read_fn(s->png, s, readCallback);
  // Our own limits apply (checked once the header is known).
  png_set_user_limits(s->png, 0x7fffffff, 0x7fffffff);
  png_read_info(s->png, s->info);
  int interlace = 0;
  png_get_IHDR(s->png, s->info, &s->width, &s->height, &s->bitDepth, &s->colourType, &interlace, nullptr, nullptr);
  s->significantBits = s->bitDepth == 16 ? 16 : 8;
  png_color_8p bits = nullptr;
  if (s->bitDepth == 16 && png_get_sBIT(s->png, s->info, &bits) && bits) {
    const int grey = bits->gray;
    const int colour = bits->red > bits->green ? (bits->red > bits->blue ? bits->red : bits->blue)
                                               : (bits->green > bits->blue ? bits->green : bits->blue);
    const int sig = (s->colourType & PNG_COLOR_MASK_COLOR) ? colour : grey;
    if (sig > 0 && sig <= 16) s->significantBits = sig;
  }
  png_uint_32 xPerUnit = 0, yPerUnit = 0;
  int unit = 0;
  if (png_get_pHYs(s->png, s->info, &xPerUnit, &yPerUnit, &unit) && unit == PNG_RESOLUTION_METER) {
    if (xPerUnit > 0) s->spacingX = 1000.0 / xPerUnit;
    if (yPerUnit > 0) s->spacingY = 1000.0 / yPerUnit;
  }
  png_textp texts = nullptr;
  int textCount = 0;
  if (png_get_text(s->png, s->info, &texts, &textCount) > 0) {
    for (int i = 0; i < textCount; ++i) {
      if (texts[i].key && texts[i].text && std::strcmp(texts[i].key, "Software") == 0) {
        std::snprintf(s->software, sizeof s->software, "%s", texts[i].text);
      }
    }
  }
  if (s->colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(s->png);
  if (s->colourType == PNG_COLOR_TYPE_GRAY && s->bitDepth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
  if (s->bitDepth == 16) png_set_swap(s->png);  // native order for uint16_t
  png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  s->channels = png_get_channels(s->png, s->info);
  s->rowBytes = png_get_rowbytes(s->png, s->info);
  return true;
}

// Decodes every row (all passes of an interlaced image); false on an error.
bool readRows(PngReadState* s, png_bytepp rows) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_read_image(s->png, rows);
  return true;
}

void endRead(PngReadState* s) {
  if (s->png) png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
}

// --- C++ from here on.

[[noreturn]] void corrupt(const PngReadState& s) {
  const std::string detail = libraryDetail(s.message);
  throw IPLException(detail.empty() ? "Corrupt PNG file" : "Corrupt PNG file: " + detail);
}

// Owns one libpng read session, ended when it dies, also when a
// constructor throws.
struct ReadSession {
  PngReadState state;
  ReadSession() = default;
  ReadSession(const ReadSession&) = delete;
  ReadSession& operator=(const ReadSession&) = delete;
  ~ReadSession() { end(); }
  void end() {
    endRead(&state);
    state = PngReadState{};
  }
};

class PngFile : public FrameFile {
public:
  explicit PngFile(std::unique_ptr<std::istream> stream) : stream_(std::move(stream)) {
    unsigned char head[8] = {};
    stream_->read(reinterpret_cast<char*>(head), 8);
    if (stream_->gcount() != 8 || std::memcmp(head, signature, 8) != 0) throw IPLException("Not a PNG file");
    stream_->clear();
    stream_->seekg(0);
    readHeader();
    info_.format = "PNG";
    info_.width = static_cast<int>(state_.width);
    info_.height = static_cast<int>(state_.height);
    info_.frames = 1;
    info_.bitsPerSample = state_.bitDepth == 16 ? 16 : 8;
    info_.significantBits = state_.significantBits;
    info_.samplesPerPixel = (state_.colourType & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    info_.pixelSpacingX = state_.spacingX;
    info_.software = state_.software;
    info_.pixelSpacingY = state_.spacingY;
    session_.end();
  }

protected:
  void decode(int, GImage* grey8, G16Image* grey16) override {
    // libpng reads a stream once, so every frame read starts afresh.
    session_.end();
    stream_->clear();
    stream_->seekg(0);
    readHeader();
    std::vector<unsigned char> pixels(state_.rowBytes * state_.height);
    std::vector<png_bytep> rows(state_.height);
    for (png_uint_32 y = 0; y < state_.height; ++y) rows[y] = pixels.data() + y * state_.rowBytes;
    if (!readRows(&state_, rows.data())) corrupt(state_);
    const bool colour = (state_.colourType & PNG_COLOR_MASK_COLOR) != 0;
    for (int y = 0; y < info_.height; ++y) {
      if (grey8) {
        greyRow(rows[y], info_.width, state_.channels, colour, grey8->row(y));
      } else {
        greyRow(reinterpret_cast<const std::uint16_t*>(rows[y]), info_.width, state_.channels, colour, grey16->row(y));
      }
    }
    session_.end();
  }

private:
  void readHeader() {
    state_.in = stream_.get();
    if (!beginRead(&state_)) {
      if (!state_.png || !state_.info) throw std::bad_alloc();
      corrupt(state_);
    }
    checkFrameSize(state_.width, state_.height);
    const std::size_t sampleBytes = state_.bitDepth == 16 ? 2 : 1;
    if (state_.rowBytes != std::size_t{state_.width} * state_.channels * sampleBytes) {
      throw IPLException("Corrupt PNG file: unexpected row layout");
    }
  }

  std::unique_ptr<std::istream> stream_;
  ReadSession session_;
  PngReadState& state_ = session_.state;
};

}  // namespace

bool PngDecoder::recognises(std::span<const unsigned char> head) const {
  return head.size() >= 8 && std::memcmp(head.data(), signature, 8) == 0;
}

std::unique_ptr<ImageFile> PngDecoder::openStream(std::unique_ptr<std::istream> stream) const {
  return std::make_unique<PngFile>(std::move(stream));
}

const ImageDecoder& pngDecoder() {
  static const PngDecoder decoder;
  return decoder;
}

}  // namespace velIPL
