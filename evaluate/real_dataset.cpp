#include "real_dataset.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "ipl/ipl_exception.h"

namespace lumifold {

namespace fs = std::filesystem;

namespace {

const char* const kDataSetFolder = "Datasets/dt1_Bioptigen_SDOCT";
const char* const kRegionFolder = "Metrics/rois_for_dt1";
constexpr int kEyes = 18;

// A region file is a few hundred bytes; anything past these is not one.
constexpr std::uintmax_t kMaxRegionFile = 1 << 20;
constexpr std::size_t kMaxInflated = 16u << 20;
constexpr int kMaxNesting = 4;

[[noreturn]] void corrupt() { throw velIPL::IPLException("Corrupt region file"); }

std::vector<std::uint8_t> readSmallFile(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) throw velIPL::IPLException("Can't open region file");
  if (size > kMaxRegionFile) corrupt();
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    throw velIPL::IPLException("Can't open region file");
  }
  return bytes;
}

std::uint32_t u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// One data element of a MAT v5 stream: its type and the bytes it holds,
// which stay inside the buffer they were read from.
struct Element {
  std::uint32_t type = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Reads the element at offset (small or full form), moves offset past it
// (with the padding to 8 bytes of the full form, except after a compressed
// element, which has none).
Element nextElement(const std::uint8_t* base, std::size_t length, std::size_t& offset) {
  if (length - offset < 8) corrupt();
  const std::uint8_t* p = base + offset;
  const std::uint32_t word = u32(p);
  Element e;
  if ((word >> 16) != 0) {
    e.type = word & 0xffff;
    e.size = word >> 16;
    if (e.size > 4) corrupt();
    e.data = p + 4;
    offset += 8;
    return e;
  }
  e.type = word;
  e.size = u32(p + 4);
  if (e.size > length - offset - 8) corrupt();
  e.data = p + 8;
  std::size_t next = offset + 8 + e.size;
  if (e.type != 15) next = std::min(length, (next + 7) / 8 * 8);
  offset = next;
  return e;
}

std::vector<std::uint8_t> inflateElement(const Element& e) {
  std::vector<std::uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) corrupt();
  z.next_in = const_cast<Bytef*>(e.data);
  z.avail_in = static_cast<uInt>(e.size);
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    const std::size_t done = out.size();
    if (done >= kMaxInflated) break;
    out.resize(std::min(kMaxInflated, done + 4096));
    z.next_out = out.data() + done;
    z.avail_out = static_cast<uInt>(out.size() - done);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status != Z_OK && status != Z_STREAM_END) break;
    if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) corrupt();
  return out;
}

// The values of a numeric data element, whatever type stores them.
std::vector<double> numbers(const Element& e) {
  std::size_t width = 0;
  switch (e.type) {
    case 1: case 2: width = 1; break;                    // int8, uint8
    case 3: case 4: width = 2; break;                    // int16, uint16
    case 5: case 6: case 7: width = 4; break;            // int32, uint32, single
    case 9: case 12: case 13: width = 8; break;          // double, int64, uint64
    default: corrupt();
  }
  if (e.size % width != 0) corrupt();
  std::vector<double> v(e.size / width);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::uint8_t* p = e.data + i * width;
    std::uint64_t bits = 0;
    for (std::size_t b = 0; b < width; ++b) bits |= static_cast<std::uint64_t>(p[b]) << (8 * b);
    switch (e.type) {
      case 1: v[i] = static_cast<std::int8_t>(bits); break;
      case 2: v[i] = static_cast<double>(bits); break;
      case 3: v[i] = static_cast<std::int16_t>(bits); break;
      case 4: v[i] = static_cast<double>(bits); break;
      case 5: v[i] = static_cast<std::int32_t>(bits); break;
      case 6: v[i] = static_cast<double>(bits); break;
      case 7: {
        const auto b32 = static_cast<std::uint32_t>(bits);
        float f;
        std::memcpy(&f, &b32, sizeof f);
        v[i] = f;
        break;
      }
      case 9: std::memcpy(&v[i], &bits, sizeof(double)); break;
      case 12: v[i] = static_cast<double>(static_cast<std::int64_t>(bits)); break;
      default: v[i] = static_cast<double>(bits); break;
    }
  }
  return v;
}

// A matrix: its name, dimensions, and either its values (numeric and
// character classes, column by column) or its cells.
struct Matrix {
  std::string name;
  std::vector<std::size_t> dims;
  std::vector<double> values;
  std::vector<Matrix> cells;
  bool cell = false;
};

std::size_t count(const std::vector<std::size_t>& dims) {
  std::size_t n = 1;
  for (const std::size_t d : dims) {
    if (d != 0 && n > (std::size_t{1} << 24) / d) corrupt();
    n *= d;
  }
  return n;
}

