#include "sim/series_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

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

std::string frameFileName(int index, int frameCount) {
  int digits = 3;
  for (int n = frameCount - 1; n >= 1000; n /= 10) ++digits;
  char name[32];
  std::snprintf(name, sizeof name, "frame_%0*d.bmp", digits, index);
  return name;
}

void writeSeries(const BScanSimulator& simulator, const std::string& directory,
                 const std::function<void(const std::string& path)>& beforeFile) {
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
  for (int i = 0; i < p.frames; ++i) {
    const std::string path = (dir / frameFileName(i, p.frames)).string();
    announce(path);
    saveGrey(path, simulator.frame(i));
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
}

}  // namespace lumifold
