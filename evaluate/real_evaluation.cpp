#include "real_evaluation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "merge/median_filters.h"
#include "merge/merger.h"
#include "merge/series_alignment.h"
#include "real_dataset.h"
#include "sim/bscan_simulator.h"

namespace lumifold {

namespace {

using velIPL::GImage;

struct Row {
  std::string target, measured, limit;
  bool met;
};

std::string format(const char* f, double a = 0, double b = 0, double c = 0, double d = 0) {
  char text[200];
  std::snprintf(text, sizeof text, f, a, b, c, d);
  return text;
}

const char* kindName(RegistrationKind kind) {
  return kind == RegistrationKind::Correlation ? "correlation" : "anterior edge";
}

constexpr RegistrationKind kKinds[] = {RegistrationKind::Correlation, RegistrationKind::AnteriorEdge};

// The vitreous of a frame: its top rows, above every retina of the set.
std::vector<unsigned char> vitreousPixels(const GImage& f) {
  std::vector<unsigned char> v;
  for (int y = 0; y < std::max(1, f.height() / 24); ++y) {
    for (int x = 0; x < f.width(); ++x) v.push_back(f.at(x, y));
  }
  return v;
}

// A blink made of frame f: 3 % of its light over the dark level and noise
// of its own vitreous (a vitreous pixel drawn at random per pixel).
GImage blinkOf(const GImage& f, std::mt19937& rng) {
  const std::vector<unsigned char> v = vitreousPixels(f);
  std::uniform_int_distribution<std::size_t> pick(0, v.size() - 1);
  GImage g(f.width(), f.height(), 0);
  for (int y = 0; y < f.height(); ++y) {
    for (int x = 0; x < f.width(); ++x) {
      g.at(x, y) = static_cast<unsigned char>(std::min(255.0, std::floor(0.03 * f.at(x, y) + v[pick(rng)] + 0.5)));
    }
  }
  return g;
}

// A band of width / 8 columns of f lost: replaced by its vitreous noise.
GImage dropoutOf(const GImage& f, std::mt19937& rng) {
  const std::vector<unsigned char> v = vitreousPixels(f);
  std::uniform_int_distribution<std::size_t> pick(0, v.size() - 1);
  const int band = f.width() / 8;
  const int start = std::uniform_int_distribution<int>(band / 2, f.width() - band - band / 2)(rng);
  GImage g = f;
  for (int y = 0; y < f.height(); ++y) {
    for (int x = start; x < start + band; ++x) g.at(x, y) = v[pick(rng)];
  }
  return g;
}

// f slipped so that its column x - s shows what column x showed (edge
// columns repeated): the slip a merge should find is s.
GImage slipped(const GImage& f, int s) { return shiftSideways(f, -s); }

// Another eye's frame made the size of like: its top rows (eye 9 of the
// set has 401 rows, the others 450), the last row repeated below.
GImage fitted(const GImage& f, const GImage& like) {
  GImage g(like.width(), like.height(), 0);
  for (int y = 0; y < g.height(); ++y) {
    for (int x = 0; x < g.width(); ++x) g.at(x, y) = f.at(std::min(x, f.width() - 1), std::min(y, f.height() - 1));
  }
  return g;
}

struct Outcome {
  GImage image;
  std::vector<FrameQuality> frames;
  int reference = 0;
  ImageQuality quality;
};

Outcome mergeOf(const std::vector<GImage>& frames, RegistrationKind kind, const Merger::QualityOptions& o) {
  std::vector<MergeFrame> list;
  for (const GImage& f : frames) list.emplace_back(f);
  Merger m(list);
  m.setQualityOptions(o);
  m.setQualityObserver([](const FrameQuality&) {});
  Outcome r;
  r.image = kind == RegistrationKind::Correlation ? m.mergeByCorrelation() : m.mergeByAnteriorEdge();
  r.frames = m.frameQualities();
  r.reference = m.referenceIndex();
  r.quality = m.imageQuality();
  return r;
}

double psnrOf(const GImage& image, const GImage& average) { return protocolPsnr(toDouble(image), toDouble(average)); }

// --- statistics of five repeats, for the real frames and the simulator ---

struct SeriesStatistics {
  double profile = 0, blocks = 0, pixels = 0, speckle = 0;
  double vitreousMean = 0, vitreousSd = 0, median = 0, p90 = 0, p99 = 0, brightest = 0;
};

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  return profileCorrelation(a, b, 0, static_cast<int>(std::min(a.size(), b.size())));
}

std::vector<double> blockMeans(const GImage& f, int block) {
  std::vector<double> v;
  for (int by = 0; by + block <= f.height(); by += block) {
    for (int bx = 0; bx + block <= f.width(); bx += block) {
      double s = 0;
      for (int y = by; y < by + block; ++y) {
        for (int x = bx; x < bx + block; ++x) s += f.at(x, y);
      }
      v.push_back(s / (block * block));
    }
  }
  return v;
}

// Each pixel less the mean of the 5 x 5 pixels about it: the speckle.
std::vector<double> residual(const GImage& f) {
  std::vector<double> v;
  for (int y = 2; y < f.height() - 2; ++y) {
    for (int x = 2; x < f.width() - 2; ++x) {
      double s = 0;
      for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) s += f.at(x + dx, y + dy);
      }
      v.push_back(f.at(x, y) - s / 25);
    }
  }
  return v;
}

