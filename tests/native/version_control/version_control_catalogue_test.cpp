// The package catalogue's lookups and the two space-blind text helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "version_control/judge.h"
#include "version_control/packages.h"

namespace {

TEST(PackageCatalogue, HoldsOneFullPackageToR1D06) {
  ASSERT_EQ(PackageCatalogueCount(), 1);
  EXPECT_STREQ(PackageCatalogue[0].fromVersion, "");
  EXPECT_STREQ(PackageCatalogue[0].toVersion, "R1D06");
  // Its image's bytes and length are the image tests' business.
}

TEST(FindPackage, ChoosesTheFullPackageForAnyVersion) {
  for (const char *version : {"", "R1D06", "R1D05", "R1A027", "R1D05 ", "anything"})
    EXPECT_EQ(FindPackage(version), 0) << "'" << version << "'";
  EXPECT_EQ(FindPackage(nullptr), 0);
}

TEST(FindPackage, MatchesADeltaChainExactly) {
  static const unsigned char bytes[1] = {0};
  const PackageEntry deltas[] = {
      {"R1D04", "R1D05", bytes, 1, nullptr},
      {"R1D05", "R1D06", bytes, 1, nullptr},
      {"R1D05", "R1D07", bytes, 1, nullptr},  // a later equal one is never chosen
  };
  struct {
    const char *version;
    int index;
  } const rows[] = {
      {"R1D04", 0}, {"R1D05", 1},  {"R1D05 ", -1}, {" R1D05", -1}, {"r1d05", -1},
      {"R1D0", -1}, {"R1D06", -1}, {"", -1},
  };
  for (const auto &row : rows) EXPECT_EQ(FindPackageIn(deltas, 3, row.version), row.index) << "'" << row.version << "'";
  EXPECT_EQ(FindPackageIn(deltas, 3, nullptr), -1);
  EXPECT_EQ(FindPackageIn(deltas, 1, "R1D05"), -1) << "only the entries counted are searched";
  EXPECT_EQ(FindPackageIn(deltas, 0, "R1D04"), -1);
}

struct WalkRow {
  const char *name;
  const char *version;  // what the module runs now
  int lastIndex;        // the package sent before, -1 at the start
  PackageStep step;
  int index;
};

// The step the worker takes after each package and the inventory takes to
// foresee the chain: one walk for both.
TEST(PackageWalkStep, TellsTheNextPackageTheEndAndARepeat) {
  static const unsigned char bytes[1] = {0};
  const PackageEntry deltas[] = {
      {"R1D04", "R1D05", bytes, 1, nullptr},
      {"R1D05", "R1D06", bytes, 1, nullptr},
  };
  const WalkRow rows[] = {
      {"the first package", "R1D04", -1, PACKAGE_STEP_NEXT, 0},
      {"the next delta", "R1D05", 0, PACKAGE_STEP_NEXT, 1},
      {"nothing fits from the start", "R1A027", -1, PACKAGE_STEP_NO_PATH, -1},
      {"nothing fits after a package: the end", "R1D06", 1, PACKAGE_STEP_END, -1},
      {"a package behind the last one: the end", "R1D04", 1, PACKAGE_STEP_END, 0},
      {"the same package again: it did not take", "R1D05", 1, PACKAGE_STEP_REPEAT, 1},
  };
  for (const WalkRow &row : rows) {
    int index = 99;
    EXPECT_EQ(PackageWalkStep(deltas, 2, row.version, row.lastIndex, &index), row.step) << row.name;
    EXPECT_EQ(index, row.index) << row.name;
  }
  const PackageEntry full[] = {{"", "R1D06", bytes, 1, nullptr}};
  int index = -1;
  EXPECT_EQ(PackageWalkStep(full, 1, "R1D06", -1, &index), PACKAGE_STEP_NEXT) << "a full package fits anything";
  EXPECT_EQ(PackageWalkStep(full, 1, "R1D06", 0, &index), PACKAGE_STEP_REPEAT);
  EXPECT_FALSE(PackageIsDelta(&full[0]));
  EXPECT_TRUE(PackageIsDelta(&deltas[0]));
  EXPECT_FALSE(PackageIsDelta(nullptr));
}

TEST(TargetVersionText, IsTheFileWhenOneWasNamed) {
  EXPECT_STREQ(TargetVersionText(nullptr), "R1D06");
  const char *path = "C:\\fw\\pkg.bin";
  EXPECT_EQ(TargetVersionText(path), path);
}

TEST(StripSpaces, RemovesBlanksOnlyAndCutsToTheCapacity) {
  struct {
    const char *name, *text;
    int capacity;
    const char *out;
    int length;
  } const rows[] = {
      {"product number", "QHW 552 08/101", 64, "QHW55208/101", 12},
      {"tabs and other characters stay", " a\tb\r\n c ", 64, "a\tb\r\nc", 6},
      {"only blanks", "   ", 64, "", 0},
      {"empty", "", 64, "", 0},
      {"exact fit", "a b c", 4, "abc", 3},
      {"cut, with the whole length reported", "a b c d", 3, "ab", 4},
      {"capacity one holds the terminator", "abc", 1, "", 3},
  };
  for (const auto &row : rows) {
    char out[65];  // one byte beyond the largest capacity, to see overruns
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(StripSpaces(row.text, out, row.capacity), row.length) << row.name;
    EXPECT_STREQ(out, row.out) << row.name;
    EXPECT_EQ(out[row.capacity], 'x') << row.name << ": wrote past the capacity";
  }
  char untouched[2] = {'x', 'x'};
  EXPECT_EQ(StripSpaces("a b", untouched, 0), 2);
  EXPECT_EQ(StripSpaces("a b", untouched, -1), 2);
  EXPECT_EQ(untouched[0], 'x');
}

TEST(SameWithoutSpaces, AgreesWithComparingStrippedTexts) {
  const char *const texts[] = {"", " ", "QHW 552 08/101", "QHW55208/101", "QHW 552 08/10",
                               "QHW 552 08/1011", "QHW\t552 08/101", " QHW55208/101 ", "R1D05", "R1D05 "};
  for (const char *a : texts)
    for (const char *b : texts) {
      char sa[64], sb[64];
      StripSpaces(a, sa, sizeof sa);
      StripSpaces(b, sb, sizeof sb);
      EXPECT_EQ(SameWithoutSpaces(a, b), std::strcmp(sa, sb) == 0) << "'" << a << "' '" << b << "'";
    }
}

}  // namespace
