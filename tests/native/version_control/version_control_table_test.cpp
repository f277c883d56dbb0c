// The rules table: its fixed structure, its keys, and the R1D06 rules cell
// for cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "version_control/rules.h"

namespace {

typedef std::vector<std::string> Texts;

const int ruleCount = VC_TABLE_ROWS - 1;

Texts Split(const std::string &words) {
  Texts out;
  size_t at = 0;
  while (at < words.size()) {
    size_t end = words.find(' ', at);
    if (end == std::string::npos) end = words.size();
    if (end > at) out.push_back(words.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// The entries of one list, up to its "0"; fails the test when the list
// has no terminator inside its own 100 cells.
Texts List(int row, int firstCell) {
  Texts entries;
  for (int i = 0; i < VC_LIST_CELLS; i++) {
    std::string cell = VersionControlCell(row, firstCell + i);
    if (cell == "0") return entries;
    entries.push_back(cell);
  }
  ADD_FAILURE() << "row " << row << " cell " << firstCell << ": no terminator";
  return entries;
}

std::string Target(int row) { return VersionControlCell(row, VC_CELL_TARGET); }
std::string Product(int row) { return VersionControlCell(row, VC_CELL_HW_PRODUCT); }
std::string Suffix(int row) { return Product(row).substr(std::string("QHW 552 08").size()); }

TEST(VersionControlTable, HasFixedRowsWithTerminatedLists) {
  ASSERT_EQ(VersionControlRowCount(), 137);
  size_t largestRevisions = 0, largestFrom = 0;
  for (int row = 0; row < ruleCount; row++) {
    for (int cell = 0; cell < VC_ROW_CELLS; cell++)
      ASSERT_NE(VersionControlTable[row].cell[cell], nullptr) << "row " << row << " cell " << cell;
    EXPECT_STREQ(VersionControlCell(row, VC_CELL_SW_PRODUCT), "QSW 402 7716/1") << "row " << row;
    EXPECT_EQ(Product(row).rfind("QHW 552 08/", 0), 0u) << "row " << row;
    for (int first : {VC_CELL_REVISIONS, VC_CELL_FROM}) {
      Texts entries = List(row, first);
      EXPECT_FALSE(entries.empty()) << "row " << row;
      EXPECT_LE(entries.size(), 99u) << "row " << row;
      for (int i = (int)entries.size() + 1; i < VC_LIST_CELLS; i++)
        EXPECT_STREQ(VersionControlCell(row, first + i), "") << "row " << row << " after the end";
    }
    largestRevisions = std::max(largestRevisions, List(row, VC_CELL_REVISIONS).size());
    largestFrom = std::max(largestFrom, List(row, VC_CELL_FROM).size());
  }
  EXPECT_EQ(largestRevisions, 15u);
  EXPECT_EQ(largestFrom, 25u);
  // Only the first cell ends the table; the rest of that row is empty.
  EXPECT_STREQ(VersionControlCell(ruleCount, VC_CELL_SW_PRODUCT), "0");
  for (int cell = 1; cell < VC_ROW_CELLS; cell++) EXPECT_STREQ(VersionControlCell(ruleCount, cell), "");
}

TEST(VersionControlTable, HoldsTheRuleKeysInOrder) {
  const char *const r1d06Variants = "/01 /02 /021 /101 /102 /103 /104 /107 /201 /202 /40 /401";
  const std::pair<const char *, const char *> groups[] = {
      {"R1A034", "/01 /101 /102 /103 /104 /106 /201 /202 /40 /401"},
      {"R1B002", "/01 /101 /201"},
      {"R1B003", "/101 /201"},
      {"R1C03", "/01 /02 /101 /102 /103 /104 /106 /201 /202 /40 /401"},
      {"T1C03", "/01 /104"},
      {"R1B/1", "/01 /02 /101 /102 /103 /104 /106 /107 /201 /202 /40 /401"},
      {"T1B/1", "/01 /104"},
      {"R1B/3", "/01 /02 /021 /101 /102 /103 /104 /201 /202 /40 /401"},
      {"R1B/4", "/01 /02 /021 /101 /102 /103 /104 /201 /202 /40 /401"},
      {"R1D05", r1d06Variants},
      {"R1D06", r1d06Variants},
      {"R1E01", r1d06Variants},
      {"R2A05", r1d06Variants},
      {"R2A06", r1d06Variants},
      {"R2A07", r1d06Variants},
  };
  std::vector<std::string> expected, actual;
  for (const auto &group : groups)
    for (const std::string &suffix : Split(group.second)) expected.push_back(std::string(group.first) + " " + suffix);
  for (int row = 0; row < ruleCount; row++) actual.push_back(Target(row) + " " + Suffix(row));
  EXPECT_EQ(actual, expected);

  std::set<std::pair<std::string, std::string>> keys;
  for (int row = 0; row < ruleCount; row++)
    EXPECT_TRUE(keys.insert({Target(row), Product(row)}).second) << "duplicate rule at row " << row;
  for (int row = 1; row < ruleCount; row++) {
    if (Target(row) != Target(row - 1)) continue;
    EXPECT_LT(Suffix(row - 1), Suffix(row)) << "row " << row;
  }
}

TEST(VersionControlTable, MarksOnlyTheR1A034RulesWith177) {
  for (int row = 0; row < ruleCount; row++)
    EXPECT_STREQ(VersionControlCell(row, VC_CELL_INFO), Target(row) == "R1A034" ? "177" : "N/A") << "row " << row;
}

// The versions a rule upgrades from, as the release history and the
// variant's first version dictate.
Texts ExpectedFrom(const std::string &target, const std::string &suffix) {
  const Texts main = Split(
      "R1A027 R1A028 R1A029 R1A031 R1A032 R1A034 R1B002 R1B003 R1C02 R1C03 R1B/1 R1B/3 "
      "R1D01 R1D02 R1D03 R1D04 R1D05 R1D06 R2A01 R2A02 R2A03 R2A04 R2A05 R2A06 R2A07");
  if (target == "R1B/1" && suffix == "/107") return Split("R1A034 R1B003 R1B/1");
  Texts history;
  if (target[0] == 'T') {
    const Texts t = Split("T1A034 T1C03 T1B/1");
    history.assign(t.begin(), std::find(t.begin(), t.end(), target) + 1);
  } else {
    // A side release branches off after its parent and is in no other list.
    const char *parent = target == "R1B/4" ? "R1B/3" : target == "R1E01" ? "R1D06" : nullptr;
    const std::string last = parent ? parent : target;
    history.assign(main.begin(), std::find(main.begin(), main.end(), last) + 1);
    if (parent) history.push_back(target);
  }
  std::string start = history.front();
  if (target[0] != 'T') {
    if (suffix == "/02") start = "R1A034";
    if (suffix == "/021") start = "R1B/3";
    if (suffix == "/107" || suffix == "/401") start = "R1B/1";
  }
  auto first = std::find(history.begin(), history.end(), start);
  if (first == history.end()) return Texts{target};  // the variant begins after this target
  return Texts(first, history.end());
}

TEST(VersionControlTable, FromVersionsAreRunsOfTheHistoryEndingAtTheTarget) {
  for (int row = 0; row < ruleCount; row++) {
    Texts from = List(row, VC_CELL_FROM);
    ASSERT_FALSE(from.empty());
    EXPECT_EQ(from.back(), Target(row)) << "row " << row;
    EXPECT_EQ(from, ExpectedFrom(Target(row), Suffix(row))) << Target(row) << " " << Suffix(row);
  }
}

TEST(VersionControlTable, HardwareRevisionsFollowTheVariantsR1D06Rule) {
  for (int row = 0; row < ruleCount; row++) {
    std::string suffix = Suffix(row) == "/106" ? "/102" : Suffix(row);
    int model = -1;
    for (int r = 0; r < ruleCount; r++)
      if (Target(r) == "R1D06" && Suffix(r) == suffix) model = r;
    ASSERT_GE(model, 0) << "row " << row;
    Texts expected = List(model, VC_CELL_REVISIONS);
    if (Target(row) == "R1A034" && suffix == "/104") {
      expected.resize(std::find(expected.begin(), expected.end(), "R1H/1") - expected.begin() + 1);
      expected.push_back("");  // the one empty entry of the table
    }
    EXPECT_EQ(List(row, VC_CELL_REVISIONS), expected) << Target(row) << " " << Suffix(row);
  }
}

TEST(VersionControlTable, R1D06RulesAreExactlyAsListed) {
  const std::string fromStart =
      "R1A027 R1A028 R1A029 R1A031 R1A032 R1A034 R1B002 R1B003 R1C02 R1C03 R1B/1 R1B/3 "
      "R1D01 R1D02 R1D03 R1D04 R1D05 R1D06";
  const std::string from02 =
      "R1A034 R1B002 R1B003 R1C02 R1C03 R1B/1 R1B/3 R1D01 R1D02 R1D03 R1D04 R1D05 R1D06";
  const std::string from021 = "R1B/3 R1D01 R1D02 R1D03 R1D04 R1D05 R1D06";
  const std::string from107 = "R1B/1 R1B/3 R1D01 R1D02 R1D03 R1D04 R1D05 R1D06";
  struct Rule {
    int number;  // counted from 1, as the rule list is
    const char *product;
    const char *revisions;
    std::string from;
  } const rules[] = {
      {77, "QHW 552 08/01", "R1D R1E R1E/1 R1F R1F/1 R1G R1G/1 R1H R1H/1 R1J R1J/1 R1K R1K/1 R1L R1L/1", fromStart},
      {78, "QHW 552 08/02", "R1D R1E/1 R1F/1 R1G/1 R1H/1 R1J/1 R1K/1 R1L/1", from02},
      {79, "QHW 552 08/021", "R1A/1 R1B R1B/1 R1C R1C/1 R1D R1D/1", from021},
      {80, "QHW 552 08/101", "R1D R1E/1 R1F/1 R1G R1G/1 R1H R1H/1 R1J R1J/1", fromStart},
      {81, "QHW 552 08/102", "R1D R1E/1 R1F/1 R1G/1 R1H/1 R1J/1 R1K/1", fromStart},
      {82, "QHW 552 08/103", "R1D R1E/1 R1F/1 R1G/1 R1H/1 R1J/1 R1K/1", fromStart},
      {83, "QHW 552 08/104", "R1D R1E/1 R1F/1 R1G/1 R1H/1 R1J/1 R1K/1 R1L/1", fromStart},
      {84, "QHW 552 08/107", "R1A/1 R1B/1 R1C/1", from107},
      {85, "QHW 552 08/201", "R1D R1E/1 R1F/1 R1G R1G/1 R1H R1H/1 R1J R1J/1", fromStart},
      {86, "QHW 552 08/202", "R1D R1E/1 R1F/1 R1G/1 R1H/1 R1J/1 R1K/1", fromStart},
      {87, "QHW 552 08/40", "R1D R1D/1 R1E R1E/1 R1F R1F/1 R1G R1G/1 R1H R1H/1", fromStart},
      {88, "QHW 552 08/401", "R1D R1D/1 R1E/1 R1F/1 R1G/1 R1H/1 R1J/1", from107},
  };
  for (const Rule &rule : rules) {
    int row = rule.number - 1;
    EXPECT_EQ(Target(row), "R1D06") << rule.number;
    EXPECT_STREQ(VersionControlCell(row, VC_CELL_INFO), "N/A") << rule.number;
    EXPECT_EQ(Product(row), rule.product) << rule.number;
    EXPECT_EQ(List(row, VC_CELL_REVISIONS), Split(rule.revisions)) << rule.number;
    EXPECT_EQ(List(row, VC_CELL_FROM), Split(rule.from)) << rule.number;
  }
  int r1d06Rules = 0;
  for (int row = 0; row < ruleCount; row++) r1d06Rules += Target(row) == "R1D06";
  EXPECT_EQ(r1d06Rules, 12);
}

TEST(VersionControlTable, CellsOutsideTheTableAreEmpty) {
  const std::pair<int, int> outside[] = {{-1, 0}, {VC_TABLE_ROWS, 0}, {0, -1}, {0, VC_ROW_CELLS}};
  for (const auto &at : outside)
    EXPECT_STREQ(VersionControlCell(at.first, at.second), "") << at.first << "," << at.second;
}

}  // namespace
