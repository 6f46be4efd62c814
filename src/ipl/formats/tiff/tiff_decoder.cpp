#include "ipl/formats/tiff/tiff_decoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ipl/formats/frame_rules.h"
#include "ipl/formats/tiff/tiff_io.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

[[noreturn]] void unsupported(const std::string& what) { throw IPLException("Unsupported TIFF: " + what); }

// What one page holds and how it is laid out, as far as decoding needs.
struct PageLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 0;
  std::uint16_t samples = 1;     // per pixel, extra samples included
  std::uint16_t photometric = 0;
  bool planar = false;           // one plane per sample
  bool colour = false;           // RGB (or YCbCr decoded as RGB)
  bool palette = false;
  bool whiteIsZero = false;
  int depth = 8;                 // 8 or 16: the grey the page is read at;
                                 // 32 for floating-point values
  bool floating = false;         // 32-bit IEEE floats, one sample
  int significantBits = 8;
  bool tiled = false;
  std::uint32_t tileWidth = 0;
  std::uint32_t tileHeight = 0;
  std::uint32_t rowsPerStrip = 0;
  const std::uint16_t* map[3] = {nullptr, nullptr, nullptr};
  bool map8 = false;             // colour map entries already 8-bit
};

std::uint32_t roundUp16(std::uint32_t n) { return (n + 15) / 16 * 16; }

PageLayout readLayout(TiffIo& io) {
  TIFF* tif = io.get();
  PageLayout p;
  std::uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format);
  if (format == SAMPLEFORMAT_COMPLEXIEEEFP) unsupported("floating-point samples");
  if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID && format != SAMPLEFORMAT_IEEEFP) {
    unsupported("signed samples");
  }
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height)) {
    throw IPLException("Corrupt TIFF file: no image size");
  }
  checkFrameSize(p.width, p.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
  if (format == SAMPLEFORMAT_IEEEFP) {
    // Only what an average is written as: one 32-bit value per pixel.
    if (p.bits != 32 || p.samples != 1) unsupported("floating-point samples");
    p.floating = true;
  } else if (p.bits != 1 && p.bits != 2 && p.bits != 4 && p.bits != 8 && p.bits != 16) {
    unsupported(std::to_string(p.bits) + " bits per sample");
  }
  std::uint16_t extras = 0;
  std::uint16_t* extraKinds = nullptr;
  TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &p.photometric)) {
    p.photometric = p.samples - extras >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  }
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!TIFFIsCODECConfigured(compression)) unsupported("compression " + std::to_string(compression));
  if (p.photometric == PHOTOMETRIC_YCBCR && (compression == COMPRESSION_JPEG)) {
    // libtiff's JPEG codec turns YCbCr into RGB while decoding.
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    p.photometric = PHOTOMETRIC_RGB;
  }
  const int base = p.samples > extras ? p.samples - extras : 0;
  switch (p.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      p.whiteIsZero = p.photometric == PHOTOMETRIC_MINISWHITE;
      break;
    case PHOTOMETRIC_PALETTE:
      if (p.floating) unsupported("floating-point samples");
      p.palette = true;
      if (p.bits > 8) unsupported(std::to_string(p.bits) + "-bit palette indices");
      if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &p.map[0], &p.map[1], &p.map[2])) {
        throw IPLException("Corrupt TIFF file: palette image without colour map");
      }
      break;
    case PHOTOMETRIC_RGB:
      if (p.floating) unsupported("floating-point samples");
      p.colour = true;
      if (p.bits != 8 && p.bits != 16) unsupported(std::to_string(p.bits) + "-bit colour");
      break;
    default:
      unsupported("colour model " + std::to_string(p.photometric));
  }
  if (base != (p.colour ? 3 : 1)) unsupported(std::to_string(p.samples) + " samples per pixel that are not colour");
  p.depth = p.floating ? 32 : p.bits == 16 && !p.palette ? 16 : 8;
  p.significantBits = p.depth;
  std::uint16_t maxValue = 0;
  if (p.depth == 16 && TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &maxValue) && maxValue > 0) {
    p.significantBits = 0;
    while (p.significantBits < 16 && (maxValue >> p.significantBits) != 0) ++p.significantBits;
  }
  std::uint16_t planarConfig = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planarConfig);
  p.planar = planarConfig == PLANARCONFIG_SEPARATE && p.samples > 1;
  p.tiled = TIFFIsTiled(tif);
  if (p.tiled) {
    if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &p.tileWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &p.tileHeight) ||
        p.tileWidth == 0 || p.tileHeight == 0) {
      throw IPLException("Corrupt TIFF file: no tile size");
    }
    if (p.tileWidth > std::max<std::uint32_t>(roundUp16(p.width), 1024) ||
        p.tileHeight > std::max<std::uint32_t>(roundUp16(p.height), 1024)) {
      throw IPLException("Image too large");
    }
    const std::uint64_t tileRowBits = std::uint64_t{p.tileWidth} * (p.planar ? 1 : p.samples) * p.bits;
    if (tileRowBits % 8 != 0) unsupported("tile width " + std::to_string(p.tileWidth));
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &p.rowsPerStrip);
    if (p.rowsPerStrip == 0 || p.rowsPerStrip > p.height) p.rowsPerStrip = p.height;
  }
  // Every strip or tile of the page, against what the page decodes to; a
  // byte count is only believed as far as the file reaches.
  const std::uint64_t fileBytes = static_cast<std::uint64_t>(TIFFGetSizeProc(tif)(TIFFClientdata(tif)));
  std::uint64_t stored = 0;
  const std::uint32_t striles = p.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (std::uint32_t i = 0; i < striles && stored <= FrameLimits::expansionFloorBytes; ++i) {
    const std::uint64_t offset = TIFFGetStrileOffset(tif, i);
    if (offset < fileBytes) stored += std::min<std::uint64_t>(TIFFGetStrileByteCount(tif, i), fileBytes - offset);
  }
  if (!plausibleExpansion(std::uint64_t{p.width} * p.height * p.samples * std::max(1, p.bits / 8), stored)) {
    throw IPLException("Corrupt TIFF file: page claims more pixels than its data can hold");
  }
  if (p.palette) {
    const std::size_t entries = std::size_t{1} << p.bits;
    p.map8 = true;
    for (int c = 0; c < 3; ++c) {
      for (std::size_t i = 0; i < entries; ++i) p.map8 = p.map8 && p.map[c][i] < 256;
    }
  }
  return p;
}

