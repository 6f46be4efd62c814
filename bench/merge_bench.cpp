// Benchmarks of the merge engine: whole merges from files with the fast and
// the straightforward implementation, the pieces of a correlation merge,
// FFTW's time for the same transforms as a bound, the peak memory of a
// merge, and the speckle filter's time and memory on a 900 x 450 series; a
// summary table closes the run.
//
//   lumifold_bench [--data FOLDER] [--quick] [--from-memory] [Google Benchmark options]
//
// --data names the folder that caches the simulated series (default: a
// folder under the system's temporary folder); --quick runs fewer
// repetitions and shorter straightforward merges, for a first look;
// --from-memory runs only the merges of frames held in memory, without the
// table (bench/python_bench.py holds the Python module against them).
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_series.h"
#include "heap_counter.h"
#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "math/cplx_vector.h"
#include "merge/column_transform.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/fast/column_correlator.h"
#include "merge/fast/worker_pool.h"
#include "merge/merger.h"
#include "merge/registration_methods.h"
#include "sim/bscan_simulator.h"

extern char** environ;

namespace {

using lumifold::Merger;
using Implementation = lumifold::Merger::Implementation;
using mathORN::CplxVector;
using velIPL::CImage;
using velIPL::GImage;

struct Size {
  int width;
  int height;
  std::string label() const { return std::to_string(width) + " x " + std::to_string(height); }
  std::string tag() const { return std::to_string(width) + "x" + std::to_string(height); }
};

constexpr Size kClinical{512, 496};
constexpr Size kWide{1024, 496};
constexpr Size kDeep{512, 1024};
constexpr int kFrames = 100;

std::string dataFolder;
bool quick = false;
// --from-memory: only the merges from memory, without the table (for the
// Python module's timing, which reads them from --benchmark_out).
bool fromMemoryOnly = false;

int repetitions(Implementation implementation) {
  if (quick) return implementation == Implementation::Fast ? 3 : 1;
  return implementation == Implementation::Fast ? 7 : 3;
}

// Straightforward merges of the larger sizes use the first frames only;
// what is reported is the time per frame.
int straightforwardFrames(Size size) {
  if (quick) return 10;
  return size.width == kClinical.width && size.height == kClinical.height ? kFrames : 25;
}

const std::vector<std::string>& series(Size size) {
  static std::map<std::string, std::vector<std::string>> cache;
  auto found = cache.find(size.tag());
  if (found == cache.end()) {
    found = cache.emplace(size.tag(), lumifold::bench::benchSeries(dataFolder, size.width, size.height, kFrames)).first;
  }
  return found->second;
}

std::vector<std::string> firstFrames(Size size, int frames) {
  const std::vector<std::string>& all = series(size);
  return {all.begin(), all.begin() + frames};
}

using lumifold::RegistrationMethod;

// The two methods the summary table holds against their targets.
const RegistrationMethod& kCorrelation = *lumifold::findRegistrationMethod("correlation");
const RegistrationMethod& kAnteriorEdge = *lumifold::findRegistrationMethod("anterior-edge");

GImage merge(const std::vector<std::string>& files, const RegistrationMethod& method, Implementation implementation) {
  Merger merger(files);
  merger.setImplementation(implementation);
  return method.run(merger);
}

std::string implementationName(Implementation i) { return i == Implementation::Fast ? "fast" : "straightforward"; }

// The series' frames 1 ... frames written in one format into the data
// folder (once; kept across runs): "tiff8", "tiff16", "png8", "png16",
// "dicom8", "dicom16", "dicom-jpegls", "dicom-jpeg2000". 16-bit files hold
// the 8-bit values x 257. Returns the path.
std::string formatFile(Size size, const std::string& format, int frames) {
  const std::string ext = format.rfind("tiff", 0) == 0 ? ".tif" : format.rfind("png", 0) == 0 ? ".png" : ".dcm";
  const std::filesystem::path folder = std::filesystem::path(dataFolder) / "formats";
  const std::string path = (folder / (format + "_" + size.tag() + "_" + std::to_string(frames) + ext)).string();
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(folder);
  const bool deep = format.find("16") != std::string::npos || format == "dicom-jpeg2000";
  velIPL::TiffWriter tiff;
  velIPL::DicomWriter dicom({0, 0, format == "dicom-jpegls"     ? velIPL::DicomCompression::jpegLs
                                   : format == "dicom-jpeg2000" ? velIPL::DicomCompression::jpeg2000
                                                                : velIPL::DicomCompression::none});
  for (int f = 1; f <= frames; ++f) {
    const GImage grey(series(size)[static_cast<std::size_t>(f % kFrames)]);
    velIPL::G16Image wide(grey.width(), grey.height(), 0);
    for (int y = 0; y < grey.height(); ++y) {
      for (int x = 0; x < grey.width(); ++x) wide.at(x, y) = static_cast<std::uint16_t>(grey.at(x, y) * 257);
    }
    if (ext == ".png") {
      if (deep) velIPL::PngWriter().writeFile(path, wide);
      if (!deep) velIPL::PngWriter().writeFile(path, grey);
      return path;
    }
    if (ext == ".tif") {
      if (deep) tiff.addPage(wide);
      if (!deep) tiff.addPage(grey);
    } else {
      if (deep) dicom.addFrame(wide);
      if (!deep) dicom.addFrame(grey);
    }
  }
  if (ext == ".tif") {
    tiff.writeFile(path);
  } else {
    dicom.writeFile(path);
  }
  return path;
}

// A whole merge (or read) per iteration, repeated, reported as medians.
void wholeRuns(benchmark::internal::Benchmark* b, Implementation implementation) {
  b->Iterations(1)->Repetitions(repetitions(implementation))->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMillisecond);
}