SeriesStatistics statisticsOf(const std::vector<GImage>& frames) {
  SeriesStatistics s;
  const GImage& f0 = frames[0];
  const std::vector<double> p0 = lateralProfile(f0), b0 = blockMeans(f0, 4), r0 = residual(f0);
  std::vector<double> x0;
  for (int y = 0; y < f0.height(); ++y) {
    for (int x = 0; x < f0.width(); ++x) x0.push_back(f0.at(x, y));
  }
  const int n = static_cast<int>(frames.size()) - 1;
  for (int i = 1; i <= n; ++i) {
    const GImage& f = frames[static_cast<std::size_t>(i)];
    s.profile += correlation(p0, lateralProfile(f)) / n;
    s.blocks += correlation(b0, blockMeans(f, 4)) / n;
    s.speckle += correlation(r0, residual(f)) / n;
    std::vector<double> xi;
    for (int y = 0; y < f.height(); ++y) {
      for (int x = 0; x < f.width(); ++x) xi.push_back(f.at(x, y));
    }
    s.pixels += correlation(x0, xi) / n;
  }
  const std::vector<unsigned char> v = vitreousPixels(f0);
  double m = 0, q = 0;
  for (const unsigned char c : v) m += c;
  m /= v.size();
  for (const unsigned char c : v) q += (c - m) * (c - m);
  s.vitreousMean = m;
  s.vitreousSd = std::sqrt(q / (v.size() - 1));
  std::vector<unsigned char> all(x0.begin(), x0.end());
  std::sort(all.begin(), all.end());
  s.median = all[all.size() / 2];
  s.p90 = all[all.size() * 9 / 10];
  s.p99 = all[all.size() * 99 / 100];
  // The brightest layer: per column the highest mean of 3 rows, the median
  // over columns.
  std::vector<double> peaks;
  for (int x = 0; x < f0.width(); ++x) {
    double best = 0;
    for (int y = 0; y + 3 <= f0.height(); ++y) best = std::max(best, (f0.at(x, y) + f0.at(x, y + 1) + f0.at(x, y + 2)) / 3.0);
    peaks.push_back(best);
  }
  std::sort(peaks.begin(), peaks.end());
  s.brightest = peaks[peaks.size() / 2];
  return s;
}

// --- the evaluation ---

struct Eye {
  RealEye data;
};

class Evaluation {
public:
  explicit Evaluation(const RealEvaluationOptions& o) : options_(o) {}

  int run();

private:
  void lateral();
  void rejection();
  void figures();
  void follow();
  void statistics();
  void report(const std::string& target, const std::string& measured, const std::string& limit, bool met) {
    rows_.push_back({target, measured, limit, met});
  }
  // Eyes k + 1, k + 2, ... of the selection: another eye's frames.
  const RealEye& other(std::size_t k, int step) const { return eyes_[(k + static_cast<std::size_t>(step)) % eyes_.size()]; }

