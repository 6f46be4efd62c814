#include "pipeline/picture_output.h"

#include <cstring>
#include <filesystem>

#include "pipeline/path_error.h"
#include "pipeline/file_support.h"
#include "color/color_scales.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/ipl_exception.h"
#include "shell/own_outputs.h"

namespace lumifold {

namespace {

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return ext;
}

bool isDevice(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
         !std::filesystem::is_directory(status);
}

// Every picture carries the mark that keeps it out of a later folder merge.
velIPL::TiffWriteOptions tiffOptions(const PixelSpacing& spacing, bool mark) {
  velIPL::TiffWriteOptions options;
  options.pixelSpacingX = spacing.x;
  options.pixelSpacingY = spacing.y;
  if (mark) options.software = outputMark();
  return options;
}

velIPL::PngWriteOptions pngOptions(const PixelSpacing& spacing, bool mark) {
  velIPL::PngWriteOptions options;
  options.pixelSpacingX = spacing.x;
  options.pixelSpacingY = spacing.y;
  if (mark) options.software = outputMark();
  return options;
}

// Runs write, turning the writer's failure into PathError naming path.
template <typename Write>
void writeNamed(const std::string& path, Write write) {
  try {
    write();
  } catch (const velIPL::IPLException& e) {
    std::string reason = reasonFor(e.what(), path);
    if (e.systemError() != 0) reason += std::string(": ") + std::strerror(e.systemError());
    throw PathError(path, reason);
  }
}

// Writes image in path's format, PNG or TIFF.
template <typename Image>
void writeLossless(const Image& image, const std::string& path, const PixelSpacing& spacing, bool mark) {
  writeNamed(path, [&] {
    if (pictureFormat(path) == PictureFormat::png) {
      velIPL::PngWriter(pngOptions(spacing, mark)).writeFile(path, image);
    } else {
      velIPL::TiffWriter writer(tiffOptions(spacing, mark));
      writer.addPage(image);
      writer.writeFile(path);
    }
  });
}

}  // namespace

std::string outputPictureName(const std::string& name) {
  const std::string ext = lowerExtension(name);
  if (ext == ".png" || ext == ".tif" || ext == ".tiff") return name;
  return pictureName(name);
}

PictureFormat pictureFormat(const std::string& path) {
  if (isDevice(path)) return PictureFormat::bmp;
  const std::string ext = lowerExtension(path);
  if (ext == ".png") return PictureFormat::png;
  if (ext == ".tif" || ext == ".tiff") return PictureFormat::tiff;
  return PictureFormat::bmp;
}

std::string averageName(const std::string& name) {
  const std::string ext = lowerExtension(name);
  if (ext == ".tif" || ext == ".tiff" || isDevice(name)) return name;
  const std::string bmp = pictureName(name);
  return bmp.substr(0, bmp.size() - 4) + ".tif";
}

void writeColourPicture(const velIPL::RGBImage& picture, const std::string& path, const PixelSpacing& spacing,
                        bool mark) {
  if (pictureFormat(path) == PictureFormat::bmp) {
    writePicture(picture, path);
  } else {
    writeLossless(picture, path, spacing, mark);
  }
}

void writeGreyPicture(const velIPL::GImage& grey, const velIPL::G16Image* sixteen, const std::string& path,
                      const PixelSpacing& spacing, bool mark) {
  if (pictureFormat(path) == PictureFormat::bmp) {
    // Grey in all three channels.
    writePicture(ApplyColorScale(MakeWhiteOnBlackScale(), grey), path);
  } else if (sixteen) {
    writeLossless(*sixteen, path, spacing, mark);
  } else {
    writeLossless(grey, path, spacing, mark);
  }
}

void writeAveragePicture(const velIPL::DImage& average, const std::string& path, const PixelSpacing& spacing,
                         bool mark) {
  writeNamed(path, [&] {
    velIPL::TiffWriter writer(tiffOptions(spacing, mark));
    writer.addPage(average);
    writer.writeFile(path);
  });
}

}  // namespace lumifold
