#include "sim/bscan_simulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>

#include "sim/random_stream.h"

namespace lumifold {

namespace {

// How a section's intensity becomes grey: grey = gain * ln(intensity) +
// offset, with the mean pigment-epithelium intensity 1.0; and the mean
// intensity of the detector noise at noise level 1.
struct Compression {
  double gain, offset, noiseFloor;
};

// The classic section: 35 dB over the 8-bit range, the epithelium at grey
// 232, the vitreous at grey values around 15.
const Compression kClassic{255.0 / (3.5 * std::log(10.0)), 232.0, 1.5e-3};
// Real foveal scans: the frame-to-frame spread of a pixel's grey, 32 levels
// in tissue and the deep noise, is that of log-compressed exponential
// speckle at 26.5 grey levels per neper (42 dB over the 8-bit range); the
// vitreous lies near grey 75, the epithelium's expected grey near 207.
const Compression kCalibrated{26.5, 222.0, 6.9e-3};

const Compression& compressionOf(Section section) {
  return section == Section::Classic ? kClassic : kCalibrated;
}

// Labels of the independent random streams.
constexpr std::uint64_t kAnatomy = 1;
constexpr std::uint64_t kMotion = 2;
constexpr std::uint64_t kSpeckle = 3;
constexpr std::uint64_t kBadFrames = 4;
constexpr std::uint64_t kLateral = 5;

// The calibrated section's speckle: the weight of a row's white noise in
// the row below, how many columns either side tissue speckle spreads over,
// and the share of the tissue's power that comes from that spread.
constexpr double kAxialGrain = 0.4;
constexpr std::size_t kGrain = 3;
constexpr double kSpreadShare = 0.8;
constexpr double kPi = 3.14159265358979323846;

// A blink leaves a few per cent of the light: -15 dB.
constexpr double kBlinkFactor = 0.03;

constexpr int kSubsamples = 4;

double smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Smooth value noise in -1 .. 1 along one axis, with features about
// `spacing` units apart.
class Noise1D {
public:
  Noise1D(RandomStream& rng, double length, double spacing) : spacing_(spacing) {
    const int knots = static_cast<int>(length / spacing) + 3;
    knots_.resize(knots);
    for (double& k : knots_) k = rng.uniform(-1.0, 1.0);
  }
  double operator()(double t) const {
    const double u = std::max(0.0, t / spacing_);
    const int i = std::min(static_cast<int>(u), static_cast<int>(knots_.size()) - 2);
    const double f = smoothstep(u - i);
    return knots_[i] + (knots_[i + 1] - knots_[i]) * f;
  }

private:
  double spacing_;
  std::vector<double> knots_;
};

// The same over two axes.
class Noise2D {
public:
  Noise2D(RandomStream& rng, double width, double height, double sx, double sz)
      : sx_(sx), sz_(sz), nx_(static_cast<int>(width / sx) + 3), nz_(static_cast<int>(height / sz) + 3) {
    knots_.resize(static_cast<std::size_t>(nx_) * nz_);
    for (double& k : knots_) k = rng.uniform(-1.0, 1.0);
  }
  double operator()(double x, double z) const {
    const double u = std::max(0.0, x / sx_);
    const double v = std::max(0.0, z / sz_);
    const int i = std::min(static_cast<int>(u), nx_ - 2);
    const int j = std::min(static_cast<int>(v), nz_ - 2);
    const double fu = smoothstep(u - i);
    const double fv = smoothstep(v - j);
    const double a = knot(i, j) + (knot(i + 1, j) - knot(i, j)) * fu;
    const double b = knot(i, j + 1) + (knot(i + 1, j + 1) - knot(i, j + 1)) * fu;
    return a + (b - a) * fv;
  }

private:
  double knot(int i, int j) const { return knots_[static_cast<std::size_t>(j) * nx_ + i]; }
  double sx_, sz_;
  int nx_, nz_;
  std::vector<double> knots_;
};

struct Vessel {
  double x;       // lateral centre, columns
  double depth;   // below the inner boundary, rows, to the centre
  double radiusX; // columns
  double radiusZ; // rows
};

struct ChoroidVessel {
  double x, z, radiusX, radiusZ;
};

// One column of the section as bands between boundaries, top to bottom.
struct Band {
  double bottom;
  double reflectivity;
};

// A band from the inner boundary down, as thick (rows) and bright.
struct Layer {
  double thickness, reflectivity;
};

// What a section keeps for every column: its vessels, its choroid and the
// frame's scale.
struct Anatomy {
  const std::vector<Vessel>& vessels;
  const std::vector<ChoroidVessel>& choroidVessels;
  const Noise1D& choroidWave;
  const Noise2D& choroidTexture;
  double choroidThickness;
  double sz;  // rows per row of the section's model scan
  int margin, width, rows;
};

// How a section draws the epithelium and what lies below it, and its
// vessels: the constants in which the two sections differ.
struct DeepLook {
  double epitheliumRows;
  double vesselShadow;              // light a vessel's full chord takes from all below it
  double vesselWall, vesselBlood;   // the lumen's bright top 1.2 rows, and below it
  // The choroid: (peak e^(-depth / decay rows) + floor) (base + texture t),
  // a lumen multiplying it by lumen.
  double choroidPeak, choroidDecay, choroidFloor, choroidBase, choroidTexture, choroidLumen;
  double deepPeak, deepDecay;       // the sclera below: peak e^(-depth / decay rows)
  std::vector<double> spread;       // the axial point spread, centred, odd length
};

// Column x of the section: the retina's layers (inner boundary first)
// above the epithelium's top rpe, then the epithelium, Bruch's membrane,
// choroid and sclera, vessels and their shadows, integrated over each row
// and spread axially. bands and column are scratch space.
void drawColumn(int x, const Layer* retina, std::size_t layers, double rpe, double epitheliumReflectivity,
                double bruchReflectivity, const Anatomy& a, const DeepLook& look, std::vector<Band>& bands,
                std::vector<double>& column, std::vector<double>& section) {
  const double cx = x + 0.5, sz = a.sz;
  const int rows = a.rows;
  double total = 0.0;
  for (std::size_t i = 0; i < layers; ++i) total += retina[i].thickness;
  const double ilm = rpe - total;

  bands.clear();
  double z = ilm;
  for (std::size_t i = 0; i < layers; ++i) {
    z += retina[i].thickness;
    bands.push_back({z, retina[i].reflectivity});
  }
  const double rpeBottom = rpe + look.epitheliumRows * sz;
  bands.push_back({rpeBottom, epitheliumReflectivity});
  const double bruch = rpeBottom + 3.0 * sz;
  bands.push_back({bruch, bruchReflectivity});
  const double choroidBottom = bruch + a.choroidThickness * (1.0 + 0.2 * a.choroidWave(cx));

  // Vessels crossing this column: the lumen replaces the tissue, and
  // everything below it lies in its shadow.
  double shadow = 1.0;
  const Vessel* hit = nullptr;
  double hitHalf = 0.0;
  for (const Vessel& v : a.vessels) {
    const double dx = (cx - v.x) / v.radiusX;
    if (dx * dx < 1.0) {
      const double chord = std::sqrt(1.0 - dx * dx);
      shadow *= 1.0 - look.vesselShadow * chord;
      if (!hit || chord > hitHalf) {
        hit = &v;
        hitHalf = chord;
      }
    }
  }
  const double vesselCentre = hit ? ilm + hit->depth : 0.0;
  const double vesselHalf = hit ? hit->radiusZ * hitHalf : 0.0;

  auto reflectivityAt = [&](double zz) {
    if (zz < ilm) return 0.0;
    double r = 0.0;
    if (zz < bruch) {
      for (const Band& b : bands) {
        if (zz < b.bottom) {
          r = b.reflectivity;
          break;
        }
      }
    } else if (zz < choroidBottom) {
      const double depth = zz - bruch;
      r = (look.choroidPeak * std::exp(-depth / (look.choroidDecay * sz)) + look.choroidFloor) *
          (look.choroidBase + look.choroidTexture * a.choroidTexture(cx, zz + a.margin));
      for (const ChoroidVessel& c : a.choroidVessels) {
        const double dx = (cx - c.x) / c.radiusX;
        const double dz = (zz - c.z) / c.radiusZ;
        if (dx * dx + dz * dz < 1.0) {
          r *= look.choroidLumen;
          break;
        }
      }
    } else {
      r = look.deepPeak * std::exp(-(zz - choroidBottom) / (look.deepDecay * sz));
    }
    if (hit) {
      const double top = vesselCentre - vesselHalf;
      const double bottom = vesselCentre + vesselHalf;
      // A bright wall at the top, scattering blood below it.
      if (zz >= top && zz < bottom) return zz < top + 1.2 * sz ? look.vesselWall : look.vesselBlood;
      if (zz >= bottom) r *= shadow;
    }
    return r;
  };

  for (int i = 0; i < rows; ++i) {
    const double top = i - a.margin;
    double sum = 0.0;
    for (int k = 0; k < kSubsamples; ++k) sum += reflectivityAt(top + (k + 0.5) / kSubsamples);
    column[i] = sum / kSubsamples;
  }
  const int reach = static_cast<int>(look.spread.size() / 2);
  for (int i = 0; i < rows; ++i) {
    double sum = 0.0;
    for (int k = -reach; k <= reach; ++k) sum += look.spread[k + reach] * column[std::clamp(i + k, 0, rows - 1)];
    section[static_cast<std::size_t>(i) * a.width + x] = sum;
  }
}

// The classic section's epithelium and below: a little over a row of
// axial spread.
const DeepLook kClassicDeep{7.0, 0.85, 0.8, 0.3, 0.15, 35.0, 0.0, 0.7, 0.5, 0.15, 0.012, 25.0, {0.25, 0.5, 0.25}};
// The calibrated one's: faint vessels, a dimmer choroid, and boundaries as
// soft as in real scans.
const DeepLook kCalibratedDeep{8.0, 0.25, 0.15, 0.05, 0.05, 15.0, 0.01, 1.0, 0.8, 0.3, 0.0065, 55.0,
                               {1.0 / 16, 4.0 / 16, 6.0 / 16, 4.0 / 16, 1.0 / 16}};

// The ranges a section draws its vessels from, in rows and columns of its
// model scan: retinal lumens below the inner boundary; choroidal lumens
// (a + b * depth share * u, u in 0.5 .. 1) below the epithelium, the larger
// deeper (Haller's layer), the small ones near the top.
struct VesselLook {
  double radiusX[2], radiusZ[2], depth[2];
  double choroidRadiusX[2], choroidRadiusZ[2], choroidBelow;
};

// count retinal vessels, kept out of the fovea's avascular zone.
std::vector<Vessel> drawVessels(RandomStream& rng, int count, int w, double fovea, double foveaWidth,
                                const VesselLook& look, double sx, double sz) {
  std::vector<Vessel> vessels;
  for (int v = 0; v < count; ++v) {
    Vessel vessel;
    vessel.x = rng.uniform(0.0, w);
    if (std::fabs(vessel.x - fovea) < 2.0 * foveaWidth) vessel.x = std::fmod(vessel.x + 4.0 * foveaWidth, w);
    vessel.radiusX = rng.uniform(look.radiusX[0], look.radiusX[1]) * sx;
    vessel.radiusZ = rng.uniform(look.radiusZ[0], look.radiusZ[1]) * sz;
    vessel.depth = vessel.radiusZ + rng.uniform(look.depth[0], look.depth[1]) * sz;
    vessels.push_back(vessel);
  }
  return vessels;
}

// count choroidal vessels below the epithelium's top rpeTop(x).
template <typename RpeTop>
std::vector<ChoroidVessel> drawChoroidVessels(RandomStream& rng, int count, int w, const VesselLook& look,
                                              const RpeTop& rpeTop, double choroidThickness, double sx, double sz) {
  std::vector<ChoroidVessel> vessels;
  for (int v = 0; v < count; ++v) {
    ChoroidVessel c;
    c.x = rng.uniform(0.0, w);
    const double frac = rng.uniform(0.15, 0.9);
    c.radiusX = (look.choroidRadiusX[0] + look.choroidRadiusX[1] * frac * rng.uniform(0.5, 1.0)) * sx;
    c.radiusZ = (look.choroidRadiusZ[0] + look.choroidRadiusZ[1] * frac * rng.uniform(0.5, 1.0)) * sz;
    c.z = rpeTop(c.x) + look.choroidBelow * sz + frac * choroidThickness;
    vessels.push_back(c);
  }
  return vessels;
}

// Every column of the section: draw(x, cx, f, nasal, bands, column,
// section), f the fovea's weight (1 at its centre), nasal the nasal side's
// (0 to 1 across the width).
template <typename Draw>
std::vector<double> drawSection(const Anatomy& a, double fovea, double foveaWidth, bool nasalRight, const Draw& draw) {
  std::vector<double> section(static_cast<std::size_t>(a.rows) * a.width, 0.0);
  std::vector<Band> bands;
  std::vector<double> column(a.rows);
  const int w = a.width;
  for (int x = 0; x < w; ++x) {
    const double cx = x + 0.5;
    const double f = std::exp(-0.5 * ((cx - fovea) / foveaWidth) * ((cx - fovea) / foveaWidth));
    const double u = w > 1 ? static_cast<double>(x) / (w - 1) : 0.5;
    const double nasal = smoothstep(nasalRight ? u : 1.0 - u);
    draw(x, cx, f, nasal, bands, column, section);
  }
  return section;
}

const VesselLook kClassicVessels{{3.5, 8.0}, {2.5, 5.0}, {3.0, 9.0}, {3.0, 11.0}, {1.5, 6.0}, 10.0};
// Few, thin vessels: a foveal scan crosses little but capillaries.
const VesselLook kCalibratedVessels{{2.0, 4.0}, {2.0, 3.5}, {2.0, 6.0}, {4.0, 10.0}, {2.0, 5.0}, 14.0};

// The mean reflectivity of the classic noise-free section, rows -margin ..
// height + margin - 1, row-major, relative to the pigment epithelium (1.0).
std::vector<double> buildClassicReflectivity(const SimulationParameters& p, int margin) {
  const int w = p.width;
  const int rows = p.height + 2 * margin;
  const double sx = w / 512.0;
  const double sz = p.height / 496.0;
  RandomStream rng(p.seed, {kAnatomy});

  const double fovea = w * rng.uniform(0.42, 0.58);
  const double foveaWidth = std::max(1.0, 36.0 * sx);
  const bool nasalRight = rng.uniform() < 0.5;
  const double rpeDepth = p.height * rng.uniform(0.53, 0.59);
  const double curvature = p.height * rng.uniform(0.06, 0.11);
  const double tilt = p.height * rng.uniform(-0.04, 0.04);
  const double choroidThickness = 70.0 * sz * rng.uniform(0.85, 1.15);

  const Noise1D rpeWave(rng, w, 90.0 * sx);
  std::array<Noise1D, 12> layerTexture{
      Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx),
      Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx),
      Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx),
      Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx), Noise1D(rng, w, 24.0 * sx)};
  const Noise1D choroidWave(rng, w, 60.0 * sx);
  const Noise2D choroidTexture(rng, w, rows, 7.0 * sx, 4.0 * sz);

  const std::vector<Vessel> vessels = drawVessels(rng, rng.integer(3, 6), w, fovea, foveaWidth, kClassicVessels, sx, sz);

  auto rpeTop = [&](double x) {
    const double v = w > 1 ? 2.0 * x / (w - 1) - 1.0 : 0.0;
    return rpeDepth - curvature * v * v + tilt * v + 3.0 * sz * rpeWave(x);
  };

  const std::vector<ChoroidVessel> choroidVessels = drawChoroidVessels(
      rng, std::max(1, static_cast<int>(w / 11.0)), w, kClassicVessels, rpeTop, choroidThickness, sx, sz);

  const Anatomy anatomy{vessels, choroidVessels, choroidWave, choroidTexture, choroidThickness, sz, margin, w, rows};
  const auto draw = [&](int x, double cx, double f, double nasal, auto& bands, auto& column, auto& section) {
    const double inner = 1.0 - 0.95 * f;
    auto tex = [&](int layer, double amount) { return 1.0 + amount * layerTexture[layer](cx); };

    // Thickness (rows) and reflectivity of each band from the inner
    // boundary down to the pigment epithelium.
    const Layer retina[] = {
        {2.0 * sz, 0.9 * tex(0, 0.15)},                           // inner limiting membrane
        {(4.0 + 18.0 * nasal) * sz * (1.0 - f), 0.35 * tex(1, 0.25)}, // nerve fibre layer
        {12.0 * sz * inner, 0.05 * tex(2, 0.3)},                  // ganglion cells
        {10.0 * sz * inner, 0.12 * tex(3, 0.25)},                 // inner plexiform
        {10.0 * sz * inner, 0.02 * tex(4, 0.3)},                  // inner nuclear
        {6.0 * sz * (1.0 - 0.7 * f), 0.1 * tex(5, 0.25)},         // outer plexiform
        {22.0 * sz * (1.0 + 0.5 * f), 0.006 * tex(6, 0.3)},       // outer nuclear
        {1.5 * sz, 0.08 * tex(7, 0.2)},                           // external limiting membrane
        {4.0 * sz, 0.03 * tex(8, 0.2)},                           // myoid zone
        {3.0 * sz, 0.5 * tex(9, 0.15)},                           // ellipsoid zone
        {4.0 * sz, 0.08 * tex(10, 0.2)},                          // outer segments
    };
    drawColumn(x, retina, std::size(retina), rpeTop(cx), 1.0 * tex(11, 0.08), 0.45, anatomy, kClassicDeep, bands, column, section);
  };
  return drawSection(anatomy, fovea, foveaWidth, nasalRight, draw);
}