  RealEvaluationOptions options_;
  std::vector<RealEye> eyes_;
  std::vector<Row> rows_;
};

void Evaluation::lateral() {
  // Slips by eye: one frame in one series, two in another, both signs, up
  // to 24 columns.
  const int sizes[] = {11, -17, 24, -24, 6, -9, 19, -3, 15, -21, 8, -13};
  int injected = 0, found = 0, moved = 0, still = 0, stillOk = 0, worstStill = 0;
  // The confidence of frames not slipped, and of slipped frames.
  double stillConfidence = 0, slippedConfidence = 1e9;
  double worstPsnr = -1e9, worstSlipped = -1e9;
  std::string worstWhere;
  for (std::size_t k = 0; k < eyes_.size(); ++k) {
    const RealEye& eye = eyes_[k];
    const int e = eye.number;
    Merger::QualityOptions lateralOn;
    lateralOn.lateral = true;
    const Outcome base = mergeOf(eye.frames, RegistrationKind::Correlation, lateralOn);
    // What each frame gets when not slipped: the slip its structure
    // suggests (a real repeat is often a few columns off, with too little
    // evidence to be moved) and the move it is given.
    std::map<int, int> unslipped, unslippedMove;
    for (const FrameQuality& q : base.frames) {
      unslipped[q.frame] = q.lateralEstimate;
      unslippedMove[q.frame] = q.lateralShift;
    }
    std::vector<std::map<int, int>> series = {{}, {{1 + e % 4, sizes[e % 12]}},
                                              {{1 + (e + 1) % 4, sizes[(e + 4) % 12]}, {1 + (e + 3) % 4, sizes[(e + 7) % 12]}}};
    for (const std::map<int, int>& slips : series) {
      std::vector<GImage> frames = eye.frames;
      for (const auto& [frame, s] : slips) frames[static_cast<std::size_t>(frame)] = slipped(frames[static_cast<std::size_t>(frame)], s);
      for (const RegistrationKind kind : kKinds) {
        const Outcome with = mergeOf(frames, kind, lateralOn);
        const Outcome without = mergeOf(frames, kind, Merger::QualityOptions{});
        const double loss = psnrOf(without.image, eye.average) - psnrOf(with.image, eye.average);
        // A slip left in blurs the merge sideways, which brings it closer
        // to the smooth average.tif: against it, undoing a slip can cost
        // PSNR. The target is judged on the series without slips (what
        // --lateral does to real series as they come); slipped series are
        // reported beside it.
        if (options_.perSeries) {
          std::printf("  eye %d %s %zu slips: PSNR %.3f with --lateral, %.3f without\n", e, kindName(kind), slips.size(),
                      psnrOf(with.image, eye.average), psnrOf(without.image, eye.average));
        }
        if (!slips.empty()) {
          worstSlipped = std::max(worstSlipped, loss);
        } else if (loss > worstPsnr) {
          worstPsnr = loss;
          worstWhere = "eye " + std::to_string(e) + ", " + kindName(kind) + (slips.empty() ? ", no slip" : ", slipped");
        }
        if (kind != RegistrationKind::Correlation) continue;
        for (const FrameQuality& q : with.frames) {
          const auto s = slips.find(q.frame);
          if (options_.perSeries) {
            std::printf("  eye %d %s frame %d slip %d: found %d, moved %d, confidence %.4f (unslipped: found %d)\n", e,
                        kindName(kind), q.frame, s == slips.end() ? 0 : s->second, q.lateralEstimate, q.lateralShift,
                        q.lateralConfidence, unslipped[q.frame]);
          }
          if (s == slips.end()) {
            ++still;
            worstStill = std::max(worstStill, std::abs(q.lateralShift));
            stillOk += std::abs(q.lateralShift) <= 2 ? 1 : 0;
            stillConfidence = std::max(stillConfidence, q.lateralConfidence);
          } else {
            ++injected;
            const int expected = s->second + unslipped[q.frame];
            found += std::abs(q.lateralEstimate - expected) <= 1 ? 1 : 0;
            moved += std::abs(q.lateralShift - expected) <= 1 || (q.lateralShift == 0 && std::abs(expected) <= 1) ? 1 : 0;
            slippedConfidence = std::min(slippedConfidence, q.lateralConfidence);
          }
        }
      }
    }
  }
  report("lateral: injected slips found within 1 column", std::to_string(found) + " of " + std::to_string(injected),
         "all", found == injected);
  std::printf("Injected slips moved (not only found) within 1 column of the slip plus the unslipped frame's estimate:\n"
              "%d of %d; confidence of frames not slipped up to %.4f, of slipped frames from %.4f (moved from %.4f)\n\n",
              moved, injected, stillConfidence, slippedConfidence, kSlipEvidence);
  report("lateral: frames not slipped moved at most 2 columns",
         std::to_string(stillOk) + " of " + std::to_string(still) + " (largest " + std::to_string(worstStill) + ")", "all",
         stillOk == still);
  report("lateral: PSNR loss of --lateral against the same merge without, real series",
         format("%+.3f dB (worst, ", worstPsnr) + worstWhere + ")", "<= 0.05 dB", worstPsnr <= 0.05);
  std::printf("With slips put in, --lateral against the same merge without: worst PSNR loss %+.3f dB (a slip left in\n"
              "blurs the merge towards the smooth average.tif)\n\n",
              worstSlipped);
}