std::string mergeName(Size size, const RegistrationMethod& method, Implementation implementation) {
  return "merge/" + std::string(method.key) + "/" + implementationName(implementation) + "/" + size.tag();
}

void registerMerge(Size size, const RegistrationMethod& method, Implementation implementation) {
  const int frames = implementation == Implementation::Fast ? kFrames : straightforwardFrames(size);
  wholeRuns(benchmark::RegisterBenchmark(mergeName(size, method, implementation).c_str(),
                               [=](benchmark::State& state) {
                                 const std::vector<std::string> files = firstFrames(size, frames);
                                 for (auto _ : state) {
                                   benchmark::DoNotOptimize(merge(files, method, implementation));
                                 }
                                 state.counters["frames"] = frames;
                               }),
            implementation);
}

// The fast merge from files with frame quality measured (an observer set):
// what measuring costs, against the plain merge of the same files.
std::string measuredMergeName(Size size, const RegistrationMethod& method) {
  return "merge-measured/" + std::string(method.key) + "/fast/" + size.tag();
}

void registerMeasuredMerge(Size size, const RegistrationMethod& method) {
  wholeRuns(benchmark::RegisterBenchmark(measuredMergeName(size, method).c_str(),
                               [=](benchmark::State& state) {
                                 const std::vector<std::string> files = firstFrames(size, kFrames);
                                 for (auto _ : state) {
                                   Merger merger(files);
                                   merger.setQualityObserver([](const lumifold::FrameQuality&) {});
                                   benchmark::DoNotOptimize(method.run(merger));
                                 }
                                 state.counters["frames"] = kFrames;
                               }),
            Implementation::Fast);
}

// The same merge of frames already in memory, read once beforehand: the
// engine alone, what the Python module's merge of an array is held against.
std::string memoryMergeName(Size size, const RegistrationMethod& method) {
  return "merge-from-memory/" + std::string(method.key) + "/" + size.tag();
}

void registerMemoryMerge(Size size, const RegistrationMethod& method) {
  wholeRuns(benchmark::RegisterBenchmark(memoryMergeName(size, method).c_str(),
                               [=](benchmark::State& state) {
                                 std::vector<lumifold::MergeFrame> frames;
                                 for (const std::string& f : series(size)) frames.emplace_back(GImage(f));
                                 for (auto _ : state) {
                                   Merger merger(frames);
                                   benchmark::DoNotOptimize(method.run(merger));
                                 }
                                 state.counters["frames"] = kFrames;
                               }),
            Implementation::Fast);
}