// The mean reflectivity of the calibrated section, laid out like the
// classic one. Sizes are those of a real foveal scan of 900 x 450 pixels
// scaled to the frame; reflectivities are what registered averages of real
// scans show, taken back through the log compression. Lateral structure is
// kept faint and broad, as in a real frame, where speckle outweighs it in
// every column sum.
std::vector<double> buildCalibratedReflectivity(const SimulationParameters& p, int margin) {
  const int w = p.width;
  const int rows = p.height + 2 * margin;
  const double sx = w / 900.0;
  const double sz = p.height / 450.0;
  RandomStream rng(p.seed, {kAnatomy});

  const double fovea = w * rng.uniform(0.42, 0.58);
  const double foveaWidth = std::max(1.0, 50.0 * sx * rng.uniform(0.75, 1.3));
  const double pitDepth = rng.uniform(0.8, 0.97);
  const bool nasalRight = rng.uniform() < 0.5;
  const double nerveFibres = rng.uniform(8.0, 16.0);
  const double rpeDepth = p.height * rng.uniform(0.28, 0.45);
  const double curvature = p.height * rng.uniform(0.03, 0.09);
  const double tilt = p.height * rng.uniform(-0.08, 0.08);
  const double skew = p.height * rng.uniform(-0.04, 0.04);
  const double wander = rng.uniform(3.0, 12.0) * sz;
  const double choroidThickness = 45.0 * sz * rng.uniform(0.7, 1.3);
  // Eyes differ in every layer's thickness and brightness, not only in
  // where the retina lies: another eye's B-scan must not line up with this
  // one's once moved and tilted.
  const double retinaScale = rng.uniform(0.85, 1.2);
  std::array<double, 11> thickness{}, brightness{};
  for (double& t : thickness) t = retinaScale * rng.uniform(0.8, 1.25);
  for (double& b : brightness) b = std::exp(rng.uniform(-0.6, 0.6));

  const Noise1D rpeWave(rng, w, 150.0 * sx);
  std::vector<Noise1D> layerTexture;
  for (int i = 0; i < 14; ++i) layerTexture.emplace_back(rng, w, 80.0 * sx);
  const Noise1D choroidWave(rng, w, 100.0 * sx);
  const Noise2D choroidTexture(rng, w, rows, 20.0 * sx, 8.0 * sz);

  const std::vector<Vessel> vessels =
      drawVessels(rng, rng.integer(0, 2), w, fovea, foveaWidth, kCalibratedVessels, sx, sz);

  auto rpeTop = [&](double x) {
    const double v = w > 1 ? 2.0 * x / (w - 1) - 1.0 : 0.0;
    return rpeDepth - curvature * v * v + tilt * v + skew * v * v * v + wander * rpeWave(x);
  };

  const std::vector<ChoroidVessel> choroidVessels = drawChoroidVessels(
      rng, std::max(1, static_cast<int>(w / (25.0 * sx))), w, kCalibratedVessels, rpeTop, choroidThickness, sx, sz);

  const Anatomy anatomy{vessels, choroidVessels, choroidWave, choroidTexture, choroidThickness, sz, margin, w, rows};
  const auto draw = [&](int x, double cx, double f, double nasal, auto& bands, auto& column, auto& section) {
    const double inner = 1.0 - pitDepth * f;
    auto tex = [&](int layer, double amount) { return 1.0 + amount * layerTexture[layer](cx); };

    const Layer layers[] = {
        {1.5 * sz, 0.13 * tex(0, 0.1)},                                          // inner limiting membrane
        {(2.0 + nerveFibres * nasal) * sz * (1.0 - f), 0.09 * (1.0 + 2.0 * nasal) * tex(1, 0.15)}, // nerve fibres
        {12.0 * sz * inner, 0.017 * tex(2, 0.15)},                               // ganglion cells
        {11.0 * sz * inner, 0.032 * tex(3, 0.15)},                               // inner plexiform
        {13.0 * sz * inner, 0.011 * tex(4, 0.15)},                               // inner nuclear
        {6.0 * sz * (1.0 - 0.6 * f), 0.032 * tex(5, 0.15)},                      // outer plexiform
        {22.0 * sz * (1.0 + 0.5 * f), 0.0056 * tex(6, 0.15)},                    // outer nuclear
        {1.5 * sz, 0.02 * tex(7, 0.1)},                                          // external limiting membrane
        {6.0 * sz, 0.009 * tex(8, 0.1)},                                         // myoid zone
        {2.5 * sz, 1.2 * tex(9, 0.1)},                                           // ellipsoid zone
        {3.0 * sz, 0.09 * tex(10, 0.1)},                                         // outer segments
    };
    Layer retina[11];
    for (std::size_t i = 0; i < 11; ++i) {
      retina[i] = {layers[i].thickness * thickness[i], layers[i].reflectivity * brightness[i]};
    }
    drawColumn(x, retina, std::size(retina), rpeTop(cx), 1.0 * tex(11, 0.08), 0.3 * tex(12, 0.1), anatomy, kCalibratedDeep, bands, column, section);
  };
  return drawSection(anatomy, fovea, foveaWidth, nasalRight, draw);
}

