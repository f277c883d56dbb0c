// The rules table: built into its fixed 204-cell rows by the compiler from
// the readable rule list in data/, so the program holds constant data only.
#include "version_control/rules.h"

const char VersionListEnd[] = "0";

namespace {

// One list as the data file writes it: entries up to the first absent
// one. 99 slots, so a list that would leave no cell for its terminator
// does not compile.
typedef const char *RuleList[VC_LIST_CELLS - 1];

struct RuleSource {
  const char *targetVersion;
  const char *infoText;
  const char *hwProductNumber;
  RuleList hwRevisions;
  RuleList fromVersions;
};

constexpr RuleSource ruleSources[] = {
#include "version_rules.def"
};

constexpr int ruleCount = (int)(sizeof ruleSources / sizeof ruleSources[0]);
static_assert(ruleCount + 1 == VC_TABLE_ROWS, "the table holds 136 rules and its terminator row");

constexpr char swProductNumber[] = "QSW 402 7716/1";
constexpr char empty[] = "";

constexpr void FillList(const char **cells, const RuleList &list) {
  int n = 0;
  for (; n < VC_LIST_CELLS - 1 && list[n] != nullptr; n++) cells[n] = list[n];
  cells[n] = VersionListEnd;
}

struct BuiltTable {
  VersionRule row[VC_TABLE_ROWS];
};

constexpr BuiltTable BuildTable() {
  BuiltTable table{};
  for (int r = 0; r < VC_TABLE_ROWS; r++)
    for (int c = 0; c < VC_ROW_CELLS; c++) table.row[r].cell[c] = empty;
  for (int r = 0; r < ruleCount; r++) {
    const RuleSource &source = ruleSources[r];
    const char **cells = table.row[r].cell;
    cells[VC_CELL_SW_PRODUCT] = swProductNumber;
    cells[VC_CELL_TARGET] = source.targetVersion;
    cells[VC_CELL_INFO] = source.infoText;
    cells[VC_CELL_HW_PRODUCT] = source.hwProductNumber;
    FillList(cells + VC_CELL_REVISIONS, source.hwRevisions);
    FillList(cells + VC_CELL_FROM, source.fromVersions);
  }
  table.row[ruleCount].cell[VC_CELL_SW_PRODUCT] = VersionListEnd;
  return table;
}

constexpr BuiltTable builtTable = BuildTable();

}  // namespace

const VersionRule *const VersionControlTable = builtTable.row;

int VersionControlRowCount() { return VC_TABLE_ROWS; }

const char *VersionControlCell(int row, int cell) {
  if (row < 0 || row >= VC_TABLE_ROWS || cell < 0 || cell >= VC_ROW_CELLS) return empty;
  return VersionControlTable[row].cell[cell];
}
