#include "sim/series_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/ipl_exception.h"

namespace lumifold {

namespace {

void saveGrey(const std::string& path, const velIPL::GImage& grey) {
  // Equal red, green and blue read back as the same grey value.
  velIPL::RGBImage rgb(grey.width(), grey.height(), 0);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < grey.height(); ++y) std::copy(grey.row(y), grey.row(y) + grey.width(), rgb.row(y, c));
  }
  rgb.save(path);
}

}  // namespace

const std::vector<std::string_view>& seriesFormatNames() {
  static const std::vector<std::string_view> names = {"bmp", "png", "tif", "tif-stack", "dcm"};
  return names;
}

std::optional<SeriesFormat> seriesFormatFromName(std::string_view name) {
  const std::vector<std::string_view>& names = seriesFormatNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<SeriesFormat>(i);
  }
  return std::nullopt;
}

std::string frameFileName(int index, int frameCount, std::string_view extension) {
  int digits = 3;
  for (int n = frameCount - 1; n >= 1000; n /= 10) ++digits;
  char name[32];
  std::snprintf(name, sizeof name, "frame_%0*d", digits, index);
  return name + std::string(extension);
}

std::vector<std::string> seriesFileNames(SeriesFormat format, int frameCount) {
  if (format == SeriesFormat::tiffStack) return {"series.tif"};
  if (format == SeriesFormat::dicom) return {"series.dcm"};
  const char* extension = format == SeriesFormat::png ? ".png" : (format == SeriesFormat::tiff ? ".tif" : ".bmp");
  std::vector<std::string> names;
  for (int i = 0; i < frameCount; ++i) names.push_back(frameFileName(i, frameCount, extension));
  return names;
}

void writeSeries(const BScanSimulator& simulator, const std::string& directory,
                 const std::function<void(const std::string& path)>& beforeFile, SeriesFormat format) {
  namespace fs = std::filesystem;
  auto announce = [&](const std::string& path) {
    if (beforeFile) beforeFile(path);
  };
  const SimulationParameters& p = simulator.parameters();

  announce(directory);
  std::error_code error;
  fs::create_directories(directory, error);
  if (!fs::is_directory(directory, error)) throw velIPL::IPLException("Can't create folder");

  const fs::path dir(directory);
  const std::vector<std::string> names = seriesFileNames(format, p.frames);
  if (format == SeriesFormat::tiffStack || format == SeriesFormat::dicom) {
    // Encoded in memory, a frame at a time, and saved whole.
    const std::string path = (dir / names.front()).string();
    announce(path);
    if (format == SeriesFormat::tiffStack) {
      velIPL::TiffWriter writer;
      for (int i = 0; i < p.frames; ++i) writer.addPage(simulator.frame(i));
      writer.writeFile(path);
    } else {
      velIPL::DicomWriter writer;
      for (int i = 0; i < p.frames; ++i) writer.addFrame(simulator.frame(i));
      writer.writeFile(path);
    }
  } else {
    for (int i = 0; i < p.frames; ++i) {
      const std::string path = (dir / names[static_cast<std::size_t>(i)]).string();
      announce(path);
      const velIPL::GImage frame = simulator.frame(i);
      if (format == SeriesFormat::png) {
        velIPL::PngWriter().writeFile(path, frame);
      } else if (format == SeriesFormat::tiff) {
        velIPL::TiffWriter writer;
        writer.addPage(frame);
        writer.writeFile(path);
      } else {
        saveGrey(path, frame);
      }
    }
  }

  // The answers go into a folder of their own: a noise-free BMP beside the
  // frames would be taken for one more frame by anyone merging the folder.
  const fs::path truthDir = dir / kTruthFolder;
  announce(truthDir.string());
  fs::create_directories(truthDir, error);
  if (!fs::is_directory(truthDir, error)) throw velIPL::IPLException("Can't create folder");

  const std::string sectionPath = (truthDir / "noise_free.bmp").string();
  announce(sectionPath);
  const velIPL::DImage expected = simulator.noiseFreeSection();
  velIPL::GImage rounded(p.width, p.height, 0);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      rounded.at(x, y) = static_cast<unsigned char>(std::min(255.0, std::floor(expected.at(x, y) + 0.5)));
    }
  }
  saveGrey(sectionPath, rounded);

  const std::string truthPath = (truthDir / "truth.csv").string();
  announce(truthPath);
  std::ofstream truth(truthPath, std::ios::binary | std::ios::trunc);
  if (!truth) throw velIPL::IPLException("Can't write file");
  truth << "frame,column,shift\n";
  for (int i = 0; i < p.frames; ++i) {
    const mathORN::RowVector s = simulator.trueShifts(i);
    for (int x = 0; x < p.width; ++x) truth << i << ',' << x << ',' << static_cast<int>(s[x]) << '\n';
  }
  truth.close();
  if (!truth) throw velIPL::IPLException("Can't write file");

  auto writeTable = [&](const char* name, const std::string& text) {
    const std::string path = (truthDir / name).string();
    announce(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw velIPL::IPLException("Can't write file");
  };
  if (!simulator.badFrames().empty()) {
    std::vector<std::pair<int, BadFrame>> bad = simulator.badFrames();
    std::sort(bad.begin(), bad.end());
    std::string text = "frame,kind\n";
    for (const auto& b : bad) text += std::to_string(b.first) + ',' + std::string(badFrameName(b.second)) + '\n';
    writeTable(kBadFramesFile, text);
  }
  bool slipped = false;
  for (int i = 0; i < p.frames; ++i) slipped = slipped || simulator.lateralShift(i) != 0;
  if (slipped) {
    std::string text = "frame,lateral\n";
    for (int i = 0; i < p.frames; ++i) text += std::to_string(i) + ',' + std::to_string(simulator.lateralShift(i)) + '\n';
    writeTable(kLateralFile, text);
  }
}

}  // namespace lumifold