std::vector<double> buildReflectivity(const SimulationParameters& p, int margin) {
  return p.section == Section::Classic ? buildClassicReflectivity(p, margin) : buildCalibratedReflectivity(p, margin);
}

// The mean noise intensity of every section row. Real scans show the noise
// darker with depth: some 15 grey levels lower at the bottom than in the
// vitreous.
std::vector<double> noiseFloor(const SimulationParameters& p, int margin) {
  const int rows = p.height + 2 * margin;
  const double level = p.noise * compressionOf(p.section).noiseFloor;
  std::vector<double> floor(static_cast<std::size_t>(rows), level);
  if (p.section == Section::Classic) return floor;
  for (int i = 0; i < rows; ++i) {
    const double depth = (i - margin - 0.3 * p.height) / (0.7 * p.height);
    floor[static_cast<std::size_t>(i)] = level * std::exp(-0.64 * std::clamp(depth, 0.0, 1.0));
  }
  return floor;
}

[[noreturn]] void invalid(const char* message) { throw std::invalid_argument(message); }

void validate(const SimulationParameters& p) {
  if (p.frames < 1 || p.frames > 10000) invalid("Frame count must be between 1 and 10000");
  if (p.width < 1 || p.width > 4096) invalid("Width must be between 1 and 4096");
  if (p.height < 2 || p.height > 4096) invalid("Height must be between 2 and 4096");
  if (p.maxShift < 0 || p.maxShift > p.height / 2) invalid("Maximum shift must be between 0 and half the height");
  if (!(p.noise >= 0.0 && p.noise <= 1000.0)) invalid("Noise level must be between 0 and 1000");
  if (p.lateralSlip < 0 || p.lateralSlip > p.width / 4) invalid("Lateral slip must be between 0 and a quarter of the width");
  if (static_cast<int>(p.badFrames.size()) > p.frames - 1) invalid("Too few frames for the bad frames");
}