// Bytes of one row of one plane (all samples when contiguous).
std::uint64_t rowBytesOf(const PageLayout& p, std::uint32_t pixels) {
  return (std::uint64_t{pixels} * (p.planar ? 1 : p.samples) * p.bits + 7) / 8;
}

class TiffFile : public FrameFile {
public:
  explicit TiffFile(std::unique_ptr<std::istream> stream) : stream_(std::move(stream)), io_(*stream_) {
    walkPages();
  }

protected:
  void decode(int index, GImage* grey8, G16Image* grey16) override {
    const PageLayout p = openPage(index);
    const std::uint64_t rowBytes = rowBytesOf(p, p.width);
    // Plain grey of 8 or 16 bits is copied as it is; everything else goes
    // through samples.
    const bool plain = !p.palette && !p.colour && !p.whiteIsZero && p.samples == 1 && p.bits == info_.bitsPerSample;
    std::vector<std::uint16_t> samples(std::size_t{p.width} * p.samples);
    forEachBand(p, index, [&](std::uint32_t top, std::uint32_t rows, const std::vector<std::vector<unsigned char>>& band) {
      for (std::uint32_t r = 0; r < rows; ++r) {
        const int y = static_cast<int>(top + r);
        if (plain) {
          void* out = grey8 ? static_cast<void*>(grey8->row(y)) : static_cast<void*>(grey16->row(y));
          std::memcpy(out, band[0].data() + r * rowBytes, rowBytes);
          continue;
        }
        unpackRow(p, band, r * rowBytes, samples);
        if (grey8) {
          toGrey(p, samples, grey8->row(y));
        } else {
          toGrey(p, samples, grey16->row(y));
        }
      }
    });
  }

