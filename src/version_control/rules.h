// Version control's rules table: which packages may go onto which boards
// and firmware, one row of fixed cells per rule, compiled in from data/.
#pragma once

enum {
  VC_TABLE_ROWS = 137,  // 136 rules and the terminator row
  VC_ROW_CELLS = 204,
  VC_LIST_CELLS = 100,  // per list: at most 99 entries and the "0" terminator
  VC_CELL_SW_PRODUCT = 0,
  VC_CELL_TARGET = 1,
  VC_CELL_INFO = 2,
  VC_CELL_HW_PRODUCT = 3,
  VC_CELL_REVISIONS = 4,
  VC_CELL_FROM = VC_CELL_REVISIONS + VC_LIST_CELLS,
  // The scan starts at the first rule: a rule its owner wrote down is a
  // rule that counts.
  VC_FIRST_RULE_ROW = 0,
};

// Ends both the lists and the table (in the first cell of the last row).
// Never the empty text: an empty cell before it is an ordinary entry.
extern const char VersionListEnd[];  // "0"

// One row of 204 cells; cells that hold nothing hold "".
struct VersionRule {
  const char *cell[VC_ROW_CELLS];
};

extern const VersionRule *const VersionControlTable;  // VC_TABLE_ROWS rows

int VersionControlRowCount();
// "" outside the table.
const char *VersionControlCell(int row, int cell);
