// lumifold_evaluate: the frame-quality targets measured on simulated series,
// printed as a table with met or missed. ./run evaluate builds and runs it.
//
//   rejection  --reject auto drops every inserted bad frame (one of each
//              kind) and no good frame, over 20 seeds and three sizes, by
//              both registrations; the PSNR of its result against the
//              noise-free section lies within 0.3 dB of merging the good
//              frames alone; on clean series it drops nothing
//   lateral    --lateral recovers sideways slips of up to 10 columns exactly
//              in at least 95 % of the frames
//   SNR gain   the reported gain from the reference to the average of N
//              well-registered frames is within 1 dB of 10 log10 N for
//              N = 4, 16, 64
//   cost       a merge that measures quality takes at most 10 % longer than
//              one that does not (fast implementation, both registrations)
//
// Each target is measured on both of the simulator's sections: the classic
// one, on which the targets were first set, and the calibrated one, which
// has the statistics of real scans (docs/simulator.md).
//
// With --real DIR (a copy of the public real data set, real_dataset.h) it
// judges on that set instead the frame-quality targets (real_evaluation.h)
// and then the speckle filter (denoise_evaluation.h): --eyes LIST (default
// 1-9, the development eyes), --per-series (every frame of the
// frame-quality series), --strength S and --per-eye (the filter's).
//
// Exit status 0 when every target is met, 1 otherwise. --quick: fewer seeds.
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "denoise_evaluation.h"
#include "pipeline/image_metrics.h"
#include "merge/merger.h"
#include "real_dataset.h"
#include "real_evaluation.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

using namespace lumifold;