  void decodeValues(int index, DImage& values) override {
    const PageLayout p = openPage(index);
    const std::uint64_t rowBytes = rowBytesOf(p, p.width);
    std::vector<float> row(p.width);
    forEachBand(p, index, [&](std::uint32_t top, std::uint32_t rows, const std::vector<std::vector<unsigned char>>& band) {
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::memcpy(row.data(), band[0].data() + r * rowBytes, rowBytes);
        double* out = values.row(static_cast<int>(top + r));
        for (std::uint32_t x = 0; x < p.width; ++x) out[x] = row[x];
      }
    });
  }

private:
  // Makes frame index the current page and checks it is still the page the
  // file was opened with.
  PageLayout openPage(int index) {
    TIFF* tif = io_.get();
    io_.clearError();
    // Every page is reached straight from its directory's offset, found
    // when the file was opened: reading pages in any order (a volume's
    // positions, interleaved) reads one directory per page, never the
    // chain before it.
    const std::uint64_t wanted = offsets_[static_cast<std::size_t>(index)];
    const bool moved = TIFFCurrentDirOffset(tif) == wanted || TIFFSetSubDirectory(tif, wanted);
    if (!moved || TIFFCurrentDirOffset(tif) != wanted) io_.fail("Corrupt TIFF file");
    const PageLayout p = readLayout(io_);
    if (p.width != static_cast<std::uint32_t>(info_.width) || p.height != static_cast<std::uint32_t>(info_.height) ||
        p.depth != info_.bitsPerSample) {
      throw IPLException("Corrupt TIFF file: page changed");
    }
    return p;
  }

  // The page's rows a strip (or a row of tiles) at a time: use(top, rows,
  // band) with one buffer of rows x row bytes per plane.
  template <typename Use>
  void forEachBand(const PageLayout& p, int index, Use use) {
    TIFF* tif = io_.get();
    const std::uint64_t rowBytes = rowBytesOf(p, p.width);
    if (static_cast<std::uint64_t>(TIFFScanlineSize64(tif)) != rowBytes) unsupported("sample layout");
    const std::uint32_t bandRows = p.tiled ? p.tileHeight : p.rowsPerStrip;
    const int planes = p.planar ? p.samples : 1;
    std::vector<std::vector<unsigned char>> band(planes, std::vector<unsigned char>(rowBytes * bandRows));
    std::vector<unsigned char> tile;
    if (p.tiled) {
      const std::uint64_t tileBytes = rowBytesOf(p, p.tileWidth) * p.tileHeight;
      if (static_cast<std::uint64_t>(TIFFTileSize64(tif)) != tileBytes) unsupported("tile layout");
      tile.resize(tileBytes);
    }
    const std::uint32_t bands = (p.height + bandRows - 1) / bandRows;
    for (std::uint32_t b = 0; b < bands; ++b) {
      const std::uint32_t top = b * bandRows;
      const std::uint32_t rows = std::min(bandRows, p.height - top);
      for (int plane = 0; plane < planes; ++plane) {
        if (p.tiled) {
          readTileRow(p, index, plane, top, rows, rowBytes, tile, band[plane]);
        } else {
          const tstrip_t strip = TIFFComputeStrip(tif, top, static_cast<std::uint16_t>(plane));
          const tmsize_t want = static_cast<tmsize_t>(rowBytes * rows);
          if (TIFFReadEncodedStrip(tif, strip, band[plane].data(), want) != want) failPiece("strip", strip, index);
        }
      }
      use(top, rows, band);
    }
  }

  // A strip or tile that cannot be read, named with its page; libtiff's
  // "Read error at scanline 4294967295" (its way of saying a strip's data
  // runs past the end of the file) told as the bytes it found.
  [[noreturn]] void failPiece(const char* kind, std::uint32_t piece, int index) const {
    std::string message = std::string("Corrupt TIFF file: ") + kind + " " + std::to_string(piece) + " of page " +
                          std::to_string(index + 1) + " cannot be read";
    const std::string detail = io_.error();
    unsigned long got = 0, expected = 0;
    const std::size_t at = detail.find("got ");
    if (detail.find("Read error at scanline") != std::string::npos && at != std::string::npos &&
        std::sscanf(detail.c_str() + at, "got %lu bytes, expected %lu", &got, &expected) == 2) {
      throw IPLException(message + ": the file holds " + std::to_string(got) + " of its " + std::to_string(expected) +
                         " bytes");
    }
    if (detail.empty()) throw IPLException(message);
    throw IPLException(message + ": " + libraryDetail(detail));
  }

  void walkPages() {
    TIFF* tif = io_.get();
    std::set<std::uint64_t> seen;
    bool first = true;
    for (;;) {
      if (!seen.insert(TIFFCurrentDirOffset(tif)).second) throw IPLException("TIFF page chain loops");
      std::uint32_t kind = 0;
      TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &kind);
      if (!(kind & FILETYPE_REDUCEDIMAGE)) addPage(readLayout(io_), first);
      io_.clearError();
      if (!TIFFReadDirectory(tif)) {
        if (io_.loopSeen()) throw IPLException("TIFF page chain loops");
        if (!io_.failed()) break;
        if (io_.error().find("loop") != std::string::npos) throw IPLException("TIFF page chain loops");
        io_.fail("Corrupt TIFF file");
      }
    }
    if (offsets_.empty()) throw IPLException("Image has no pixels");
    info_.frames = static_cast<int>(offsets_.size());
  }

  void addPage(const PageLayout& p, bool& first) {
    if (first) {
      first = false;
      info_.format = "TIFF";
      info_.width = static_cast<int>(p.width);
      info_.height = static_cast<int>(p.height);
      info_.bitsPerSample = p.depth;
      info_.significantBits = p.significantBits;
      info_.floatingPoint = p.floating;
      const char* software = nullptr;
      if (TIFFGetField(io_.get(), TIFFTAG_SOFTWARE, &software) && software) {
        info_.software.assign(software, strnlen(software, 200));
      }
      info_.samplesPerPixel = p.colour ? 3 : 1;
      readSpacing();
    } else if (p.width != static_cast<std::uint32_t>(info_.width) || p.height != static_cast<std::uint32_t>(info_.height)) {
      unsupported("pages of different sizes");
    } else if (p.depth != info_.bitsPerSample) {
      unsupported("pages of different depths");
    }
    if (static_cast<std::int64_t>(offsets_.size()) >= FrameLimits::maxFrames) throw IPLException("Too many frames for the file");
    offsets_.push_back(TIFFCurrentDirOffset(io_.get()));
  }

  void readSpacing() {
    TIFF* tif = io_.get();
    float x = 0, y = 0;
    std::uint16_t unit = RESUNIT_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    const double mm = unit == RESUNIT_CENTIMETER ? 10.0 : unit == RESUNIT_INCH ? 25.4 : 0.0;
    const bool hasX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) && x > 0;
    const bool hasY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) && y > 0;
    // An ImageJ stack says its unit, and the spacing of its slices, in its
    // description; its resolution is then pixels per that unit.
    const char* text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text && std::strncmp(text, "ImageJ=", 7) == 0) {
      const std::string description(text, strnlen(text, 4096));
      const auto field = [&](const std::string& key) {
        const std::size_t at = description.find("\n" + key + "=");
        if (at == std::string::npos) return std::string();
        const std::size_t start = at + key.size() + 2;
        return description.substr(start, description.find('\n', start) - start);
      };
      const std::string unitName = field("unit");
      const double unitMm = unitName == "mm" ? 1.0 : unitName == "cm" ? 10.0
                            : (unitName == "micron" || unitName == "um" || unitName == "\xC2\xB5m") ? 0.001 : 0.0;
      if (unitMm > 0 && unit == RESUNIT_NONE) {
        if (hasX) info_.pixelSpacingX = unitMm / x;
        if (hasY) info_.pixelSpacingY = unitMm / y;
        const double slices = std::atof(field("spacing").c_str());
        if (slices > 0 && std::isfinite(slices)) info_.sliceSpacing = slices * unitMm;
        return;
      }
    }
    // 72 or 96 dots per inch both ways is what most software writes when it
    // knows nothing of the scale: a screen's, not the scan's.
    if (unit == RESUNIT_INCH && hasX && hasY && x == y && (x == 72.0f || x == 96.0f)) return;
    if (mm > 0 && hasX) info_.pixelSpacingX = mm / x;
    if (mm > 0 && hasY) info_.pixelSpacingY = mm / y;
  }

  void readTileRow(const PageLayout& p, int index, int plane, std::uint32_t top, std::uint32_t rows,
                   std::uint64_t rowBytes, std::vector<unsigned char>& tile, std::vector<unsigned char>& band) {
    TIFF* tif = io_.get();
    const std::uint64_t tileRowBytes = rowBytesOf(p, p.tileWidth);
    for (std::uint32_t x = 0; x < p.width; x += p.tileWidth) {
      const ttile_t piece = TIFFComputeTile(tif, x, top, 0, static_cast<std::uint16_t>(plane));
      if (TIFFReadEncodedTile(tif, piece, tile.data(), static_cast<tmsize_t>(tile.size())) < 0) {
        failPiece("tile", piece, index);
      }
      const std::uint64_t offset = rowBytesOf(p, x);
      const std::uint64_t length = std::min(tileRowBytes, rowBytes - offset);
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::memcpy(band.data() + r * rowBytes + offset, tile.data() + r * tileRowBytes, length);
      }
    }
  }

  // One row of every plane as samples, interleaved: samples[x * spp + s].
  static void unpackRow(const PageLayout& p, const std::vector<std::vector<unsigned char>>& band, std::uint64_t start,
                        std::vector<std::uint16_t>& samples) {
    const std::size_t perPixel = p.samples;
    const std::size_t planeSamples = p.planar ? 1 : perPixel;
    for (std::size_t plane = 0; plane < band.size(); ++plane) {
      const unsigned char* in = band[plane].data() + start;
      for (std::size_t x = 0; x < p.width; ++x) {
        for (std::size_t s = 0; s < planeSamples; ++s) {
          const std::size_t i = x * planeSamples + s;
          std::uint16_t v;
          if (p.bits == 16) {
            std::memcpy(&v, in + 2 * i, 2);
          } else if (p.bits == 8) {
            v = in[i];
          } else {
            const std::size_t bit = i * p.bits;
            v = static_cast<std::uint16_t>((in[bit / 8] >> (8 - p.bits - bit % 8)) & ((1u << p.bits) - 1));
          }
          samples[x * perPixel + plane + s] = v;
        }
      }
    }
  }

  template <typename Out>
  static void toGrey(const PageLayout& p, std::vector<std::uint16_t>& samples, Out* out) {
    const int w = static_cast<int>(p.width);
    const std::uint32_t max = (1u << p.bits) - 1;
    if (p.palette) {
      for (int x = 0; x < w; ++x) {
        const std::uint16_t i = samples[static_cast<std::size_t>(x) * p.samples];
        const int shift = p.map8 ? 0 : 8;
        out[x] = static_cast<Out>(greyOf(p.map[0][i] >> shift, p.map[1][i] >> shift, p.map[2][i] >> shift));
      }
      return;
    }
    if (!p.colour && (p.whiteIsZero || p.bits < 8)) {
      for (std::size_t x = 0; x < p.width; ++x) {
        std::uint32_t v = samples[x * p.samples];
        if (p.whiteIsZero) v = max - v;
        if (p.bits < 8) v = v * 255 / max;
        samples[x * p.samples] = static_cast<std::uint16_t>(v);
      }
    }
    greyRow(samples.data(), w, p.samples, p.colour, out);
  }

  std::unique_ptr<std::istream> stream_;
  TiffIo io_;
  std::vector<std::uint64_t> offsets_;  // of each frame's directory
};

}  // namespace

bool TiffDecoder::recognises(std::span<const unsigned char> head) const {
  if (head.size() < 4) return false;
  return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

std::unique_ptr<ImageFile> TiffDecoder::openStream(std::unique_ptr<std::istream> stream) const {
  return std::make_unique<TiffFile>(std::move(stream));
}

const ImageDecoder& tiffDecoder() {
  static const TiffDecoder decoder;
  return decoder;
}

}  // namespace velIPL