// The speckle filter's series: the size of the public real data set's
// B-scans, simulated in memory (the real scans are not available here).
constexpr Size kFilterSize{900, 450};

std::vector<lumifold::MergeFrame> filterSeries(int frames) {
  lumifold::SimulationParameters p;
  p.frames = frames;
  p.width = kFilterSize.width;
  p.height = kFilterSize.height;
  p.seed = lumifold::bench::kSeriesSeed;
  p.section = lumifold::Section::Classic;  // as recorded before the calibrated section
  const lumifold::BScanSimulator sim(p);
  std::vector<lumifold::MergeFrame> list;
  for (int i = 0; i < frames; ++i) list.emplace_back(sim.frame(i));
  return list;
}

GImage filteredMerge(const std::vector<lumifold::MergeFrame>& frames, bool filtered) {
  Merger merger(frames);
  if (filtered) merger.setSpeckleFilter(&lumifold::kSpeckleFilters[0], lumifold::kSpeckleFilters[0].defaultStrength);
  return merger.mergeByCorrelation();
}

std::string filterMergeName(bool filtered) {
  return std::string(filtered ? "merge-denoised" : "merge-plain") + "/correlation/" + kFilterSize.tag() + "x5";
}

// Five frames from memory merged with and without the filter, so that the
// difference is the filter's own time.
void registerFilteredMerge(bool filtered) {
  wholeRuns(benchmark::RegisterBenchmark(filterMergeName(filtered).c_str(),
                                         [=](benchmark::State& state) {
                                           const std::vector<lumifold::MergeFrame> frames = filterSeries(5);
                                           for (auto _ : state) benchmark::DoNotOptimize(filteredMerge(frames, filtered));
                                           state.counters["frames"] = 5;
                                         }),
            Implementation::Fast);
}

// What the anterior-edge merge is held against: reading the same files.
void registerReadAll(Size size) {
  wholeRuns(benchmark::RegisterBenchmark(("read/all-frames/" + size.tag()).c_str(),
                               [=](benchmark::State& state) {
                                 const std::vector<std::string>& files = series(size);
                                 for (auto _ : state) {
                                   for (const std::string& f : files) benchmark::DoNotOptimize(GImage(f));
                                 }
                                 state.counters["frames"] = kFrames;
                               }),
            Implementation::Fast);
}