Matrix parseMatrix(const Element& whole, int depth) {
  if (whole.type != 14 || depth > kMaxNesting) corrupt();
  Matrix m;
  if (whole.size == 0) return m;  // an empty cell
  std::size_t offset = 0;
  const Element flags = nextElement(whole.data, whole.size, offset);
  if (flags.type != 6 || flags.size < 4) corrupt();
  const std::uint32_t word = u32(flags.data);
  const unsigned kind = word & 0xff;
  const Element dims = nextElement(whole.data, whole.size, offset);
  if (dims.type != 5 || dims.size < 8 || dims.size % 4 != 0) corrupt();
  for (std::size_t i = 0; i < dims.size / 4; ++i) {
    const auto d = static_cast<std::int32_t>(u32(dims.data + 4 * i));
    if (d < 0) corrupt();
    m.dims.push_back(static_cast<std::size_t>(d));
  }
  const Element name = nextElement(whole.data, whole.size, offset);
  if (name.type != 1) corrupt();
  m.name.assign(reinterpret_cast<const char*>(name.data), name.size);
  const std::size_t n = count(m.dims);
  if (kind == 1) {
    m.cell = true;
    for (std::size_t i = 0; i < n; ++i) m.cells.push_back(parseMatrix(nextElement(whole.data, whole.size, offset), depth + 1));
    return m;
  }
  const bool numeric = kind == 4 || (kind >= 6 && kind <= 15);
  if (!numeric || (word & 0x0800) != 0) return m;  // structures, objects, sparse or complex: not regions
  m.values = numbers(nextElement(whole.data, whole.size, offset));
  if (m.values.size() != n) corrupt();
  return m;
}

// MATLAB's conversion of a double to uint16: nearest, halves away from
// zero, saturated, NaN to 0.
int toUint16(double v) {
  if (!(v > 0.0)) return 0;
  return static_cast<int>(std::min(65535.0, std::floor(v + 0.5)));
}

Region region(const double* v, std::size_t stride) {
  Region r;
  r.x = toUint16(v[0]);
  r.y = toUint16(v[stride]);
  r.width = toUint16(v[2 * stride]);
  r.height = toUint16(v[3 * stride]);
  return r;
}

Region clipped(Region r, int width, int height) {
  const int x0 = std::clamp(r.x, 0, width), y0 = std::clamp(r.y, 0, height);
  const int x1 = std::clamp(r.x + r.width, 0, width), y1 = std::clamp(r.y + r.height, 0, height);
  return {x0, y0, x1 - x0, y1 - y0};
}

int evenWithin(int a, int b) { return std::min(a, b) / 2 * 2; }

void checkSizes(const velIPL::DImage& a, const velIPL::DImage& b) {
  if (evenWithin(a.width(), b.width()) == 0 || evenWithin(a.height(), b.height()) == 0) {
    throw velIPL::IPLException("Images too small to compare");
  }
}

struct Moments {
  double mean = 0.0, sd = 0.0;
};

Moments moments(const velIPL::DImage& image, const Region& r) {
  const double n = static_cast<double>(r.width) * r.height;
  double sum = 0.0;
  for (int y = r.y; y < r.y + r.height; ++y) {
    for (int x = r.x; x < r.x + r.width; ++x) sum += image.at(x, y);
  }
  Moments m;
  m.mean = sum / n;
  double squares = 0.0;
  for (int y = r.y; y < r.y + r.height; ++y) {
    for (int x = r.x; x < r.x + r.width; ++x) squares += (image.at(x, y) - m.mean) * (image.at(x, y) - m.mean);
  }
  m.sd = n > 1 ? std::sqrt(squares / (n - 1)) : std::numeric_limits<double>::quiet_NaN();
  return m;
}

// The image filtered along rows and then columns by kernel (odd length),
// borders replicated.
velIPL::DImage separable(const velIPL::DImage& in, const std::vector<double>& kernel) {
  const int w = in.width(), h = in.height(), r = static_cast<int>(kernel.size() / 2);
  velIPL::DImage rows(w, h, 0.0), out(w, h, 0.0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double s = 0.0;
      for (int k = -r; k <= r; ++k) s += kernel[k + r] * in.at(std::clamp(x + k, 0, w - 1), y);
      rows.at(x, y) = s;
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double s = 0.0;
      for (int k = -r; k <= r; ++k) s += kernel[k + r] * rows.at(x, std::clamp(y + k, 0, h - 1));
      out.at(x, y) = s;
    }
  }
  return out;
}

