// Replays every file in tests/ipl/regressions, each named after the defect
// it once exposed, and checks the outcome listed in expected.tsv. The probe
// must agree with the reader on each.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "ipl/bmp_file_builder.h"

namespace fs = std::filesystem;

namespace {

const fs::path folder = fs::path(LUMIFOLD_TESTS_DIR) / "ipl" / "regressions";

std::map<std::string, std::string> expectedOutcomes() {
  std::map<std::string, std::string> outcomes;
  std::ifstream in(folder / "expected.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) outcomes[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return outcomes;
}

}  // namespace

TEST(BmpRegressions, EveryFileHasItsListedOutcome) {
  const auto outcomes = expectedOutcomes();
  ASSERT_FALSE(outcomes.empty()) << "no expected.tsv in " << folder.string();
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".bmp") continue;
    const std::string name = entry.path().filename().string();
    const auto it = outcomes.find(name);
    ASSERT_NE(it, outcomes.end()) << name << " has no line in expected.tsv";
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    const std::string message = bmptest::readerMessage(bytes);
    EXPECT_EQ(message.empty() ? "decodes" : message, it->second) << name;
    if (message.empty()) {
      EXPECT_EQ(bmptest::probeMessage(bytes), "") << name;
    }
    ++replayed;
  }
  EXPECT_EQ(replayed, static_cast<int>(outcomes.size())) << "expected.tsv lists files that are missing";
}