// One frame's worth of the transforms a correlation merge needs, done by
// single-threaded FFTW: one forward and one inverse complex transform of
// length M per column, column after column, so that each pair works in the
// cache as our own batches do (planned with FFTW_MEASURE; a single plan over
// all columns at once is about twice as slow here and would flatter us).
void registerFftwBound(Size size) {
  benchmark::RegisterBenchmark(("fftw-bound/" + size.tag()).c_str(),
                               [=](benchmark::State& state) {
                                 int m = lumifold::transformLength(size.height);
                                 const int w = size.width;
                                 const std::size_t count = static_cast<std::size_t>(w) * m;
                                 fftw_complex* in = fftw_alloc_complex(count);
                                 fftw_complex* spectrum = fftw_alloc_complex(m);
                                 fftw_complex* out = fftw_alloc_complex(m);
                                 fftw_plan forward = fftw_plan_dft_1d(m, in, spectrum, FFTW_FORWARD, FFTW_MEASURE);
                                 fftw_plan inverse = fftw_plan_dft_1d(m, spectrum, out, FFTW_BACKWARD, FFTW_MEASURE);
                                 const GImage frame(series(size)[1]);
                                 for (int x = 0; x < w; ++x) {
                                   for (int i = 0; i < m; ++i) {
                                     in[static_cast<std::size_t>(x) * m + i][0] = frame.at(x, i % size.height);
                                     in[static_cast<std::size_t>(x) * m + i][1] = 0.0;
                                   }
                                 }
                                 for (auto _ : state) {
                                   for (int x = 0; x < w; ++x) {
                                     fftw_execute_dft(forward, in + static_cast<std::size_t>(x) * m, spectrum);
                                     fftw_execute_dft(inverse, spectrum, out);
                                   }
                                   benchmark::DoNotOptimize(out[0][0]);
                                 }
                                 fftw_destroy_plan(forward);
                                 fftw_destroy_plan(inverse);
                                 fftw_free(in);
                                 fftw_free(spectrum);
                                 fftw_free(out);
                               })
      ->Repetitions(quick ? 2 : 5)
      ->ReportAggregatesOnly(true)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

void registerPieces(Size size) {
  const std::string tag = size.tag();
  auto piece = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->Repetitions(quick ? 2 : 5)
        ->ReportAggregatesOnly(true)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  };
  piece("piece/read-frame/" + tag, [=](benchmark::State& state) {
    const std::string path = series(size)[1];
    for (auto _ : state) benchmark::DoNotOptimize(GImage(path));
  });
  // The same frame in the other formats: opened and read through the
  // decoder table, as a series of one-frame files is; and one frame of a
  // multi-frame file that is already open.
  for (const char* format : {"tiff8", "tiff16", "png8", "png16", "dicom8", "dicom16", "dicom-jpegls", "dicom-jpeg2000"}) {
    piece(std::string("piece/read-frame/") + format + "/" + tag, [=](benchmark::State& state) {
      const std::string path = formatFile(size, format, 1);
      const velIPL::ImageDecoder& decoder = velIPL::decoderFor(path);
      // By the file's own depth: the JPEG 2000 file is 16-bit without saying so in its name.
      const bool deep = decoder.probe(path).bitsPerSample == 16;
      for (auto _ : state) {
        const auto file = decoder.open(path);
        if (deep) {
          velIPL::G16Image frame;
          file->readFrame(0, frame);
          benchmark::DoNotOptimize(frame.at(0, 0));
        } else {
          GImage frame;
          file->readFrame(0, frame);
          benchmark::DoNotOptimize(frame.at(0, 0));
        }
      }
    });
  }
  for (const char* format : {"tiff8", "dicom8", "dicom-jpegls"}) {
    piece(std::string("piece/read-frame-of-100/") + format + "/" + tag, [=](benchmark::State& state) {
      const std::string path = formatFile(size, format, kFrames);
      const auto file = velIPL::decoderFor(path).open(path);
      int index = 0;
      GImage frame;
      for (auto _ : state) {
        file->readFrame(index, frame);
        index = (index + 37) % kFrames;
        benchmark::DoNotOptimize(frame.at(0, 0));
      }
    });
  }
  piece("piece/columnSpectra/straightforward/" + tag, [=](benchmark::State& state) {
    const GImage frame(series(size)[1]);
    CImage spectra;
    for (auto _ : state) {
      lumifold::columnSpectra(frame, spectra);
      benchmark::DoNotOptimize(spectra.at(0, 0));
    }
  });
  for (int threads : {1, 0}) {
    const std::string which = threads == 1 ? "fast-1-thread/" : "fast-all-threads/";
    piece("piece/columnSpectra/" + which + tag, [=](benchmark::State& state) {
      const GImage frame(series(size)[1]);
      lumifold::WorkerPool pool(threads == 1 ? 1 : lumifold::WorkerPool::availableCores());
      for (auto _ : state) {
        lumifold::ColumnCorrelator correlator(frame, pool);
        benchmark::DoNotOptimize(correlator.referenceSpectrum(0, 0));
      }
    });
  }
  piece("piece/crossCorrelate/straightforward/" + tag, [=](benchmark::State& state) {
    CImage reference, image;
    lumifold::columnSpectra(GImage(series(size)[0]), reference);
    lumifold::columnSpectra(GImage(series(size)[1]), image);
    const int m = reference.height();
    const int x = size.width / 2;
    CplxVector r(m), i(m), inverse(m);
    for (int k = 0; k < m; ++k) {
      r[k] = reference.at(x, k);
      i[k] = image.at(x, k);
    }
    lumifold::inverseTwiddles(inverse);
    const CplxVector weights = lumifold::frequencyWeights(m);
    for (auto _ : state) benchmark::DoNotOptimize(lumifold::peakLag(lumifold::crossCorrelate(r, i, weights, inverse)));
  });
  // One frame's registration as the straightforward merge does it: the
  // frame's spectra, then every column's correlation and peak.
  piece("piece/register-frame/straightforward/" + tag, [=](benchmark::State& state) {
    CImage reference;
    lumifold::columnSpectra(GImage(series(size)[0]), reference);
    const GImage frame(series(size)[1]);
    const int m = reference.height();
    CplxVector inverse(m);
    lumifold::inverseTwiddles(inverse);
    const CplxVector weights = lumifold::frequencyWeights(m);
    for (auto _ : state) {
      CImage spectra;
      lumifold::columnSpectra(frame, spectra);
      mathORN::RowVector s(size.width);
      CplxVector r(m), i(m);
      for (int x = 0; x < size.width; ++x) {
        for (int k = 0; k < m; ++k) {
          r[k] = reference.at(x, k);
          i[k] = spectra.at(x, k);
        }
        s[x] = lumifold::wrapLag(lumifold::peakLag(lumifold::crossCorrelate(r, i, weights, inverse)), m);
      }
      benchmark::DoNotOptimize(s[0]);
    }
  });
  for (int threads : {1, 0}) {
    const std::string which = threads == 1 ? "fast-1-thread/" : "fast-all-threads/";
    piece("piece/register-frame/" + which + tag, [=](benchmark::State& state) {
      lumifold::WorkerPool pool(threads == 1 ? 1 : lumifold::WorkerPool::availableCores());
      lumifold::ColumnCorrelator correlator(GImage(series(size)[0]), pool);
      const GImage frame(series(size)[1]);
      for (auto _ : state) benchmark::DoNotOptimize(correlator.shifts(frame)[0]);
    });
  }
}