std::vector<double> logGreyOf(const std::vector<double>& reflectivity, const std::vector<double>& floor,
                              const Compression& c, std::vector<double>* mean) {
  std::vector<double> grey(reflectivity.size());
  if (mean) mean->resize(reflectivity.size());
  const std::size_t w = reflectivity.size() / floor.size();
  for (std::size_t i = 0; i < reflectivity.size(); ++i) {
    const double mu = reflectivity[i] + floor[i / w];
    if (mean) (*mean)[i] = mu;
    grey[i] = mu > 0.0 ? c.gain * std::log(mu) + c.offset : -std::numeric_limits<double>::infinity();
  }
  return grey;
}

}  // namespace

std::string_view badFrameName(BadFrame kind) {
  switch (kind) {
    case BadFrame::Blink: return "blink";
    case BadFrame::Section: return "section";
    case BadFrame::Lateral: return "lateral";
    case BadFrame::Dropout: return "dropout";
  }
  return "blink";
}

std::optional<BadFrame> badFrameFromName(std::string_view name) {
  for (BadFrame k : {BadFrame::Blink, BadFrame::Section, BadFrame::Lateral, BadFrame::Dropout}) {
    if (badFrameName(k) == name) return k;
  }
  return std::nullopt;
}

std::string_view sectionName(Section section) { return section == Section::Classic ? "classic" : "calibrated"; }

