#include "ipl/formats/tiff/tiff_writer.h"

#include <tiffio.h>

#include <cstring>

#include "ipl/formats/frame_rules.h"
#include "ipl/formats/tiff/tiff_io.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

std::uint16_t codecOf(TiffCompression compression) {
  switch (compression) {
    case TiffCompression::lzw: return COMPRESSION_LZW;
    case TiffCompression::deflate: return COMPRESSION_ADOBE_DEFLATE;
    case TiffCompression::packBits: return COMPRESSION_PACKBITS;
    case TiffCompression::none: break;
  }
  return COMPRESSION_NONE;
}

template <typename Image>
std::vector<const void*> rowsOf(const Image& image) {
  std::vector<const void*> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) rows[static_cast<std::size_t>(y)] = image.row(y);
  return rows;
}

}  // namespace

TiffWriter::TiffWriter(const TiffWriteOptions& options)
    : options_(options), io_(std::make_unique<TiffIo>(bytes_, options.bigEndian)) {}

TiffWriter::~TiffWriter() = default;

void TiffWriter::addPage(const GImage& image) { addRows(image.width(), image.height(), 8, 1, SAMPLEFORMAT_UINT, rowsOf(image)); }

void TiffWriter::addPage(const G16Image& image) {
  addRows(image.width(), image.height(), 16, 1, SAMPLEFORMAT_UINT, rowsOf(image));
}

void TiffWriter::addPage(const RGBImage& image) {
  const std::size_t w = static_cast<std::size_t>(image.width());
  std::vector<unsigned char> packed(w * 3 * static_cast<std::size_t>(image.height()));
  std::vector<const void*> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) {
    unsigned char* out = packed.data() + static_cast<std::size_t>(y) * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) out[x * 3 + c] = image.row(y, c)[x];
    }
    rows[static_cast<std::size_t>(y)] = out;
  }
  addRows(image.width(), image.height(), 8, 3, SAMPLEFORMAT_UINT, rows);
}

void TiffWriter::addPage(const DImage& image) {
  const std::size_t w = static_cast<std::size_t>(image.width());
  std::vector<float> values(w * static_cast<std::size_t>(image.height()));
  std::vector<const void*> rows(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) {
    float* out = values.data() + static_cast<std::size_t>(y) * w;
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<float>(image.row(y)[x]);
    rows[static_cast<std::size_t>(y)] = out;
  }
  addRows(image.width(), image.height(), 32, 1, SAMPLEFORMAT_IEEEFP, rows);
}

void TiffWriter::addRows(int width, int height, int bits, int samples, int format, const std::vector<const void*>& rows) {
  if (width <= 0 || height <= 0) throw IPLException("Empty image");
  if (!io_) throw IPLException("Cannot write image");
  TIFF* tif = io_->get();
  const auto w = static_cast<std::uint32_t>(width);
  const auto h = static_cast<std::uint32_t>(height);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(bits));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(samples));
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, static_cast<std::uint16_t>(format));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, codecOf(options_.compression));
  if (!options_.software.empty()) TIFFSetField(tif, TIFFTAG_SOFTWARE, options_.software.c_str());
  // The horizontal predictor helps on B-scans; the floating-point one is
  // left out, as libtiff 4.5 mangles it in big-endian files.
  if ((options_.compression == TiffCompression::lzw || options_.compression == TiffCompression::deflate) &&
      format != SAMPLEFORMAT_IEEEFP) {
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  }
  if (pages_ == 0 && !options_.description.empty()) {
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, options_.description.c_str());
  }
  if (options_.pixelSpacingX > 0 && options_.pixelSpacingY > 0) {
    const double perUnit = options_.resolutionPerMillimetre ? 1.0 : 10.0;
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, options_.resolutionPerMillimetre ? RESUNIT_NONE : RESUNIT_CENTIMETER);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(perUnit / options_.pixelSpacingX));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(perUnit / options_.pixelSpacingY));
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * samples * bits / 8;
  io_->clearError();
  bool ok = true;
  if (options_.tileSide > 0) {
    const auto side = static_cast<std::uint32_t>(options_.tileSide);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
    const std::size_t tileRow = side * static_cast<std::size_t>(samples) * bits / 8;
    std::vector<unsigned char> tile(tileRow * side);
    for (std::uint32_t ty = 0; ok && ty < h; ty += side) {
      for (std::uint32_t tx = 0; ok && tx < w; tx += side) {
        std::fill(tile.begin(), tile.end(), 0);
        const std::size_t offset = tx * static_cast<std::size_t>(samples) * bits / 8;
        const std::size_t length = std::min(tileRow, rowBytes - offset);
        for (std::uint32_t r = 0; r < side && ty + r < h; ++r) {
          std::memcpy(tile.data() + r * tileRow, static_cast<const unsigned char*>(rows[ty + r]) + offset, length);
        }
        ok = TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<unsigned char> row(rowBytes);
    for (std::uint32_t y = 0; ok && y < h; ++y) {
      // libtiff may encode in place, so it gets a copy of each row.
      std::memcpy(row.data(), rows[y], rowBytes);
      ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
  }
  if (!ok || !TIFFWriteDirectory(tif) || io_->failed()) io_->fail("Cannot write image");
  ++pages_;
}

const std::vector<unsigned char>& TiffWriter::finish() {
  if (pages_ == 0) throw IPLException("Empty image");
  if (io_) {
    const bool failed = io_->failed();
    io_.reset();
    if (failed) throw IPLException("Cannot write image");
  }
  return bytes_;
}

void TiffWriter::writeFile(const std::string& fileName) {
  const std::vector<unsigned char>& bytes = finish();
  saveFileBytes(fileName, bytes.data(), bytes.size());
}

}  // namespace velIPL