// The 3 x 3 Laplacian (alpha 0.2) of image masked to r, zeros outside the
// image, at (x, y).
double maskedLaplacian(const velIPL::DImage& image, const Region& r, int x, int y) {
  constexpr double corner = 0.2 / 1.2, edge = 0.8 / 1.2, centre = -4.0 / 1.2;
  double s = 0.0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int u = x + dx, v = y + dy;
      if (u < r.x || u >= r.x + r.width || v < r.y || v >= r.y + r.height) continue;
      const double weight = dx == 0 && dy == 0 ? centre : (dx == 0 || dy == 0 ? edge : corner);
      s += weight * image.at(u, v);
    }
  }
  return s;
}

}  // namespace

RealDataLocation locateRealData(const std::string& dir) {
  const fs::path root(dir);
  std::error_code error;
  RealDataLocation where;
  if (fs::is_regular_file(root / kDataSetFolder / "1" / "test.tif", error)) {
    where.eyes = (root / kDataSetFolder).string();
    where.regions = (root / kRegionFolder).string();
  } else if (fs::is_regular_file(root / "1" / "test.tif", error)) {
    where.eyes = root.string();
    where.regions = (root / ".." / ".." / kRegionFolder).string();
  } else {
    throw velIPL::IPLException("No real data set here (no Datasets/dt1_Bioptigen_SDOCT/1/test.tif)");
  }
  if (!fs::is_directory(where.regions, error)) where.regions.clear();
  return where;
}

std::vector<int> parseEyeSelection(const std::string& text) {
  std::vector<int> eyes;
  const auto bad = [] { throw velIPL::IPLException("Eyes are numbers 1 to 18, as 1-9 or 1,3,5"); };
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, end - start);
    const std::size_t dash = item.find('-');
    const auto number = [&](const std::string& s) {
      if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789") != std::string::npos) bad();
      const int n = std::stoi(s);
      if (n < 1 || n > kEyes) bad();
      return n;
    };
    const int first = number(item.substr(0, dash));
    const int last = dash == std::string::npos ? first : number(item.substr(dash + 1));
    if (last < first) bad();
    for (int e = first; e <= last; ++e) {
      if (std::find(eyes.begin(), eyes.end(), e) == eyes.end()) eyes.push_back(e);
    }
    start = end + 1;
  }
  return eyes;
}

std::vector<Region> parseRegionFile(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 128 || bytes[126] != 'I' || bytes[127] != 'M') corrupt();
  std::size_t offset = 128;
  while (bytes.size() - offset >= 8) {
    const Element e = nextElement(bytes.data(), bytes.size(), offset);
    Matrix m;
    if (e.type == 15) {
      const std::vector<std::uint8_t> inner = inflateElement(e);
      std::size_t at = 0;
      m = parseMatrix(nextElement(inner.data(), inner.size(), at), 0);
    } else if (e.type == 14) {
      m = parseMatrix(e, 0);
    } else {
      continue;
    }
    if (m.name != "pos") continue;
    std::vector<Region> regions;
    if (m.cell) {
      for (const Matrix& c : m.cells) {
        if (c.cell || c.values.size() != 4) corrupt();
        regions.push_back(region(c.values.data(), 1));
      }
    } else {
      if (m.dims.size() != 2 || m.dims[1] != 4) corrupt();
      for (std::size_t i = 0; i < m.dims[0]; ++i) regions.push_back(region(m.values.data() + i, m.dims[0]));
    }
    return regions;
  }
  throw velIPL::IPLException("Region file has no variable pos");
}

RealEye loadRealEye(const RealDataLocation& location, int number) {
  if (number < 1 || number > kEyes) throw velIPL::IPLException("Eyes are numbers 1 to 18, as 1-9 or 1,3,5");
  RealEye eye;
  eye.number = number;
  const fs::path folder = fs::path(location.eyes) / std::to_string(number);
  for (const char* name : {"test.tif", "1.tif", "2.tif", "3.tif", "4.tif"}) {
    eye.frames.emplace_back((folder / name).string());
    if (eye.frames.back().width() != eye.frames[0].width() || eye.frames.back().height() != eye.frames[0].height()) {
      throw velIPL::IPLException("Frames of one eye differ in size");
    }
  }
  eye.average = velIPL::GImage((folder / "average.tif").string());
  if (!location.regions.empty()) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.mat", number);
    const fs::path file = fs::path(location.regions) / name;
    std::error_code error;
    if (fs::exists(file, error)) {
      for (const Region& r : parseRegionFile(readSmallFile(file))) {
        eye.regions.push_back(clipped(r, eye.frames[0].width(), eye.frames[0].height()));
      }
    }
  }
  return eye;
}