std::optional<Section> sectionFromName(std::string_view name) {
  for (Section s : {Section::Calibrated, Section::Classic}) {
    if (sectionName(s) == name) return s;
  }
  return std::nullopt;
}

std::string_view motionName(Motion motion) {
  switch (motion) {
    case Motion::None: return "none";
    case Motion::Global: return "global";
    case Motion::Tilt: return "tilt";
    case Motion::Jitter: return "jitter";
    case Motion::Mixed: return "mixed";
  }
  return "mixed";
}

std::optional<Motion> motionFromName(std::string_view name) {
  for (Motion m : {Motion::None, Motion::Global, Motion::Tilt, Motion::Jitter, Motion::Mixed}) {
    if (motionName(m) == name) return m;
  }
  return std::nullopt;
}

BScanSimulator::BScanSimulator(const SimulationParameters& parameters)
    : parameters_(parameters), margin_(parameters.maxShift) {
  validate(parameters_);
  const std::vector<double> reflectivity = buildReflectivity(parameters_, margin_);
  const Compression& c = compressionOf(parameters_.section);
  floor_ = noiseFloor(parameters_, margin_);
  logGrey_ = logGreyOf(reflectivity, floor_, c, &meanIntensity_);
  if (parameters_.badFrames.empty()) return;
  // Distinct frames, drawn in the order the kinds are listed.
  RandomStream rng(parameters_.seed, {kBadFrames});
  for (const BadFrame kind : parameters_.badFrames) {
    int frame = 0;
    bool taken = true;
    while (taken) {
      frame = rng.integer(1, parameters_.frames - 1);
      taken = false;
      for (const auto& b : bad_) taken = taken || b.first == frame;
    }
    bad_.emplace_back(frame, kind);
    if (kind == BadFrame::Section && otherLogGrey_.empty()) {
      // Another section of the same eye: the same model, another anatomy.
      SimulationParameters other = parameters_;
      other.seed = parameters_.seed ^ 0x9e3779b97f4a7c15ULL;
      otherLogGrey_ = logGreyOf(buildReflectivity(other, margin_), floor_, c, &otherMeanIntensity_);
    }
  }
}