enum class Bad { Blink, Section, Dropout };

void Evaluation::rejection() {
  struct Recipe {
    const char* name;
    std::vector<std::pair<Bad, int>> bad;  // kind, and for a section which other eye and frame
  };
  const std::vector<Recipe> recipes = {
      {"blink", {{Bad::Blink, 0}}},
      {"section", {{Bad::Section, 10}}},
      {"dropout", {{Bad::Dropout, 0}}},
      {"two frames of another eye", {{Bad::Section, 10}, {Bad::Section, 11}}},
      {"blink, section, dropout", {{Bad::Blink, 0}, {Bad::Section, 20}, {Bad::Dropout, 0}}},
      {"three other eyes", {{Bad::Section, 10}, {Bad::Section, 20}, {Bad::Section, 30}}},
  };
  const bool others = eyes_.size() > 1;
  int exact[2] = {}, total[2] = {}, badKept[2] = {}, goodDropped[2] = {}, cleanDrops[2] = {}, clean = 0;
  int autoSeries = 0, autoGood = 0;
  std::string missedWhere[2];
  // The measures of good and of bad frames, for docs/quality.md: each
  // measure's lowest value on a good frame, its highest on a bad one of
  // each kind.
  std::map<std::string, double> lowestGood, highestBad;
  for (std::size_t k = 0; k < eyes_.size(); ++k) {
    const RealEye& eye = eyes_[k];
    for (std::size_t r = 0; r < recipes.size(); ++r) {
      const Recipe& recipe = recipes[r];
      std::mt19937 rng(static_cast<unsigned>(eye.number * 100 + r));
      std::vector<GImage> frames = eye.frames;
      std::vector<int> badKind(frames.size(), -1);
      bool possible = true;
      for (const auto& [kind, which] : recipe.bad) {
        GImage g;
        const GImage& source = eye.frames[std::uniform_int_distribution<std::size_t>(0, 4)(rng)];
        if (kind == Bad::Blink) g = blinkOf(source, rng);
        if (kind == Bad::Dropout) g = dropoutOf(source, rng);
        if (kind == Bad::Section) {
          if (!others) possible = false;
          if (!others) break;
          g = fitted(other(k, which / 10).frames[static_cast<std::size_t>(which % 10)], eye.frames[0]);
        }
        const std::size_t at = std::uniform_int_distribution<std::size_t>(1, frames.size())(rng);
        frames.insert(frames.begin() + static_cast<long>(at), g);
        badKind.insert(badKind.begin() + static_cast<long>(at), static_cast<int>(kind));
      }
      if (!possible) continue;
      for (int a = 0; a < 2; ++a) {
        Merger::QualityOptions o;
        o.reject = true;
        const Outcome out = mergeOf(frames, kKinds[a], o);
        int missed = 0, wrong = 0;
        // The anchored criteria judge each frame by its share of the
        // series' best value: their margins in those terms.
        double bestStructure = -1e9, bestBand = -1e9;
        std::vector<double> edgeShares;
        for (const FrameQuality& q : out.frames) {
          bestStructure = std::max(bestStructure, q.structureCorrelation);
          bestBand = std::max(bestBand, q.weakestBandCorrelation);
          if (!std::isnan(q.edgeShare)) edgeShares.push_back(q.edgeShare);
        }
        // The edge share's criterion is a gap below the series' median.
        const double edgeMedian = edgeShares.empty() ? 0.0 : medianOf(edgeShares);
        for (const FrameQuality& q : out.frames) {
          const int kind = badKind[static_cast<std::size_t>(q.frame)];
          const bool bad = kind >= 0;
          missed += bad && !q.dropped ? 1 : 0;
          wrong += !bad && q.dropped ? 1 : 0;
          if (options_.perSeries) {
            std::printf("  eye %d %-26s %-13s frame %d %-8s %s corr %.3f prof %.3f int %.3f band %.3f struct %.3f bandcorr %.3f %s\n", eye.number,
                        recipe.name, kindName(kKinds[a]), q.frame,
                        bad ? (kind == 0 ? "blink" : kind == 1 ? "section" : "dropout") : "good",
                        q.dropped ? "dropped" : "kept", q.correlation, q.profileCorrelation, q.relativeIntensity,
                        q.weakestBand, q.structureCorrelation, q.weakestBandCorrelation, q.reason.c_str());
          }
          const std::pair<const char*, double> measures[] = {{"correlation", q.correlation},
                                                               {"relative intensity", q.relativeIntensity},
                                                               {"weakest band", q.weakestBand},
                                                               {"profile correlation", q.profileCorrelation},
                                                               {"structure correlation", q.structureCorrelation},
                                                               {"weakest band correlation", q.weakestBandCorrelation},
                                                               {"structure, share of the best", q.structureCorrelation / bestStructure},
                                                               {"weakest band corr., share of the best", q.weakestBandCorrelation / bestBand},
                                                               {"edge share, less the median", q.edgeShare - edgeMedian}};
          for (const auto& [name, value] : measures) {
            if (std::isnan(value)) continue;
            const std::string key = std::string(kindName(kKinds[a])) + ", " + name;
            if (!bad) {
              lowestGood.emplace(key, value);
              lowestGood[key] = std::min(lowestGood[key], value);
            } else {
              const std::string badKey = key + ", " + (kind == 0 ? "blink" : kind == 1 ? "section" : "dropout");
              highestBad.emplace(badKey, value);
              highestBad[badKey] = std::max(highestBad[badKey], value);
            }
          }
        }
        ++total[a];
        badKept[a] += missed;
        goodDropped[a] += wrong;
        if (missed == 0 && wrong == 0) {
          ++exact[a];
        } else if (missedWhere[a].empty()) {
          missedWhere[a] = ", first: eye " + std::to_string(eye.number) + " " + recipe.name;
        }
      }
      // The reference chosen among them, as built and with a bad frame
      // first.
      for (int variant = 0; variant < 2; ++variant) {
        std::vector<GImage> list = frames;
        std::vector<int> kinds = badKind;
        if (variant == 1) {
          const auto first = std::find_if(kinds.begin(), kinds.end(), [](int b) { return b >= 0; });
          const std::size_t i = static_cast<std::size_t>(first - kinds.begin());
          std::swap(list[0], list[i]);
          std::swap(kinds[0], kinds[i]);
        }
        Merger::QualityOptions o;
        o.reference = Merger::kAutoReference;
        const Outcome out = mergeOf(list, RegistrationKind::Correlation, o);
        ++autoSeries;
        autoGood += kinds[static_cast<std::size_t>(out.reference)] < 0 ? 1 : 0;
      }
    }
    for (int a = 0; a < 2; ++a) {
      Merger::QualityOptions o;
      o.reject = true;
      const Outcome out = mergeOf(eye.frames, kKinds[a], o);
      for (const FrameQuality& q : out.frames) cleanDrops[a] += q.dropped ? 1 : 0;
    }
    clean += 4;
  }
  for (int a = 0; a < 2; ++a) {
    report(std::string("rejection, ") + kindName(kKinds[a]) + ": series with exactly the bad frames dropped",
           std::to_string(exact[a]) + " of " + std::to_string(total[a]) + " (" + std::to_string(badKept[a]) + " bad kept, " +
               std::to_string(goodDropped[a]) + " good dropped" + missedWhere[a] + ")",
           "all", exact[a] == total[a]);
    report(std::string("rejection, ") + kindName(kKinds[a]) + ": frames dropped from clean series",
           std::to_string(cleanDrops[a]) + " of " + std::to_string(clean), "0", cleanDrops[a] == 0);
  }
  report("--reference auto: a good frame chosen in series with bad frames",
         std::to_string(autoGood) + " of " + std::to_string(autoSeries), "all", autoGood == autoSeries);
  std::printf("Measures on real series with bad frames (lowest on a good frame; highest on a bad one):\n");
  for (const auto& [key, low] : lowestGood) {
    std::printf("  %-42s good >= %.3f;", key.c_str(), low);
    for (const char* kind : {"blink", "section", "dropout"}) {
      const auto h = highestBad.find(key + ", " + kind);
      if (h != highestBad.end()) std::printf("  %s <= %.3f", kind, h->second);
    }
    std::printf("\n");
  }
  std::printf("\n");
}

