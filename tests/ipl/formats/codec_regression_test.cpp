// Replays every file in tests/ipl/formats/regressions/FORMAT/, each named
// after the defect it once exposed (fuzz findings and the hostile cases
// worth keeping as files), and checks the outcome in that folder's
// expected.tsv: "decodes" when every frame reads, else the start of the
// message it is refused with.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"

namespace fs = std::filesystem;

namespace {

std::string outcomeOf(const std::string& path) {
  try {
    const auto file = velIPL::decoderFor(path).open(path);
    for (int i = 0; i < file->info().frames; ++i) {
      if (file->info().bitsPerSample == 16) {
        velIPL::G16Image frame;
        file->readFrame(i, frame);
      } else {
        velIPL::GImage frame;
        file->readFrame(i, frame);
      }
    }
    return "decodes";
  } catch (const velIPL::IPLException& e) {
    return e.what();
  }
}

}  // namespace

TEST(CodecRegressions, EveryFileHasItsListedOutcome) {
  for (const char* format : {"tiff", "png", "dicom"}) {
    const fs::path folder = fs::path(LUMIFOLD_TESTS_DIR) / "ipl" / "formats" / "regressions" / format;
    std::map<std::string, std::string> outcomes;
    std::ifstream in(folder / "expected.tsv");
    for (std::string line; std::getline(in, line);) {
      const std::size_t tab = line.find('\t');
      if (!line.empty() && line[0] != '#' && tab != std::string::npos) outcomes[line.substr(0, tab)] = line.substr(tab + 1);
    }
    ASSERT_FALSE(outcomes.empty()) << folder.string();
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".tsv") continue;
      const auto it = outcomes.find(name);
      ASSERT_NE(it, outcomes.end()) << name << " has no line in expected.tsv";
      // No library may print on its own, whatever the file holds.
      testing::internal::CaptureStderr();
      const std::string outcome = outcomeOf(entry.path().string());
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << format << "/" << name;
      EXPECT_EQ(outcome.substr(0, it->second.size()), it->second) << format << "/" << name << ": " << outcome;
      ++replayed;
    }
    EXPECT_EQ(replayed, static_cast<int>(outcomes.size())) << format << ": expected.tsv lists files that are missing";
  }
}