std::optional<BadFrame> BScanSimulator::badFrame(int index) const {
  checkIndex(index);
  for (const auto& b : bad_) {
    if (b.first == index) return b.second;
  }
  return std::nullopt;
}

int BScanSimulator::lateralShift(int index) const {
  checkIndex(index);
  const std::optional<BadFrame> bad = badFrame(index);
  if (index == 0 || (parameters_.lateralSlip == 0 && bad != BadFrame::Lateral)) return 0;
  RandomStream rng(parameters_.seed, {kLateral, static_cast<std::uint64_t>(index)});
  const int slip = rng.integer(-parameters_.lateralSlip, parameters_.lateralSlip);
  if (bad != BadFrame::Lateral) return slip;
  // Far beyond the ordinary slips: a tenth of the width, at least 8 columns.
  const int far = std::max(8, parameters_.width / 10) + parameters_.lateralSlip;
  return rng.uniform() < 0.5 ? -far : far;
}

void BScanSimulator::checkIndex(int index) const {
  if (index < 0 || index >= parameters_.frames) throw std::out_of_range("Frame index out of range");
}

std::vector<int> BScanSimulator::displacement(int index) const {
  const int w = parameters_.width;
  std::vector<int> d(w, 0);
  if (index == 0 || parameters_.motion == Motion::None || parameters_.maxShift == 0) return d;
  const double k = parameters_.maxShift;
  RandomStream rng(parameters_.seed, {kMotion, static_cast<std::uint64_t>(index)});

  // Every draw happens whatever the kind, so the kinds share their parts.
  const double offset = rng.uniform(-1.0, 1.0) * k;
  const double tilt = rng.uniform(-1.0, 1.0) * 0.35 * k;
  const double bend = rng.uniform(-1.0, 1.0) * 0.25 * k;
  std::vector<double> wander(w);
  double walk = rng.normal();
  for (int x = 0; x < w; ++x) {
    walk = 0.98 * walk + 0.35 * rng.normal();
    wander[x] = walk;
  }
  std::vector<double> glitch(w, 0.0);
  const int glitches = rng.integer(0, std::max(1, w / 170));
  for (int g = 0; g < glitches; ++g) {
    const int start = rng.integer(0, w - 1);
    const int length = rng.integer(1, 4);
    const double amount = rng.uniform(-1.0, 1.0) * k;
    for (int x = start; x < std::min(w, start + length); ++x) glitch[x] = amount;
  }

  const Motion m = parameters_.motion;
  for (int x = 0; x < w; ++x) {
    const double v = w > 1 ? 2.0 * x / (w - 1) - 1.0 : 0.0;
    double value = 0.0;
    if (m == Motion::Global) value = offset;
    if (m == Motion::Tilt || m == Motion::Mixed) value = 0.5 * offset + tilt * v + bend * (v * v - 1.0 / 3.0);
    if (m == Motion::Jitter || m == Motion::Mixed) value += wander[x] + glitch[x];
    d[x] = static_cast<int>(std::clamp(std::floor(value + 0.5), -k, k));
  }
  return d;
}

