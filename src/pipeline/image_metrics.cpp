#include "pipeline/image_metrics.h"

#include <cmath>
#include <limits>

namespace lumifold {

double peakSignalToNoise(const velIPL::GImage& image, const velIPL::GImage& reference) {
  double sum = 0.0;
  for (int y = 0; y < image.height(); ++y) {
    const unsigned char* a = image.row(y);
    const unsigned char* b = reference.row(y);
    for (int x = 0; x < image.width(); ++x) {
      const double d = static_cast<double>(a[x]) - b[x];
      sum += d * d;
    }
  }
  const double pixels = static_cast<double>(image.width()) * image.height();
  if (sum == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / (sum / pixels));
}

}  // namespace lumifold