void Evaluation::figures() {
  std::printf("Figures of the 5-frame merges (correlation) on real eyes: the report's automatic regions, the same\n"
              "formulas in the drawn regions, the set's MSR, CNR and ENL in them, and PSNR, SSIM against average.tif\n");
  std::printf("  %-4s %-26s %-26s %-24s %-16s %-16s %-6s\n", "eye", "auto SNR dB / CNR / ENL", "drawn SNR dB / CNR / ENL",
              "drawn MSR / CNR / ENL", "merge PSNR/SSIM", "test PSNR/SSIM", "EP");
  for (const RealEye& eye : eyes_) {
    const Outcome out = mergeOf(eye.frames, RegistrationKind::Correlation, Merger::QualityOptions{});
    const velIPL::DImage merged = toDouble(out.image), average = toDouble(eye.average), noisy = toDouble(eye.frames[0]);
    const QualityFigures& a = out.quality.average;
    std::string drawn = "-", paper = "-", ep = "-";
    if (eye.regions.size() >= 2) {
      // The report's formulas with the drawn background and foregrounds.
      std::vector<double> fg, bg;
      for (std::size_t i = 0; i < eye.regions.size(); ++i) {
        const Region& r = eye.regions[i];
        for (int y = r.y; y < r.y + r.height; ++y) {
          for (int x = r.x; x < r.x + r.width; ++x) (i == 0 ? bg : fg).push_back(merged.at(x, y));
        }
      }
      const auto moments = [](const std::vector<double>& v, double& m, double& sd) {
        m = 0;
        for (double x : v) m += x;
        m /= v.size();
        double q = 0;
        for (double x : v) q += (x - m) * (x - m);
        sd = std::sqrt(q / (v.size() - 1));
      };
      double fm, fs, bm, bs;
      moments(fg, fm, fs);
      moments(bg, bm, bs);
      drawn = format("%6.2f / %5.2f / %7.2f", 20 * std::log10(fm / bs), (fm - bm) / std::sqrt(fs * fs + bs * bs), fm * fm / (fs * fs));
      const RegionFigures f = regionFigures(merged, eye.regions);
      paper = format("%5.2f / %5.2f / %7.2f", f.msr, f.cnr, f.enl);
      ep = format("%.3f", edgePreservation(merged, noisy, eye.regions));
    }
    std::printf("  %-4d %-26s %-26s %-24s %-16s %-16s %-6s\n", eye.number,
                format("%6.2f / %5.2f / %7.2f", a.snrDb, a.cnr, a.enl).c_str(), drawn.c_str(), paper.c_str(),
                format("%.2f / %.3f", protocolPsnr(merged, average), protocolSsim(merged, average)).c_str(),
                format("%.2f / %.3f", protocolPsnr(noisy, average), protocolSsim(noisy, average)).c_str(), ep.c_str());
  }
  std::printf("\n");
  follow();
}

