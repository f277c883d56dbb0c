// Fuzz target for judging a module against the upgrade rules: revision
// normalising, space-blind comparing and the scan over the rules, held
// against a plain restatement of the rules on std::string.
//
// The input is lines: product number, revision, software version, IMEI,
// target version, then rules of a small table of its own, one per line as
// "target|product|revision,revision,...|from,from,...". Byte 0 chooses
// whether the module is judged against that table or the compiled-in one,
// and the capacity given to StripSpaces.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "version_control/identify.h"
#include "version_control/judge.h"
#include "version_control/rules.h"

namespace {

const char target[] = "judge_fuzz";
const int stripCapacities[4] = {0, 1, 9, MODULE_TEXT_SIZE};
enum { MAX_RULES = 16 };

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

std::string Stripped(const std::string &text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += c;
  return out;
}

// A field as the identification leaves it: a text of at most 3999 bytes.
void SetField(char *field, const std::string &value) {
  std::string text = value.substr(0, MODULE_TEXT_SIZE - 1);
  std::memcpy(field, text.c_str(), text.size() + 1);
}

// The suffix is judged once the spaces are gone, as the rules are read.
std::string Normalised(const std::string &revision) {
  std::string text = Stripped(revision.c_str()).substr(0, MODULE_TEXT_SIZE - 1);
  if (text.find("/10") != std::string::npos) return text.substr(0, text.size() - 3);
  if (text.find("/11") != std::string::npos) return text.substr(0, text.size() - 1);
  return text;
}

bool ListHolds(const char *const *cells, const std::string &value) {
  for (int i = 0; i < VC_LIST_CELLS && std::string(cells[i]) != VersionListEnd; i++)
    if (Stripped(cells[i]) == Stripped(value)) return true;
  return false;
}

// The verdict as the rules read: four flags over the whole scan, the
// first one missing decides.
int ExpectedVerdict(const VersionRule *rules, const std::string &targetVersion, const ModuleInfo &info) {
  bool flags[4] = {false, false, false, false};
  const std::string wantedTarget = Stripped(targetVersion), wantedProduct = Stripped(info.productNumber);
  for (int row = VC_FIRST_RULE_ROW; std::string(rules[row].cell[VC_CELL_SW_PRODUCT]) != VersionListEnd; row++) {
    const char *const *cells = rules[row].cell;
    if (Stripped(cells[VC_CELL_TARGET]) != wantedTarget) continue;
    flags[0] = true;
    if (Stripped(cells[VC_CELL_HW_PRODUCT]) != wantedProduct) continue;
    flags[1] = true;
    if (ListHolds(cells + VC_CELL_REVISIONS, Normalised(info.revision))) flags[2] = true;
    if (ListHolds(cells + VC_CELL_FROM, info.softwareVersion)) flags[3] = true;
  }
  for (int i = 0; i < 4; i++)
    if (!flags[i]) return i + 1;
  return VC_ADMITTED;
}

// A table of the input's rules; every text it points to lives in `texts`,
// which never moves a text it holds.
struct FuzzTable {
  std::vector<VersionRule> rows;
  std::deque<std::string> texts;
};

const char *Keep(FuzzTable &table, const std::string &text) {
  table.texts.push_back(text);
  return table.texts.back().c_str();
}

void FillList(FuzzTable &table, VersionRule &row, int first, const std::string &list) {
  std::vector<std::string> entries = Split(list, ',');
  int n = 0;
  for (; n < (int)entries.size() && n < VC_LIST_CELLS; n++) row.cell[first + n] = Keep(table, entries[(size_t)n]);
  // A list that fills all its cells has no terminator: the walk must stop
  // at the list's end on its own.
  if (n < VC_LIST_CELLS) row.cell[first + n] = VersionListEnd;
}

void BuildTable(const std::vector<std::string> &lines, FuzzTable &table) {
  size_t ruleCount = lines.size() > 5 ? lines.size() - 5 : 0;
  if (ruleCount > MAX_RULES) ruleCount = MAX_RULES;
  table.rows.assign(ruleCount + 1, VersionRule{});
  for (VersionRule &row : table.rows)
    for (const char *&cell : row.cell) cell = "";
  for (size_t r = 0; r < ruleCount; r++) {
    VersionRule &row = table.rows[r];
    std::vector<std::string> parts = Split(lines[5 + r], '|');
    parts.resize(4);
    row.cell[VC_CELL_SW_PRODUCT] = "QSW 402 7716/1";
    row.cell[VC_CELL_TARGET] = Keep(table, parts[0]);
    row.cell[VC_CELL_HW_PRODUCT] = Keep(table, parts[1]);
    FillList(table, row, VC_CELL_REVISIONS, parts[2]);
    FillList(table, row, VC_CELL_FROM, parts[3]);
  }
  table.rows[ruleCount].cell[VC_CELL_SW_PRODUCT] = VersionListEnd;
}

void CheckTexts(const std::vector<std::string> &lines, int stripCapacity) {
  const std::string &a = lines[0];
  const std::string &b = lines.size() > 1 ? lines[1] : lines[0];
  FuzzCheck(SameWithoutSpaces(a.c_str(), b.c_str()) == (Stripped(a.c_str()) == Stripped(b.c_str())), target,
            "SameWithoutSpaces disagrees with removing the spaces");

  std::vector<char> out((size_t)(stripCapacity > 0 ? stripCapacity : 1), 'Z');
  const std::vector<char> before = out;
  std::string whole = Stripped(a.c_str());
  int length = StripSpaces(a.c_str(), out.data(), stripCapacity);
  FuzzCheck(length == (int)whole.size(), target, "StripSpaces length is not the whole stripped length");
  if (stripCapacity <= 0) {
    FuzzCheck(out == before, target, "StripSpaces wrote into no room");
  } else {
    FuzzCheck(whole.compare(0, (size_t)stripCapacity - 1, out.data()) == 0 &&
                  std::strlen(out.data()) == std::min(whole.size(), (size_t)stripCapacity - 1),
              target, "StripSpaces output is not the cut stripped text");
  }

  std::string imei = lines.size() > 3 ? lines[3] : a;
  bool forced = Stripped(imei.c_str()).compare(0, 8, "00440170") == 0 && Stripped(imei.c_str()).size() >= 8;
  FuzzCheck(ImeiHasForcePrefix(imei.c_str()) == (forced ? 1 : 0), target, "force prefix misjudged");

  char normalised[MODULE_TEXT_SIZE];
  std::string revision = lines.size() > 1 ? lines[1] : a;
  NormaliseRevision(revision.c_str(), normalised);
  FuzzCheck(Normalised(revision.c_str()) == normalised, target, "revision normalised wrongly");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  bool ownTable = data[0] & 1;
  int stripCapacity = stripCapacities[(data[0] >> 1) & 3];
  // Texts end at their first NUL, as every text the module gives does.
  std::string text((const char *)data + 1, size - 1);
  std::vector<std::string> lines = Split(text.c_str(), '\n');
  CheckTexts(lines, stripCapacity);

  lines.resize(lines.size() < 5 ? 5 : lines.size());
  ModuleInfo info;
  std::memset(&info, 0, sizeof info);
  SetField(info.productNumber, lines[0]);
  SetField(info.revision, lines[1]);
  SetField(info.softwareVersion, lines[2]);
  SetField(info.imei, lines[3]);
  const std::string &targetVersion = lines[4];

  FuzzTable table;
  const VersionRule *rules = VersionControlTable;
  if (ownTable) {
    BuildTable(lines, table);
    rules = table.rows.data();
  }
  VersionVerdict verdict = JudgeModule(rules, VC_FIRST_RULE_ROW, targetVersion.c_str(), &info);
  FuzzCheck(verdict == ExpectedVerdict(rules, targetVersion, info), target, "verdict differs from the rules");
  FuzzCheck((verdict == VC_ADMITTED) == (VersionVerdictMessage(verdict) == nullptr), target,
            "a refusal without its message");

  // Spaces never matter to a product number or a version.
  std::string spaced = " " + std::string(info.productNumber) + " ";
  if (spaced.size() < MODULE_TEXT_SIZE) {
    SetField(info.productNumber, spaced);
    FuzzCheck(JudgeModule(rules, VC_FIRST_RULE_ROW, (" " + targetVersion).c_str(), &info) == verdict, target,
              "spaces changed the verdict");
  }
  return 0;
}