namespace {

struct Size {
  int width, height;
};

struct Row {
  std::string target;
  std::string measured;
  std::string limit;
  bool met;
};

std::vector<Row> rows;
// The section the targets are being measured on.
Section section = Section::Classic;

void report(const std::string& target, const std::string& measured, const std::string& limit, bool met) {
  rows.push_back({std::string(sectionName(section)) + ": " + target, measured, limit, met});
}

std::string format(const char* f, double a, double b = 0.0) {
  char text[160];
  std::snprintf(text, sizeof text, f, a, b);
  return text;
}

velIPL::GImage roundedNoiseFree(const BScanSimulator& sim) {
  const velIPL::DImage e = sim.noiseFreeSection();
  velIPL::GImage g(e.width(), e.height(), 0);
  for (int y = 0; y < e.height(); ++y) {
    for (int x = 0; x < e.width(); ++x) g.at(x, y) = static_cast<unsigned char>(std::min(255.0, std::floor(e.at(x, y) + 0.5)));
  }
  return g;
}

velIPL::GImage merge(Merger& m, RegistrationKind kind) {
  return kind == RegistrationKind::Correlation ? m.mergeByCorrelation() : m.mergeByAnteriorEdge();
}

SimulationParameters series(Size s, int frames, unsigned seed) {
  SimulationParameters p;
  p.width = s.width;
  p.height = s.height;
  p.frames = frames;
  p.seed = seed;
  p.maxShift = std::min(12, s.height / 2);
  p.section = section;
  return p;
}

void rejection(int seeds) {
  // The calibrated section at a clinical size: drawn to the statistics of
  // real 900-column scans, shrunk to 128 columns its layers' fine shape is
  // a few blocks wide, which no real B-scan is.
  const std::vector<Size> sizes = section == Section::Classic ? std::vector<Size>{{128, 128}, {256, 192}, {384, 256}}
                                                              : std::vector<Size>{{512, 496}};
  for (const RegistrationKind kind : {RegistrationKind::Correlation, RegistrationKind::AnteriorEdge}) {
    const char* name = kind == RegistrationKind::Correlation ? "correlation" : "anterior edge";
    int series_ = 0, exact = 0, badMissed = 0, goodDropped = 0, cleanDrops = 0;
    double worstPsnr = 0.0;
    for (const Size size : sizes) {
      for (int seed = 1; seed <= seeds; ++seed) {
        SimulationParameters p = series(size, 16, static_cast<unsigned>(seed));
        p.badFrames = {BadFrame::Blink, BadFrame::Section, BadFrame::Lateral, BadFrame::Dropout};
        const BScanSimulator sim(p);
        std::vector<MergeFrame> all, good;
        for (int i = 0; i < p.frames; ++i) {
          all.emplace_back(sim.frame(i));
          if (!sim.badFrame(i)) good.push_back(all.back());
        }
        Merger rejecting(all);
        Merger::QualityOptions o;
        o.reject = true;
        rejecting.setQualityOptions(o);
        const velIPL::GImage kept = merge(rejecting, kind);
        Merger goodOnly(good);
        const velIPL::GImage reference = merge(goodOnly, kind);
        int missed = 0, wrong = 0;
        for (const FrameQuality& q : rejecting.frameQualities()) {
          const bool bad = sim.badFrame(q.frame).has_value();
          if (bad && !q.dropped) ++missed;
          if (!bad && q.dropped) ++wrong;
        }
        badMissed += missed;
        goodDropped += wrong;
        exact += missed == 0 && wrong == 0 ? 1 : 0;
        ++series_;
        const velIPL::GImage truth = roundedNoiseFree(sim);
        worstPsnr = std::max(worstPsnr, peakSignalToNoise(reference, truth) - peakSignalToNoise(kept, truth));

        SimulationParameters c = series(size, 16, static_cast<unsigned>(seed));
        const BScanSimulator clean(c);
        std::vector<MergeFrame> cf;
        for (int i = 0; i < c.frames; ++i) cf.emplace_back(clean.frame(i));
        Merger cm(cf);
        cm.setQualityOptions(o);
        merge(cm, kind);
        for (const FrameQuality& q : cm.frameQualities()) cleanDrops += q.dropped ? 1 : 0;
      }
    }
    report(std::string("rejection, ") + name + ": series with exactly the bad frames dropped",
           std::to_string(exact) + " of " + std::to_string(series_) + " (" + std::to_string(badMissed) +
               " bad kept, " + std::to_string(goodDropped) + " good dropped)",
           "all", exact == series_);
    report(std::string("rejection, ") + name + ": PSNR shortfall against the good frames alone",
           format("%.3f dB (worst)", worstPsnr), "<= 0.3 dB", worstPsnr <= 0.3);
    report(std::string("rejection, ") + name + ": frames dropped from clean series",
           std::to_string(cleanDrops) + " of " + std::to_string(series_ * 15), "0", cleanDrops == 0);
  }
}

void lateral(int seeds) {
  const Size sizes[] = {{256, 192}, {512, 256}};
  for (const RegistrationKind kind : {RegistrationKind::Correlation, RegistrationKind::AnteriorEdge}) {
    int frames = 0, exact = 0;
    for (const Size size : sizes) {
      for (int seed = 1; seed <= seeds; ++seed) {
        SimulationParameters p = series(size, 16, static_cast<unsigned>(seed));
        p.lateralSlip = 10;
        const BScanSimulator sim(p);
        std::vector<MergeFrame> all;
        for (int i = 0; i < p.frames; ++i) all.emplace_back(sim.frame(i));
        Merger m(all);
        Merger::QualityOptions o;
        o.lateral = true;
        m.setQualityOptions(o);
        merge(m, kind);
        for (const FrameQuality& q : m.frameQualities()) {
          ++frames;
          exact += q.lateralShift == sim.lateralShift(q.frame) ? 1 : 0;
        }
      }
    }
    const double share = 100.0 * exact / frames;
    report(std::string("lateral slips up to 10 columns recovered exactly, ") +
               (kind == RegistrationKind::Correlation ? "correlation" : "anterior edge"),
           format("%.2f %%", share) + " of " + std::to_string(frames) + " frames", ">= 95 %", share >= 95.0);
  }
}

void snrGain(int seeds) {
  for (const int n : {4, 16, 64}) {
    double sum = 0.0;
    for (int seed = 1; seed <= seeds; ++seed) {
      const SimulationParameters p = series({256, 248}, n, static_cast<unsigned>(seed));
      const BScanSimulator sim(p);
      std::vector<MergeFrame> all;
      for (int i = 0; i < n; ++i) all.emplace_back(sim.frame(i));
      Merger m(all);
      m.setQualityObserver([](const FrameQuality&) {});
      m.mergeByCorrelation();
      sum += m.imageQuality().snrGainDb;
    }
    const double gain = sum / seeds;
    const double expected = 10.0 * std::log10(n);
    report("SNR gain of " + std::to_string(n) + " frames against the square-root law",
           format("%.2f dB (law %.2f dB)", gain, expected), "within 1 dB", std::fabs(gain - expected) <= 1.0);
  }
}

// The processor time of a merge, all its threads together: the work it
// costs, which other programs on the machine disturb far less than the time
// on the clock.
double secondsOf(Merger& m, RegistrationKind kind) {
  timespec start{}, end{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
  merge(m, kind);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
  return static_cast<double>(end.tv_sec - start.tv_sec) + 1e-9 * static_cast<double>(end.tv_nsec - start.tv_nsec);
}

void cost(int repeats) {
  // From files, as a merge runs: a series of BMP files in a scratch folder.
  SimulationParameters p = series({512, 496}, 100, 7);
  const BScanSimulator sim(p);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("lumifold_evaluate_" + std::to_string(static_cast<long long>(getpid())));
  writeSeries(sim, folder.string());
  std::vector<std::string> paths;
  for (int i = 0; i < p.frames; ++i) paths.push_back((folder / frameFileName(i, p.frames)).string());
  for (const RegistrationKind kind : {RegistrationKind::Correlation, RegistrationKind::AnteriorEdge}) {
    // The fastest of several runs of each, interleaved, so that a busy
    // machine slows both alike.
    double plain = 1e30, measured = 1e30;
    for (int r = 0; r < repeats; ++r) {
      Merger a(paths);
      plain = std::min(plain, secondsOf(a, kind));
      Merger b(paths);
      b.setQualityObserver([](const FrameQuality&) {});
      measured = std::min(measured, secondsOf(b, kind));
    }
    const double extra = 100.0 * (measured / plain - 1.0);
    report(std::string("cost of measuring, fast ") + (kind == RegistrationKind::Correlation ? "correlation" : "anterior edge") +
               ", 100 BMP files of 512 x 496",
           format("%+.1f %%", extra) + format(" (%.0f ms against %.0f ms of processor time)", 1000 * measured, 1000 * plain), "<= 10 %",
           extra <= 10.0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

// --real DIR [--eyes LIST] [--per-series] [--strength S] [--per-eye]: the
// frame-quality targets on real series, then the speckle filter; exit
// status 2 on a usage error.
int realData(int argc, char** argv) {
  DenoiseEvaluation e;
  RealEvaluationOptions quality;
  std::string eyes = "1-9";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--real" && hasValue) {
      e.dir = argv[++i];
    } else if (a == "--eyes" && hasValue) {
      eyes = argv[++i];
    } else if (a == "--strength" && hasValue) {
      e.strength = std::atof(argv[++i]);
    } else if (a == "--per-eye") {
      e.perEye = true;
    } else if (a == "--per-series") {
      quality.perSeries = true;
    } else {
      std::fprintf(stderr, "lumifold_evaluate: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  try {
    e.eyes = parseEyeSelection(eyes);
    quality.dir = e.dir;
    quality.eyes = eyes;
    const int frameQuality = evaluateReal(quality);
    std::printf("\n");
    return evaluateSpeckleFilter(e) && frameQuality == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "lumifold_evaluate: %s\n", error.what());
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--real") == 0) return realData(argc, argv);
  }
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int seeds = quick ? 5 : 20;
  for (const Section s : {Section::Classic, Section::Calibrated}) {
    section = s;
    rejection(seeds);
    lateral(seeds);
    snrGain(quick ? 1 : 3);
    cost(quick ? 3 : 7);
  }
  std::size_t width = 6;
  for (const Row& r : rows) width = std::max(width, r.target.size());
  std::printf("%-*s  %-44s  %-12s  %s\n", static_cast<int>(width), "target", "measured", "limit", "");
  bool all = true;
  for (const Row& r : rows) {
    std::printf("%-*s  %-44s  %-12s  %s\n", static_cast<int>(width), r.target.c_str(), r.measured.c_str(),
                r.limit.c_str(), r.met ? "met" : "MISSED");
    all = all && r.met;
  }
  std::printf("%s\n", all ? "Every target met." : "Some targets missed.");
  return all ? 0 : 1;
}
