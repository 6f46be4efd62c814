#include "shell/path_order.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

TEST(PathOrder, SortsCaseInsensitively) {
  Paths paths = {"scan10.bmp", "scan2.bmp", "Scan1.bmp"};
  lumifold::sortPaths(paths);
  EXPECT_EQ(paths, (Paths{"Scan1.bmp", "scan10.bmp", "scan2.bmp"}));

  Paths folders = {"/data/B/x.bmp", "/data/a/z.bmp", "/data/A/y.bmp"};
  lumifold::sortPaths(folders);
  EXPECT_EQ(folders, (Paths{"/data/A/y.bmp", "/data/a/z.bmp", "/data/B/x.bmp"}));
}

TEST(PathOrder, KeepsNamesEqualButForCaseInFixedOrder) {
  // Both spellings are distinct files on this system; neither may be lost,
  // and the order must not depend on the order they came in.
  Paths one = {"scan1.bmp", "Scan1.bmp", "SCAN1.BMP"};
  Paths two = {"SCAN1.BMP", "scan1.bmp", "Scan1.bmp"};
  lumifold::sortPaths(one);
  lumifold::sortPaths(two);
  EXPECT_EQ(one, (Paths{"SCAN1.BMP", "Scan1.bmp", "scan1.bmp"}));
  EXPECT_EQ(one, two);
}

TEST(PathOrder, DropsExactDuplicatesOnly) {
  Paths paths = {"b.bmp", "a.bmp", "b.bmp", "B.bmp", "a.bmp", "b.bmp"};
  lumifold::sortPaths(paths);
  EXPECT_EQ(paths, (Paths{"a.bmp", "B.bmp", "b.bmp"}));

  Paths empty;
  lumifold::sortPaths(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(PathOrder, LessAgreesWithSort) {
  const Paths input = {"x/scan3.bmp", "X/Scan3.bmp", "scan20.bmp", "Scan_1.bmp", "scan 1.bmp", "\xC3\xA9t\xC3\xA9.bmp",
                       "\xC3\x89T\xC3\x89.bmp", "bad\xFF.bmp", "bad\xFE.bmp", "z.bmp"};
  Paths sorted = input;
  lumifold::sortPaths(sorted);
  ASSERT_EQ(sorted.size(), input.size());
  for (std::size_t i = 0; i + 1 < sorted.size(); ++i) {
    EXPECT_TRUE(lumifold::pathLess(sorted[i], sorted[i + 1])) << sorted[i] << " / " << sorted[i + 1];
    EXPECT_FALSE(lumifold::pathLess(sorted[i + 1], sorted[i])) << sorted[i] << " / " << sorted[i + 1];
  }
  EXPECT_FALSE(lumifold::pathLess("a.bmp", "a.bmp"));
  // Every permutation of the input lands in the same order.
  Paths reversed(input.rbegin(), input.rend());
  lumifold::sortPaths(reversed);
  EXPECT_EQ(reversed, sorted);
}

TEST(PathOrder, FoldsCaseBeyondAscii) {
  // É and é fold together, so "ÉTA" and "éta" are neighbours, exact bytes
  // deciding; C.UTF-8 collates by code point, which puts z before them.
  Paths paths = {"z.bmp", "\xC3\xA9ta.bmp", "\xC3\x89TA.bmp"};
  lumifold::sortPaths(paths, "C.UTF-8");
  EXPECT_EQ(paths, (Paths{"z.bmp", "\xC3\x89TA.bmp", "\xC3\xA9ta.bmp"}));
}

TEST(PathOrder, FollowsTheNamedLocaleCollation) {
  // In an English locale an accented e sorts among the e's, before f; in code
  // point order it would come after z.
  locale_t probe = newlocale(LC_COLLATE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
  if (!probe) GTEST_SKIP() << "locale en_US.UTF-8 is not installed here";
  freelocale(probe);
  Paths paths = {"f.bmp", "z.bmp", "\xC3\xA9.bmp", "e.bmp"};
  lumifold::sortPaths(paths, "en_US.UTF-8");
  EXPECT_EQ(paths, (Paths{"e.bmp", "\xC3\xA9.bmp", "f.bmp", "z.bmp"}));

  Paths unknown = {"b.bmp", "A.bmp"};
  lumifold::sortPaths(unknown, "xx_NOWHERE.UTF-8");
  EXPECT_EQ(unknown, (Paths{"A.bmp", "b.bmp"}));
}

}  // namespace