void Evaluation::follow() {
  // The automatic regions are not the drawn ones (the brightest band below
  // the edge against hand-picked layers; ENL in that band against the
  // background), so their values differ; what a reader needs is that they
  // move together: as frames are added, and from eye to eye.
  const int counts[] = {1, 2, 3, 5};
  struct Point {
    double autoSnr, autoCnr, autoEnl, paperMsr, paperCnr, paperEnl;
  };
  std::vector<std::vector<Point>> points;  // by eye, by count
  std::vector<int> numbers;                // the eyes'
  for (const RealEye& eye : eyes_) {
    if (eye.regions.size() < 2) continue;
    points.emplace_back();
    numbers.push_back(eye.number);
    for (const int n : counts) {
      const std::vector<GImage> frames(eye.frames.begin(), eye.frames.begin() + n);
      const Outcome out = mergeOf(frames, RegistrationKind::Correlation, Merger::QualityOptions{});
      const QualityFigures& a = out.quality.average;
      const RegionFigures f = regionFigures(toDouble(out.image), eye.regions);
      points.back().push_back({a.snrDb, a.cnr, a.enl, f.msr, f.cnr, f.enl});
    }
  }
  if (points.empty()) return;
  std::printf("Automatic figures against the set's figures in the drawn regions, merges of the first 1, 2, 3, 5 frames\n"
              "(means over the eyes)\n");
  std::printf("  %-7s %-28s %-28s\n", "frames", "auto SNR dB / CNR / ENL", "drawn MSR / CNR / ENL");
  for (std::size_t k = 0; k < std::size(counts); ++k) {
    Point m{0, 0, 0, 0, 0, 0};
    for (const std::vector<Point>& e : points) {
      m.autoSnr += e[k].autoSnr / points.size();
      m.autoCnr += e[k].autoCnr / points.size();
      m.autoEnl += e[k].autoEnl / points.size();
      m.paperMsr += e[k].paperMsr / points.size();
      m.paperCnr += e[k].paperCnr / points.size();
      m.paperEnl += e[k].paperEnl / points.size();
    }
    std::printf("  %-7d %-28s %-28s\n", counts[k], format("%6.2f / %5.2f / %7.1f", m.autoSnr, m.autoCnr, m.autoEnl).c_str(),
                format("%5.2f / %5.2f / %7.1f", m.paperMsr, m.paperCnr, m.paperEnl).c_str());
  }
  // Steps from one count to the next in which an automatic figure moves
  // the way its drawn counterpart does (SNR with MSR).
  int steps = 0, agree = 0;
  std::vector<double> autoSnr, paperMsr, autoCnr, paperCnr, autoEnl, paperEnl;
  for (const std::vector<Point>& e : points) {
    for (std::size_t k = 0; k < e.size(); ++k) {
      autoSnr.push_back(e[k].autoSnr);
      paperMsr.push_back(e[k].paperMsr);
      autoCnr.push_back(e[k].autoCnr);
      paperCnr.push_back(e[k].paperCnr);
      autoEnl.push_back(std::log(e[k].autoEnl));
      paperEnl.push_back(std::log(e[k].paperEnl));
      if (options_.perSeries) {
        std::printf("  eye %d, %d frames: auto %.2f / %.3f / %.1f, drawn %.3f / %.3f / %.2f\n", numbers[static_cast<std::size_t>(&e - points.data())],
                    counts[k], e[k].autoSnr, e[k].autoCnr, e[k].autoEnl, e[k].paperMsr, e[k].paperCnr, e[k].paperEnl);
      }
      if (k == 0) continue;
      const auto same = [](double a0, double a1, double p0, double p1) { return (a1 > a0) == (p1 > p0); };
      steps += 3;
      agree += same(e[k - 1].autoSnr, e[k].autoSnr, e[k - 1].paperMsr, e[k].paperMsr) +
               same(e[k - 1].autoCnr, e[k].autoCnr, e[k - 1].paperCnr, e[k].paperCnr) +
               same(e[k - 1].autoEnl, e[k].autoEnl, e[k - 1].paperEnl, e[k].paperEnl);
    }
  }
  const double rSnr = correlation(autoSnr, paperMsr), rCnr = correlation(autoCnr, paperCnr),
               rEnl = correlation(autoEnl, paperEnl);
  std::printf("Over the %zu merges: correlation of auto SNR with drawn MSR %.3f, of the CNRs %.3f, of log ENLs %.3f\n\n",
              autoSnr.size(), rSnr, rCnr, rEnl);
  report("figures: automatic SNR, CNR, ENL move with the drawn regions' as frames are added",
         std::to_string(agree) + " of " + std::to_string(steps) + " steps", "all", agree == steps);
}

