// Writes the committed seed corpus of the TIFF, PNG and DICOM targets into
// fuzz/corpus/{tiff,png,dicom}/ with the library's own writers: small
// frames of a B-scan-like pattern at both depths, in the layouts and
// compressions each writer offers. Usage: lumifold_make_format_seeds
// FUZZ_FOLDER; the files are rewritten.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"

using namespace velIPL;

namespace {

template <typename Image>
Image scan(int width, int height, int frame, int scale) {
  Image image(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int layer = 2 + (x * 5 / width + frame) % (height - 3);
      image.at(x, y) = static_cast<typename Image::value_type>((y - layer >= 0 && y - layer < 2 ? 230 : (y * 37 + x * 11) % 150) * scale);
    }
  }
  return image;
}

void save(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " FUZZ_FOLDER\n";
    return 2;
  }
  const std::filesystem::path corpus = std::filesystem::path(argv[1]) / "corpus";
  for (const char* d : {"tiff", "png", "dicom"}) std::filesystem::create_directories(corpus / d);
  const GImage grey = scan<GImage>(16, 8, 0, 1);
  const G16Image deep = scan<G16Image>(16, 8, 1, 17);
  RGBImage colour(16, 8, 0);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 16; ++x) colour.at(x, y, c) = static_cast<unsigned char>(grey.at(x, y) + 20 * c);
    }
  }

  const struct {
    const char* name;
    TiffWriteOptions options;
    int kind;  // 0 grey, 1 deep, 2 colour, 3 two grey pages
  } tiffs[] = {
      {"grey8_strips", {}, 0},
      {"grey16_tiles_deflate_big", {0.01, 0.004, TiffCompression::deflate, true, 16, {}, {}, false}, 1},
      {"rgb8_lzw", {0, 0, TiffCompression::lzw, false, 0, {}, {}, false}, 2},
      {"two_pages_packbits", {0, 0, TiffCompression::packBits, true, 0, {}, {}, false}, 3},
  };
  for (const auto& t : tiffs) {
    TiffWriter writer(t.options);
    if (t.kind == 0 || t.kind == 3) writer.addPage(grey);
    if (t.kind == 1) writer.addPage(deep);
    if (t.kind == 2) writer.addPage(colour);
    if (t.kind == 3) writer.addPage(scan<GImage>(16, 8, 2, 1));
    save(corpus / "tiff" / (std::string(t.name) + ".tif"), writer.finish());
  }

  const PngWriter png({0.01, 0.004, {}});
  save(corpus / "png" / "grey8.png", png.encode(grey));
  save(corpus / "png" / "grey16.png", png.encode(deep));
  save(corpus / "png" / "rgb8.png", PngWriter().encode(colour));

  const struct {
    const char* name;
    DicomCompression compression;
    bool sixteen;
    int frames;
  } dicoms[] = {
      {"grey8_3_frames", DicomCompression::none, false, 3},
      {"grey16_rle", DicomCompression::rle, true, 2},
      {"grey8_jpegls", DicomCompression::jpegLs, false, 2},
      {"grey16_jpeg2000", DicomCompression::jpeg2000, true, 1},
  };
  for (const auto& d : dicoms) {
    DicomWriter writer({0.01, 0.004, d.compression});
    for (int f = 0; f < d.frames; ++f) {
      if (d.sixteen) {
        writer.addFrame(scan<G16Image>(16, 16, f, 17));
      } else {
        writer.addFrame(scan<GImage>(16, 8, f, 1));
      }
    }
    save(corpus / "dicom" / (std::string(d.name) + ".dcm"), writer.encode());
  }
  return 0;
}
