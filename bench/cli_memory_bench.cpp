// Peak memory of lumifold-cli as the series grows. A merge holds the sum,
// the reference and its column spectra, the frame being registered and the
// one being read next: nothing that grows with the number of frames. This
// runs the real program on the first 25, 50, 100 and 200 frames of one
// simulated 512 x 496 series, by both algorithms, each merge in a fresh
// process, and prints the largest resident set of each run and the growth
// from the shortest series to the longest.
//
// The figure is the program's own high-water mark (VmHWM), reported as it
// exits by a small library preloaded into it (peak_reporter.cpp): the
// kernel's ru_maxrss of a child would also count the pages it shared with
// this program before exec.
//
// Usage: lumifold_cli_memory_bench [--data FOLDER] (default: series/ in the
// current folder; the simulated series is kept there between runs).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_series.h"
#include "merge/registration_methods.h"

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 496;
constexpr int kFrameCounts[] = {25, 50, 100, 200};
// Growth from 25 to 200 frames still called flat: allocator noise and the
// output's file name, not a frame's 0.25 MiB times 175.
constexpr double kFlatMiB = 2.0;

// The peak resident set of one merge by lumifold-cli, in MiB; NaN when the
// program did not succeed or reported no peak.
double mergePeakMiB(const std::vector<std::string>& frames, const char* algorithm, const std::string& output) {
  std::vector<std::string> args = {LUMIFOLD_CLI_PATH, "merge", "-q", "-a", algorithm, "-o", output};
  args.insert(args.end(), frames.begin(), frames.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string peakFile = output + ".peak";
  std::filesystem::remove(peakFile);
  std::vector<std::string> environment = {std::string("LD_PRELOAD=") + LUMIFOLD_PEAK_REPORTER,
                                          "LUMIFOLD_PEAK_FILE=" + peakFile};
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0) _exit(125);
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return std::nan("");
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nan("");
  std::FILE* in = std::fopen(peakFile.c_str(), "r");
  long kib = -1;
  if (in) {
    if (std::fscanf(in, "%ld", &kib) != 1) kib = -1;
    std::fclose(in);
  }
  std::filesystem::remove(peakFile);
  return kib > 0 ? static_cast<double>(kib) / 1024.0 : std::nan("");
}

}  // namespace

int main(int argc, char** argv) {
  std::string data = "series";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
      data = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--data FOLDER]\n", argv[0]);
      return 2;
    }
  }
  const int longest = kFrameCounts[std::size(kFrameCounts) - 1];
  const std::vector<std::string> all = lumifold::bench::benchSeries(data, kWidth, kHeight, longest);
  const std::string output = (std::filesystem::temp_directory_path() /
                              ("lumifold-memory-bench-" + std::to_string(::getpid()) + ".bmp"))
                                 .string();

  std::printf("Peak resident memory of lumifold-cli merge, %d x %d frames, MiB\n", kWidth, kHeight);
  // One column per registration method of the table.
  const auto& methods = lumifold::kRegistrationMethods;
  std::printf("  %8s", "frames");
  for (const lumifold::RegistrationMethod& method : methods) std::printf(" %14s", method.key);
  std::printf("\n");
  std::vector<double> first(methods.size(), 0.0);
  std::vector<double> last(methods.size(), 0.0);
  bool ok = true;
  for (const int frames : kFrameCounts) {
    const std::vector<std::string> series(all.begin(), all.begin() + frames);
    std::printf("  %8d", frames);
    for (std::size_t a = 0; a < methods.size(); ++a) {
      const double peak = mergePeakMiB(series, methods[a].key, output);
      ok = ok && !std::isnan(peak);
      if (frames == kFrameCounts[0]) first[a] = peak;
      last[a] = peak;
      std::printf(" %14.1f", peak);
    }
    std::printf("\n");
  }
  std::filesystem::remove(output);
  if (!ok) {
    std::printf("a merge failed; no verdict\n");
    return 1;
  }
  double growth = 0.0;
  std::printf("Growth from %d to %d frames:", kFrameCounts[0], longest);
  for (std::size_t a = 0; a < methods.size(); ++a) {
    growth = std::max(growth, last[a] - first[a]);
    std::printf(" %+.1f MiB %s%s", last[a] - first[a], methods[a].key, a + 1 < methods.size() ? "," : ":");
  }
  std::printf(" %s (limit %.1f MiB)\n", growth <= kFlatMiB ? "flat" : "GROWS", kFlatMiB);
  return growth <= kFlatMiB ? 0 : 1;
}