void Evaluation::statistics() {
  std::printf("Statistics of five repeats: real eyes against the simulator's calibrated (default) and classic\n"
              "sections (900 x 450, no motion)\n");
  std::printf("  %-22s %8s %8s %8s %8s %9s %8s %5s %5s %5s %7s\n", "series", "profile", "blocks", "pixels", "speckle",
              "vitreous", "vit. SD", "p50", "p90", "p99", "bright");
  const auto line = [](const std::string& name, const SeriesStatistics& s) {
    std::printf("  %-22s %8.3f %8.3f %8.3f %8.3f %9.1f %8.1f %5.0f %5.0f %5.0f %7.1f\n", name.c_str(), s.profile, s.blocks,
                s.pixels, s.speckle, s.vitreousMean, s.vitreousSd, s.median, s.p90, s.p99, s.brightest);
  };
  for (const RealEye& eye : eyes_) line("real eye " + std::to_string(eye.number), statisticsOf(eye.frames));
  for (const Section section : {Section::Calibrated, Section::Classic}) {
    for (int seed = 1; seed <= 3; ++seed) {
      SimulationParameters p;
      p.width = 900;
      p.height = 450;
      p.frames = 5;
      p.seed = static_cast<unsigned>(seed);
      p.motion = Motion::None;
      p.section = section;
      const BScanSimulator sim(p);
      std::vector<GImage> frames;
      for (int i = 0; i < 5; ++i) frames.push_back(sim.frame(i));
      line(std::string(sectionName(section)) + " seed " + std::to_string(seed), statisticsOf(frames));
    }
  }
  std::printf("\n");
}

int Evaluation::run() {
  const RealDataLocation where = locateRealData(options_.dir);
  for (const int e : parseEyeSelection(options_.eyes)) eyes_.push_back(loadRealEye(where, e));
  std::printf("Real data: %s, eyes %s (tuned on eyes 1 to 9 only; 10 to 18 are held back)\n\n", where.eyes.c_str(),
              options_.eyes.c_str());
  statistics();
  figures();
  rejection();
  lateral();
  std::size_t width = 6;
  for (const Row& r : rows_) width = std::max(width, r.target.size());
  std::printf("%-*s  %-44s  %-12s  %s\n", static_cast<int>(width), "target (real series)", "measured", "limit", "");
  bool all = true;
  for (const Row& r : rows_) {
    std::printf("%-*s  %-44s  %-12s  %s\n", static_cast<int>(width), r.target.c_str(), r.measured.c_str(), r.limit.c_str(),
                r.met ? "met" : "MISSED");
    all = all && r.met;
  }
  std::printf("%s\n", all ? "Every target met on real series." : "Some targets missed on real series.");
  return all ? 0 : 1;
}

}  // namespace

int evaluateReal(const RealEvaluationOptions& options) { return Evaluation(options).run(); }

}  // namespace lumifold
