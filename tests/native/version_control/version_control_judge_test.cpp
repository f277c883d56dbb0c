// Who may be upgraded: the judging of an identified module against the
// rules, the forced-upgrade IMEI and the refusal texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "version_control/identify.h"
#include "version_control/judge.h"
#include "version_control/rules.h"

namespace {

ModuleInfo Module(const char *product, const char *revision, const char *software,
                  const char *imei = "") {
  ModuleInfo info;
  ModuleInfoReset(&info);
  std::snprintf(info.model, sizeof info.model, "%s", "QM7");
  std::snprintf(info.productNumber, sizeof info.productNumber, "%s", product);
  std::snprintf(info.revision, sizeof info.revision, "%s", revision);
  std::snprintf(info.softwareVersion, sizeof info.softwareVersion, "%s", software);
  std::snprintf(info.imei, sizeof info.imei, "%s", imei);
  return info;
}

struct JudgeRow {
  const char *name;
  const char *product;
  const char *revision;
  const char *software;
  int verdict;
};

// Modules judged for this build's target, R1D06.
const JudgeRow judgeRows[] = {
    {"listed module, revision and firmware", "QHW 552 08/101", "R1D", "R1D05", VC_ADMITTED},
    {"re-installing the target itself", "QHW 552 08/101", "R1D", "R1D06", VC_ADMITTED},
    {"variant /106 has no R1D06 rule", "QHW 552 08/106", "R1D", "R1D05", VC_MODULE_UNKNOWN},
    {"no module: empty product number", "", "", "", VC_MODULE_UNKNOWN},
    {"product number without its spaces", "QHW55208/101", "R1D", "R1D05", VC_ADMITTED},
    {"product number with other spacing", " QHW 5 52 08/1 01 ", "R1D", "R1D05", VC_ADMITTED},
    {"a tab is not a space", "QHW\t552 08/101", "R1D", "R1D05", VC_MODULE_UNKNOWN},
    {"product numbers are not prefixes", "QHW 552 08/10", "R1D", "R1D05", VC_MODULE_UNKNOWN},
    {"R1G/10 is judged as R1G", "QHW 552 08/101", "R1G/10", "R1D05", VC_ADMITTED},
    {"R1G/10 with a trailing blank is still R1G", "QHW 552 08/101", "R1G/10 ", "R1D05", VC_ADMITTED},
    {"R1G/10 is not R1G/1", "QHW 552 08/102", "R1G/10", "R1D05", VC_HARDWARE_REFUSED},
    {"R1J/11 is judged as R1J/1", "QHW 552 08/102", "R1J/11", "R1D05", VC_ADMITTED},
    {"/40 takes no R1J revision", "QHW 552 08/40", "R1J/11", "R1D05", VC_HARDWARE_REFUSED},
    {"R1D/1 stays as it is", "QHW 552 08/021", "R1D/1", "R1D05", VC_ADMITTED},
    {"R1D/1 is not R1D", "QHW 552 08/101", "R1D/1", "R1D05", VC_HARDWARE_REFUSED},
    {"empty revision matches no R1D06 entry", "QHW 552 08/101", "", "R1D05", VC_HARDWARE_REFUSED},
    {"/021 running R1B/1 is too old", "QHW 552 08/021", "R1D", "R1B/1", VC_FIRMWARE_REFUSED},
    {"/021 running R1B/3 may upgrade", "QHW 552 08/021", "R1D", "R1B/3", VC_ADMITTED},
    {"hardware and firmware both wrong: hardware first", "QHW 552 08/021", "R1Z", "R1A027",
     VC_HARDWARE_REFUSED},
    {"a side release is in no other list", "QHW 552 08/01", "R1D", "R1B/4", VC_FIRMWARE_REFUSED},
    {"a later version is not an older one", "QHW 552 08/01", "R1D", "R2A07", VC_FIRMWARE_REFUSED},
    {"versions compare whole, not as prefixes", "QHW 552 08/01", "R1D", "R1D0", VC_FIRMWARE_REFUSED},
    {"versions compare case-sensitively", "QHW 552 08/01", "R1D", "r1d05", VC_FIRMWARE_REFUSED},
    {"spaces inside a version are removed", "QHW 552 08/01", "R 1D", "R1D 05 ", VC_ADMITTED},
    {"empty firmware matches nothing", "QHW 552 08/01", "R1D", "", VC_FIRMWARE_REFUSED},
};

TEST(JudgeModule, DecidesEveryListedCase) {
  for (const JudgeRow &row : judgeRows) {
    ModuleInfo info = Module(row.product, row.revision, row.software);
    EXPECT_EQ(JudgeModule(VersionControlTable, VC_FIRST_RULE_ROW, "R1D06", &info), row.verdict) << row.name;
  }
}

// The scan may begin at the first or the second row: for R1D06 modules
// the outcome is the same, since only R1D06 rules can admit them.
TEST(JudgeModule, StartingAtTheSecondRowChangesNothingForR1D06) {
  for (const JudgeRow &row : judgeRows) {
    ModuleInfo info = Module(row.product, row.revision, row.software);
    EXPECT_EQ(JudgeModule(VersionControlTable, 1, "R1D06", &info),
              JudgeModule(VersionControlTable, 0, "R1D06", &info))
        << row.name;
  }
}

// Where the start does matter: the first rule is R1A034 for /01, and a
// scan that skipped it would not know that module for that target.
TEST(JudgeModule, TheFirstRuleCountsForItsOwnTarget) {
  ModuleInfo info = Module("QHW 552 08/01", "R1D", "R1A031");
  EXPECT_EQ(JudgeModule(VersionControlTable, VC_FIRST_RULE_ROW, "R1A034", &info), VC_ADMITTED);
  EXPECT_EQ(JudgeModule(VersionControlTable, 1, "R1A034", &info), VC_MODULE_UNKNOWN);
}

TEST(JudgeModule, AnUnknownTargetIsAnIllegalPackage) {
  ModuleInfo info = Module("QHW 552 08/101", "R1D", "R1D05");
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R9Z99", &info), VC_PACKAGE_UNKNOWN);
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R1D0", &info), VC_PACKAGE_UNKNOWN);
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R1D 06", &info), VC_ADMITTED);
}

TEST(JudgeModule, TheEmptyRevisionEntryMatchesOnlyAnEmptyRevision) {
  // The R1A034 rule for /104 ends its revisions with an empty entry.
  ModuleInfo empty = Module("QHW 552 08/104", "", "R1A034");
  ModuleInfo spaces = Module("QHW 552 08/104", "  ", "R1A034");
  ModuleInfo other = Module("QHW 552 08/104", "R1J/1", "R1A034");
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R1A034", &empty), VC_ADMITTED);
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R1A034", &spaces), VC_ADMITTED);
  EXPECT_EQ(JudgeModule(VersionControlTable, 0, "R1A034", &other), VC_HARDWARE_REFUSED);
}

// A small table that shows how the scans end and that flags persist.
struct FixtureTable {
  VersionRule rows[5];
  FixtureTable() {
    for (VersionRule &row : rows)
      for (const char *&cell : row.cell) cell = "";
  }
  void Rule(int r, const char *target, const char *product, std::initializer_list<const char *> revisions,
            std::initializer_list<const char *> from) {
    rows[r].cell[VC_CELL_SW_PRODUCT] = "QSW 402 7716/1";
    rows[r].cell[VC_CELL_TARGET] = target;
    rows[r].cell[VC_CELL_HW_PRODUCT] = product;
    int i = VC_CELL_REVISIONS;
    for (const char *entry : revisions) rows[r].cell[i++] = entry;
    i = VC_CELL_FROM;
    for (const char *entry : from) rows[r].cell[i++] = entry;
  }
  void End(int r) { rows[r].cell[VC_CELL_SW_PRODUCT] = "0"; }
};

TEST(JudgeModule, ListsEndAtTheZeroCellNotAtAnEmptyOne) {
  FixtureTable table;
  table.Rule(0, "T", "P", {"", "R1X", "0", "R1Y"}, {"", "V1", "0", "V2"});
  table.End(1);
  struct {
    const char *name, *revision, *software;
    int verdict;
  } const rows[] = {
      {"entries behind an empty cell are found", "R1X", "V1", VC_ADMITTED},
      {"the empty cell is an entry", "", "", VC_ADMITTED},
      {"nothing behind the terminator counts (hardware)", "R1Y", "V1", VC_HARDWARE_REFUSED},
      {"nothing behind the terminator counts (firmware)", "R1X", "V2", VC_FIRMWARE_REFUSED},
  };
  for (const auto &row : rows) {
    ModuleInfo info = Module("P", row.revision, row.software);
    EXPECT_EQ(JudgeModule(table.rows, 0, "T", &info), row.verdict) << row.name;
  }
}

TEST(JudgeModule, TheScanEndsAtTheTerminatorRowNotAtAShortRule) {
  FixtureTable table;
  table.Rule(0, "T", "P", {"0"}, {"0"});          // lists with no entries at all
  table.Rule(1, "T", "P", {"R1X", "0"}, {"V1", "0"});
  table.End(2);
  table.Rule(3, "T", "Q", {"R1X", "0"}, {"V1", "0"});  // behind the end: never read
  ModuleInfo p = Module("P", "R1X", "V1");
  ModuleInfo q = Module("Q", "R1X", "V1");
  EXPECT_EQ(JudgeModule(table.rows, 0, "T", &p), VC_ADMITTED);
  EXPECT_EQ(JudgeModule(table.rows, 0, "T", &q), VC_MODULE_UNKNOWN);
}

TEST(JudgeModule, FlagsFromEarlierRulesStay) {
  FixtureTable table;
  table.Rule(0, "T", "P", {"R1X", "0"}, {"0"});
  table.Rule(1, "T", "P", {"0"}, {"V1", "0"});
  table.End(2);
  ModuleInfo info = Module("P", "R1X", "V1");
  EXPECT_EQ(JudgeModule(table.rows, 0, "T", &info), VC_ADMITTED);
}

// No rule of the real table lists R1J without R1J/1, so only a small one
// can show which of the two R1J/11 is taken for.
TEST(JudgeModule, JudgesR1J11AsR1J1NotAsR1J) {
  FixtureTable table;
  table.Rule(0, "T", "LISTS R1J", {"R1J", "0"}, {"V1", "0"});
  table.Rule(1, "T", "LISTS R1J/1", {"R1J/1", "0"}, {"V1", "0"});
  table.End(2);
  struct {
    const char *name, *product, *revision;
    int verdict;
  } const rows[] = {
      {"R1J/11 against R1J", "LISTS R1J", "R1J/11", VC_HARDWARE_REFUSED},
      {"R1J/11 against R1J/1", "LISTS R1J/1", "R1J/11", VC_ADMITTED},
      {"R1J itself against R1J", "LISTS R1J", "R1J", VC_ADMITTED},
  };
  for (const auto &row : rows) {
    ModuleInfo info = Module(row.product, row.revision, "V1");
    EXPECT_EQ(JudgeModule(table.rows, 0, "T", &info), row.verdict) << row.name;
  }
}

TEST(NormaliseRevision, CutsTheSuffixesOnceTheSpacesAreGone) {
  struct {
    const char *revision, *normalised;
  } const rows[] = {
      {"R1G/10", "R1G"},   {"R1J/11", "R1J/1"}, {"R1E/11", "R1E/1"}, {"R1D/1", "R1D/1"},
      {"R1D", "R1D"},      {"", ""},            {"/10", ""},         {"/11", "/1"},
      // "/10" wins over "/11", and both are found anywhere in the text.
      {"R1/10/11", "R1/10"}, {"R1/11X", "R1/11"},
      // Searched once the spaces are gone: the digits are cut, not a blank.
      {"R1D/10 ", "R1D"}, {"R1E/11 ", "R1E/1"}, {" R 1G / 1 0", "R1G"}, {"R1D/1 0", "R1D"},
      {"  ", ""},
  };
  for (const auto &row : rows) {
    char out[MODULE_TEXT_SIZE];
    NormaliseRevision(row.revision, out);
    EXPECT_STREQ(out, row.normalised) << "'" << row.revision << "'";
  }
}

TEST(ImeiHasForcePrefix, WantsTheEightDigitsAfterSpacesGo) {
  struct {
    const char *imei;
    int forced;
  } const rows[] = {
      {"004401701234567", 1}, {"0044 0170 1234 567", 1}, {"  00440170", 1}, {"00440170", 1},
      {"0044017", 0},         {"0044 017", 0},           {"", 0},           {"10440170123", 0},
      {"00440171234567", 0},  {"0044\t0170123", 0},      {"x00440170", 0},
  };
  for (const auto &row : rows) EXPECT_EQ(ImeiHasForcePrefix(row.imei), row.forced) << "'" << row.imei << "'";
  EXPECT_EQ(ImeiHasForcePrefix(nullptr), 0);
}

TEST(VersionVerdictMessage, CarriesTheWindows1252Apostrophe) {
  const std::string apostrophe = "\x92";
  EXPECT_EQ(VersionVerdictMessage(VC_ADMITTED), nullptr);
  EXPECT_STREQ(VersionVerdictMessage(VC_PACKAGE_UNKNOWN),
               "Illegal update package version! Not supported by the version control.");
  EXPECT_EQ(std::string(VersionVerdictMessage(VC_MODULE_UNKNOWN)),
            "This update package doesn" + apostrophe + "t support the installed Mobile Broadband Module.");
  EXPECT_EQ(std::string(VersionVerdictMessage(VC_HARDWARE_REFUSED)),
            "This update package doesn" + apostrophe +
                "t support the installed Mobile Broadband Module hardware version.");
  EXPECT_EQ(std::string(VersionVerdictMessage(VC_FIRMWARE_REFUSED)),
            "This update package doesn" + apostrophe + "t support an update of the current firmware.");
  EXPECT_EQ(VersionVerdictMessage((VersionVerdict)5), nullptr);
  EXPECT_EQ(VersionVerdictMessage((VersionVerdict)-1), nullptr);
}

}  // namespace