// Keeps the median (or the only run) of every benchmark, in milliseconds.
class Collector : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.function_name;
      const double ms = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = ms;
      } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
        medians_[name] = ms;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Milliseconds, or NaN when the benchmark did not run.
  double ms(const std::string& name) const {
    const auto found = medians_.find(name);
    return found == medians_.end() ? std::nan("") : found->second;
  }

private:
  std::map<std::string, double> medians_;
};

// Peak memory of a merge, as heap bytes counted in this process and as the
// largest resident set of a fresh process that does nothing but the merge.
struct Peak {
  double heapMiB = 0;
  double residentMiB = 0;
};

const char* kChildFlag = "--merge-in-child";

// The high-water mark of this process's resident set, from the kernel's
// own count for the current program image (unlike getrusage, which also
// remembers the parent's memory a spawned child briefly shared).
double residentHighWaterMiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return std::nan("");
  char line[256];
  double kib = std::nan("");
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atof(line + 6);
  }
  std::fclose(status);
  return kib / 1024.0;
}

int mergeInChild(int argc, char** argv) {
  // argv: program flag folder-of-series width height frames method-key
  if (argc != 7) return 2;
  dataFolder = argv[2];
  const Size size{std::atoi(argv[3]), std::atoi(argv[4])};
  const int frames = std::atoi(argv[5]);
  const RegistrationMethod* method = lumifold::findRegistrationMethod(argv[6]);
  if (!method) return 2;
  merge(firstFrames(size, frames), *method, Implementation::Fast);
  std::printf("%.3f\n", residentHighWaterMiB());
  return 0;
}

double residentPeakMiB(Size size, int frames, const RegistrationMethod& method) {
  std::vector<std::string> args = {"/proc/self/exe",         kChildFlag,          dataFolder,
                                   std::to_string(size.width), std::to_string(size.height), std::to_string(frames),
                                   method.key};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return std::nan("");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  pid_t pid;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  double mib = std::nan("");
  if (spawned == 0) {
    char text[64] = {};
    std::size_t used = 0;
    ssize_t n;
    while (used < sizeof text - 1 && (n = read(pipeEnds[0], text + used, sizeof text - 1 - used)) > 0) used += n;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) mib = std::atof(text);
  }
  close(pipeEnds[0]);
  return mib;
}