velIPL::DImage toDouble(const velIPL::GImage& image) {
  velIPL::DImage d(image.width(), image.height(), 0.0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) d.at(x, y) = image.at(x, y);
  }
  return d;
}

double protocolPsnr(const velIPL::DImage& result, const velIPL::DImage& reference) {
  checkSizes(result, reference);
  const int w = evenWithin(result.width(), reference.width()), h = evenWithin(result.height(), reference.height());
  double sum = 0.0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double d = result.at(x, y) - reference.at(x, y);
      sum += d * d;
    }
  }
  if (sum == 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / (sum / (static_cast<double>(w) * h)));
}

double protocolSsim(const velIPL::DImage& result, const velIPL::DImage& reference) {
  checkSizes(result, reference);
  const int w = evenWithin(result.width(), reference.width()), h = evenWithin(result.height(), reference.height());
  std::vector<double> kernel(11);
  double total = 0.0;
  for (int i = 0; i < 11; ++i) total += kernel[i] = std::exp(-(i - 5) * (i - 5) / (2.0 * 1.5 * 1.5));
  for (double& k : kernel) k /= total;
  velIPL::DImage a(w, h, 0.0), b(w, h, 0.0), aa(w, h, 0.0), bb(w, h, 0.0), ab(w, h, 0.0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      a.at(x, y) = result.at(x, y);
      b.at(x, y) = reference.at(x, y);
      aa.at(x, y) = a.at(x, y) * a.at(x, y);
      bb.at(x, y) = b.at(x, y) * b.at(x, y);
      ab.at(x, y) = a.at(x, y) * b.at(x, y);
    }
  }
  const velIPL::DImage ma = separable(a, kernel), mb = separable(b, kernel), maa = separable(aa, kernel),
                       mbb = separable(bb, kernel), mab = separable(ab, kernel);
  const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0.0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double mx = ma.at(x, y), my = mb.at(x, y);
      const double vx = maa.at(x, y) - mx * mx, vy = mbb.at(x, y) - my * my, cxy = mab.at(x, y) - mx * my;
      sum += (2 * mx * my + c1) * (2 * cxy + c2) / ((mx * mx + my * my + c1) * (vx + vy + c2));
    }
  }
  return sum / (static_cast<double>(w) * h);
}

RegionFigures regionFigures(const velIPL::DImage& image, const std::vector<Region>& regions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  RegionFigures f{nan, nan, nan};
  std::vector<Moments> m;
  for (const Region& r : regions) {
    const Region c = clipped(r, image.width(), image.height());
    if (c.width * c.height < 2) return f;
    m.push_back(moments(image, c));
  }
  if (m.size() < 2) return f;
  double ratio = 0.0, means = 0.0, sds = 0.0;
  for (std::size_t i = 1; i < m.size(); ++i) {
    ratio += m[i].mean / m[i].sd;
    means += m[i].mean;
    sds += m[i].sd;
  }
  const double n = static_cast<double>(m.size() - 1);
  means /= n;
  sds /= n;
  // As the set's scripts: the foreground's SD is the mean of the regions'
  // SDs, squared.
  f.msr = ratio / n;
  f.cnr = std::fabs(means - m[0].mean) / std::sqrt(0.5 * (sds * sds + m[0].sd * m[0].sd));
  f.enl = m[0].mean * m[0].mean / (m[0].sd * m[0].sd);
  return f;
}

double edgePreservation(const velIPL::DImage& result, const velIPL::DImage& noisy, const std::vector<Region>& regions) {
  if (regions.size() < 2) return std::numeric_limits<double>::quiet_NaN();
  const int w = std::min(result.width(), noisy.width()), h = std::min(result.height(), noisy.height());
  const double pixels = static_cast<double>(w) * h;
  double total = 0.0;
  for (std::size_t i = 1; i < regions.size(); ++i) {
    const Region r = clipped(regions[i], w, h);
    // The Laplacians vanish outside the region grown by one pixel, yet the
    // correlation is over the whole image: the zeros count in its sums.
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (int y = std::max(0, r.y - 1); y < std::min(h, r.y + r.height + 1); ++y) {
      for (int x = std::max(0, r.x - 1); x < std::min(w, r.x + r.width + 1); ++x) {
        const double a = maskedLaplacian(noisy, r, x, y), b = maskedLaplacian(result, r, x, y);
        sa += a;
        sb += b;
        saa += a * a;
        sbb += b * b;
        sab += a * b;
      }
    }
    const double cov = sab - sa * sb / pixels, va = saa - sa * sa / pixels, vb = sbb - sb * sb / pixels;
    total += cov / std::sqrt(va * vb);
  }
  return total / static_cast<double>(regions.size() - 1);
}

}  // namespace lumifold