velIPL::GImage BScanSimulator::frame(int index) const {
  checkIndex(index);
  const int w = parameters_.width;
  const int h = parameters_.height;
  const std::vector<int> d = displacement(index);
  const std::optional<BadFrame> bad = badFrame(index);
  const int t = lateralShift(index);
  const std::vector<double>& logGrey = bad == BadFrame::Section ? otherLogGrey_ : logGrey_;
  int dropFirst = 0, dropEnd = 0;
  if (bad == BadFrame::Dropout) {
    RandomStream band(parameters_.seed, {kBadFrames, static_cast<std::uint64_t>(index)});
    const int length = std::max(2, w / 8);
    dropFirst = band.integer(0, std::max(0, w - length));
    dropEnd = std::min(w, dropFirst + length);
  }
  if (parameters_.section != Section::Classic) return calibratedFrame(index, d, t, dropFirst, dropEnd);
  const Compression& c = kClassic;
  const auto logOf = [&c](double mu) {
    return mu > 0.0 ? c.gain * std::log(mu) + c.offset : -std::numeric_limits<double>::infinity();
  };
  RandomStream rng(parameters_.seed, {kSpeckle, static_cast<std::uint64_t>(index)});
  velIPL::GImage image(w, h, 0);
  for (int y = 0; y < h; ++y) {
    unsigned char* row = image.row(y);
    for (int x = 0; x < w; ++x) {
      // Column x of the frame shows column x + t of the section.
      const int xs = std::clamp(x + t, 0, w - 1);
      // Content displaced d rows down: frame row y shows section row y - d.
      const int sectionRow = y - d[xs] + margin_;
      const std::size_t at = static_cast<std::size_t>(sectionRow) * w + xs;
      double mean = logGrey[at];
      if (bad == BadFrame::Blink) {
        const double floor = floor_[static_cast<std::size_t>(sectionRow)];
        mean = logOf((meanIntensity_[at] - floor) * kBlinkFactor + floor);
      } else if (x >= dropFirst && x < dropEnd) {
        mean = logOf(floor_[static_cast<std::size_t>(sectionRow)]);
      }
      // Intensity mu * E with E ~ Exp(1), taken in the log domain.
      const double grey = mean + c.gain * std::log(-std::log(rng.open()));
      row[x] = grey < 0.5 ? 0 : (grey >= 254.5 ? 255 : static_cast<unsigned char>(grey + 0.5));
    }
  }
  return image;
}