Peak peakOf(Size size, int frames, const RegistrationMethod& method) {
  Peak peak;
  const std::vector<std::string> files = firstFrames(size, frames);
  const std::int64_t before = lumifold::bench::heapInUse();
  lumifold::bench::resetHeapPeak();
  merge(files, method, Implementation::Fast);
  peak.heapMiB = static_cast<double>(lumifold::bench::heapPeak() - before) / (1 << 20);
  peak.residentMiB = residentPeakMiB(size, frames, method);
  return peak;
}

// The heap a filtered merge of frames frames held in memory adds to the
// frames themselves.
double filterHeapMiB(int frames) {
  const std::vector<lumifold::MergeFrame> list = filterSeries(frames);
  const std::int64_t before = lumifold::bench::heapInUse();
  lumifold::bench::resetHeapPeak();
  filteredMerge(list, true);
  return static_cast<double>(lumifold::bench::heapPeak() - before) / (1 << 20);
}

double loadAverage() {
  double load[1] = {std::nan("")};
  getloadavg(load, 1);
  return load[0];
}

const char* verdict(bool ok) { return ok ? "met" : "NOT MET"; }

using Peaks = std::vector<std::pair<std::string, Peak>>;

void printTable(const Collector& c, double loadBefore, double loadAfter, const Peaks& peaks,
                const std::pair<double, double>& filterHeap) {
  auto perFrame = [&](const std::string& name, int frames) { return c.ms(name) / frames; };
  std::printf("\nLumifold merge benchmarks: simulated series, seed %u, mixed motion, %d frames; medians; "
              "%d core(s) available; load average %.2f before, %.2f after\n",
              lumifold::bench::kSeriesSeed, kFrames, lumifold::WorkerPool::availableCores(), loadBefore, loadAfter);

  std::printf("\nMerge from files, ms per frame (straightforward merges of the larger sizes: first %d frames)\n",
              straightforwardFrames(kWide));
  std::printf("  %-26s %16s %10s %9s %12s %13s\n", "", "straightforward", "fast", "speed-up", "FFTW bound",
              "fast / bound");
  for (Size size : {kClinical, kWide, kDeep}) {
    const double slow =
        perFrame(mergeName(size, kCorrelation, Implementation::Straightforward), straightforwardFrames(size));
    const double fast = perFrame(mergeName(size, kCorrelation, Implementation::Fast), kFrames);
    const double bound = c.ms("fftw-bound/" + size.tag());
    std::printf("  %-26s %16.2f %10.2f %8.1fx %12.2f %12.2fx\n", ("correlation " + size.label()).c_str(), slow, fast,
                slow / fast, bound, fast / bound);
  }
  const double edgeSlow =
      perFrame(mergeName(kClinical, kAnteriorEdge, Implementation::Straightforward), straightforwardFrames(kClinical));
  const double edgeFast = perFrame(mergeName(kClinical, kAnteriorEdge, Implementation::Fast), kFrames);
  const double read = perFrame("read/all-frames/" + kClinical.tag(), kFrames);
  std::printf("  %-26s %16.2f %10.2f %8.1fx %12s %13s\n", ("anterior edge " + kClinical.label()).c_str(), edgeSlow,
              edgeFast, edgeSlow / edgeFast, "", "");
  std::printf("  %-26s %16s %10.2f %9s %12s %13s\n", ("reading only " + kClinical.label()).c_str(), "", read, "", "",
              "");
  for (const RegistrationMethod* method : {&kCorrelation, &kAnteriorEdge}) {
    std::printf("  %-26s %16s %10.2f %9s %12s %13s\n", (std::string(method->key) + " from memory").c_str(), "",
                perFrame(memoryMergeName(kClinical, *method), kFrames), "", "", "");
  }
  // Frame quality measured: the fast merge's time with and without.
  for (const RegistrationMethod* method : {&kCorrelation, &kAnteriorEdge}) {
    const double plain = perFrame(mergeName(kClinical, *method, Implementation::Fast), kFrames);
    const double measured = perFrame(measuredMergeName(kClinical, *method), kFrames);
    std::printf("  %-26s %16s %10.2f %9s %12s %13s   %+.1f %% (target <= +10 %%)\n",
                (std::string(method->key) + " measured").c_str(), "", measured, "", "", "",
                100.0 * (measured / plain - 1.0));
  }

  const std::string t = kClinical.tag();
  const auto line = [](const char* what, double ms, int decimals) {
    std::printf("  %-48s %10.*f\n", what, decimals, ms);
  };
  std::printf("\nPieces, %s, ms\n", kClinical.label().c_str());
  line("read one frame (BMP, 24-bit)", c.ms("piece/read-frame/" + t), 3);
  for (const auto& [format, label] : std::vector<std::pair<std::string, std::string>>{
           {"tiff8", "  the same, TIFF 8-bit"},
           {"tiff16", "  the same, TIFF 16-bit"},
           {"png8", "  the same, PNG 8-bit"},
           {"png16", "  the same, PNG 16-bit"},
           {"dicom8", "  the same, DICOM 8-bit"},
           {"dicom16", "  the same, DICOM 16-bit"},
           {"dicom-jpegls", "  the same, DICOM 8-bit JPEG-LS"},
           {"dicom-jpeg2000", "  the same, DICOM 16-bit JPEG 2000"}}) {
    line(label.c_str(), c.ms("piece/read-frame/" + format + "/" + t), 3);
  }
  line("  one frame of an open 100-page TIFF", c.ms("piece/read-frame-of-100/tiff8/" + t), 3);
  line("  one frame of an open 100-frame DICOM", c.ms("piece/read-frame-of-100/dicom8/" + t), 3);
  line("  the same, JPEG-LS", c.ms("piece/read-frame-of-100/dicom-jpegls/" + t), 3);
  line("columnSpectra of a frame, straightforward", c.ms("piece/columnSpectra/straightforward/" + t), 3);
  line("  the same, fast, one thread", c.ms("piece/columnSpectra/fast-1-thread/" + t), 3);
  line("  the same, fast, all threads", c.ms("piece/columnSpectra/fast-all-threads/" + t), 3);
  line("crossCorrelate of one column, straightforward", c.ms("piece/crossCorrelate/straightforward/" + t), 4);
  std::printf("  %-48s %10.4f\n", "  fast, one thread: a frame's registration / width",
              c.ms("piece/register-frame/fast-1-thread/" + t) / kClinical.width);
  line("register one frame, straightforward", c.ms("piece/register-frame/straightforward/" + t), 3);
  line("  the same, fast, one thread", c.ms("piece/register-frame/fast-1-thread/" + t), 3);
  line("  the same, fast, all threads", c.ms("piece/register-frame/fast-all-threads/" + t), 3);
  line("FFTW, one forward + one inverse per column", c.ms("fftw-bound/" + t), 3);

  std::printf("\nPeak memory of the fast merge, %s, MiB\n", kClinical.label().c_str());
  std::printf("  %-32s %12s %16s\n", "", "heap", "process (RSS)");
  for (const auto& [name, peak] : peaks) {
    std::printf("  %-32s %12.1f %16.1f\n", name.c_str(), peak.heapMiB, peak.residentMiB);
  }

  const double clinicalSlow =
      perFrame(mergeName(kClinical, kCorrelation, Implementation::Straightforward), straightforwardFrames(kClinical));
  const double clinicalFast = perFrame(mergeName(kClinical, kCorrelation, Implementation::Fast), kFrames);
  const double clinicalBound = c.ms("fftw-bound/" + t);
  std::printf("\nTargets, correlation and anterior edge %s, %d frames\n", kClinical.label().c_str(), kFrames);
  std::printf("  fast at least 8x faster than straightforward:  %6.1fx   %s\n", clinicalSlow / clinicalFast,
              verdict(clinicalSlow / clinicalFast >= 8.0));
  std::printf("  fast at most 3x the FFTW bound:               %6.2fx   %s\n", clinicalFast / clinicalBound,
              verdict(clinicalFast / clinicalBound <= 3.0));
  std::printf("  anterior edge at most 1.5x reading only:      %6.2fx   %s\n", edgeFast / read,
              verdict(edgeFast / read <= 1.5));
  double largest = 0.0;
  for (const auto& [name, peak] : peaks) largest = std::max(largest, std::max(peak.heapMiB, peak.residentMiB));
  // The first entries are the correlation merges of 10 and of 100 frames.
  const double heapGrowth = peaks[2].second.heapMiB - peaks[0].second.heapMiB;
  const double residentGrowth = peaks[2].second.residentMiB - peaks[0].second.residentMiB;
  std::printf("  peak memory under 64 MiB:                     %6.1f MiB %s\n", largest, verdict(largest < 64.0));
  std::printf("  flat from 10 to 100 frames:                   %+6.1f MiB heap, %+.1f MiB process   %s\n", heapGrowth,
              residentGrowth, verdict(heapGrowth < 1.0 && residentGrowth < 4.0));
  const double denoised = c.ms(filterMergeName(true));
  const double plainMerge = c.ms(filterMergeName(false));
  std::printf("\nSpeckle filter (%s, default strength), %s, 5 frames from memory\n", lumifold::kSpeckleFilters[0].key,
              kFilterSize.label().c_str());
  std::printf("  merge and filter %.0f ms (merge alone %.0f ms, the filter %.0f ms)   target <= 500 ms   %s\n",
              denoised, plainMerge, denoised - plainMerge, verdict(denoised <= 500.0));
  std::printf("  heap of a filtered merge: 5 frames %.1f MiB, 50 frames %.1f MiB   flat (< 1 MiB more)   %s\n",
              filterHeap.first, filterHeap.second, verdict(filterHeap.second - filterHeap.first < 1.0));
  if (quick) std::printf("\n(--quick: fewer repetitions, short straightforward merges; not for the record)\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0) return mergeInChild(argc, argv);

  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
      dataFolder = argv[++i];
    } else if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--from-memory") == 0) {
      fromMemoryOnly = true;
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (dataFolder.empty()) dataFolder = (std::filesystem::temp_directory_path() / "lumifold-bench-series").string();
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;

  try {
    for (Size size : {kClinical, kWide, kDeep}) series(size);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumifold_bench: %s: %s\n", dataFolder.c_str(), e.what());
    return 1;
  }

  if (fromMemoryOnly) {
    for (const RegistrationMethod& method : lumifold::kRegistrationMethods) registerMemoryMerge(kClinical, method);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  }

  const double loadBefore = loadAverage();
  // The correlation at every size, beside its FFTW bound; every other
  // method at the clinical size.
  for (Size size : {kClinical, kWide, kDeep}) {
    registerMerge(size, kCorrelation, Implementation::Fast);
    registerMerge(size, kCorrelation, Implementation::Straightforward);
    registerFftwBound(size);
  }
  for (const RegistrationMethod& method : lumifold::kRegistrationMethods) {
    if (&method == &kCorrelation) continue;
    registerMerge(kClinical, method, Implementation::Fast);
    registerMerge(kClinical, method, Implementation::Straightforward);
  }
  for (const RegistrationMethod& method : lumifold::kRegistrationMethods) registerMemoryMerge(kClinical, method);
  for (const RegistrationMethod* method : {&kCorrelation, &kAnteriorEdge}) registerMeasuredMerge(kClinical, *method);
  registerReadAll(kClinical);
  registerPieces(kClinical);
  for (const bool filtered : {false, true}) registerFilteredMerge(filtered);

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  Peaks peaks;
  for (int frames : {10, 50, kFrames}) {
    peaks.emplace_back("correlation, " + std::to_string(frames) + " frames", peakOf(kClinical, frames, kCorrelation));
  }
  peaks.emplace_back("anterior edge, 100 frames", peakOf(kClinical, kFrames, kAnteriorEdge));
  const std::pair<double, double> filterHeap{filterHeapMiB(5), filterHeapMiB(50)};
  printTable(collector, loadBefore, loadAverage(), peaks, filterHeap);
  benchmark::Shutdown();
  return 0;
}