velIPL::GImage BScanSimulator::calibratedFrame(int index, const std::vector<int>& d, int t, int dropFirst,
                                               int dropEnd) const {
  const int w = parameters_.width;
  const int h = parameters_.height;
  const std::optional<BadFrame> bad = badFrame(index);
  const std::vector<double>& mean = bad == BadFrame::Section ? otherMeanIntensity_ : meanIntensity_;
  RandomStream rng(parameters_.seed, {kSpeckle, static_cast<std::uint64_t>(index)});
  const auto draw = [&rng] {
    // A complex normal of unit power: |z|^2 is exponential.
    const double r = std::sqrt(-std::log(rng.open()));
    const double angle = 2.0 * kPi * rng.uniform();
    return std::complex<double>(r * std::cos(angle), r * std::sin(angle));
  };
  // The complex field: white noise coloured along the depth axis (a pixel
  // shares a little of the row above), kGrain columns beyond either side,
  // kept for the rows above, at and below the one being made.
  using Row = std::vector<std::complex<double>>;
  const std::size_t span = static_cast<std::size_t>(w) + 2 * kGrain;
  const double norm = 1.0 / std::sqrt(1.0 + kAxialGrain * kAxialGrain);
  Row white(span), above(span), here(span), below(span);
  for (auto& z : white) z = draw();
  const auto next = [&](Row& field) {
    for (std::size_t i = 0; i < span; ++i) {
      const std::complex<double> z = draw();
      field[i] = (z + kAxialGrain * white[i]) * norm;
      white[i] = z;
    }
  };
  next(here);
  next(below);
  // Tissue speckle spreads over kGrain columns either side and a row
  // either side (the beam is wider than the column spacing; real repeats
  // show its grain in their differences), the detector noise only along the
  // depth axis. The spread takes a share of the tissue's power, and the
  // pixel's own field makes up the rest, so that the power at every pixel
  // is signal + noise and its intensity exponential about that mean: the
  // expected grey of the classic section's model.
  const double neighbours = 2.0 * kGrain + 2.0;
  const double shared = 2.0 * kAxialGrain / (1.0 + kAxialGrain * kAxialGrain);  // own field against the spread
  velIPL::GImage image(w, h, 0);
  for (int y = 0; y < h; ++y) {
    std::swap(above, here);
    std::swap(here, below);
    next(below);
    unsigned char* row = image.row(y);
    for (int x = 0; x < w; ++x) {
      // Column x of the frame shows column x + t of the section; frame row
      // y shows section row y - d.
      const int xs = std::clamp(x + t, 0, w - 1);
      const int sectionRow = y - d[xs] + margin_;
      const std::size_t at = static_cast<std::size_t>(sectionRow) * w + xs;
      const double noise = floor_[static_cast<std::size_t>(sectionRow)];
      double signal = std::max(0.0, mean[at] - noise);
      if (bad == BadFrame::Blink) signal *= kBlinkFactor;
      if (x >= dropFirst && x < dropEnd) signal = 0.0;
      const double spread = std::sqrt(kSpreadShare * signal / neighbours);
      const double own = std::sqrt(spread * spread * (shared * shared - neighbours) + signal + noise) - spread * shared;
      const std::size_t i = static_cast<std::size_t>(x) + kGrain;
      std::complex<double> around = above[i] + below[i];
      for (std::size_t k = 1; k <= kGrain; ++k) around += here[i - k] + here[i + k];
      const double grey = kCalibrated.gain * std::log(std::norm(own * here[i] + spread * around)) + kCalibrated.offset;
      row[x] = grey < 0.5 ? 0 : (grey >= 254.5 ? 255 : static_cast<unsigned char>(grey + 0.5));
    }
  }
  return image;
}

mathORN::RowVector BScanSimulator::trueShifts(int index) const {
  checkIndex(index);
  const std::vector<int> d = displacement(index);
  mathORN::RowVector s(parameters_.width);
  for (int x = 0; x < parameters_.width; ++x) s[x] = d[x] == 0 ? 0.0 : -d[x];
  return s;
}

double BScanSimulator::expectedGrey(double meanIntensity, Section section) {
  if (!(meanIntensity > 0.0)) return 0.0;
  // E[g] = sum over v = 1..255 of P(g >= v), and g >= v exactly when the
  // intensity reaches t_v = exp((v - 0.5 - offset) / gain); for exponential
  // intensity P(I >= t) = exp(-t / mu). Terms beyond exp(-40) add nothing.
  const auto thresholds = [](const Compression& c) {
    std::array<double, 256> t{};
    for (int v = 1; v <= 255; ++v) t[v] = std::exp((v - 0.5 - c.offset) / c.gain);
    return t;
  };
  static const std::array<double, 256> classic = thresholds(kClassic);
  static const std::array<double, 256> calibrated = thresholds(kCalibrated);
  const std::array<double, 256>& threshold = section == Section::Classic ? classic : calibrated;
  const double inverse = 1.0 / meanIntensity;
  double sum = 0.0;
  for (int v = 1; v <= 255; ++v) {
    const double ratio = threshold[v] * inverse;
    if (ratio > 40.0) break;
    sum += std::exp(-ratio);
  }
  return sum;
}

unsigned char BScanSimulator::greyOf(double intensity, Section section) {
  if (!(intensity > 0.0)) return 0;
  const Compression& c = compressionOf(section);
  const double grey = c.gain * std::log(intensity) + c.offset;
  return grey < 0.5 ? 0 : (grey >= 254.5 ? 255 : static_cast<unsigned char>(grey + 0.5));
}

velIPL::DImage BScanSimulator::noiseFreeSection() const {
  const int w = parameters_.width;
  const int h = parameters_.height;
  velIPL::DImage section(w, h, 0.0);
  // Whole regions (the vitreous, the deep background) share one intensity.
  double lastIntensity = -1.0;
  double lastGrey = 0.0;
  for (int y = 0; y < h; ++y) {
    double* row = section.row(y);
    for (int x = 0; x < w; ++x) {
      const double mu = meanIntensity_[static_cast<std::size_t>(y + margin_) * w + x];
      if (mu != lastIntensity) {
        lastIntensity = mu;
        lastGrey = expectedGrey(mu, parameters_.section);
      }
      row[x] = lastGrey;
    }
  }
  return section;
}

}  // namespace lumifold
