// The inventory's pure parts: JSON string escaping, the upgrade chain over
// a catalogue with deltas, and the last result record of an upgrade log.
#include <gtest/gtest.h>

#include <string>

#include "app/inventory/inventory.h"
#include "common/json_text.h"
#include "log/upgrade_log_read.h"
#include "support/json_value.h"

namespace {

std::string Quoted(const std::string &bytes) {
  JsonText json;
  JsonTextInit(&json);
  JsonAppendStringBytes(&json, bytes.data(), bytes.size());
  std::string text(json.bytes, json.length);
  JsonTextFree(&json);
  return text;
}

TEST(JsonTextTest, EscapesAndConvertsEveryByte) {
  struct Row {
    const char *name;
    std::string in;
    std::string out;  // the JSON text, quotes included
  } const rows[] = {
      {"plain", "R1D06", "\"R1D06\""},
      {"empty", "", "\"\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"short escapes", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {"other controls", std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"the refusal's apostrophe", "doesn\x92t", "\"doesn\xE2\x80\x99t\""},
      {"euro and the last of the high block", "\x80\x9f", "\"\xE2\x82\xAC\xC5\xB8\""},
      {"unassigned bytes keep their value", "\x81\x9d", "\"\xC2\x81\xC2\x9D\""},
      {"Latin-1 half", "\xa0\xe9\xff", "\"\xC2\xA0\xC3\xA9\xC3\xBF\""},
      {"slash stays", "QHW 552 08/101", "\"QHW 552 08/101\""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Quoted(row.in), row.out);
    JsonValue back;
    ASSERT_TRUE(ParseJson(row.out, &back));
    EXPECT_EQ(back.kind, JsonValue::String);
  }
  JsonText json;
  JsonTextInit(&json);
  JsonAppendString(&json, nullptr);
  EXPECT_EQ(std::string(json.bytes, json.length), "null");
  JsonTextFree(&json);
}

// A catalogue of deltas: the walk follows each package's target to the
// next, as the worker does after each restart.
TEST(InventoryChainTest, FollowsTheWorkersWalk) {
  static const unsigned char digest[32] = {};
  const PackageEntry deltas[] = {
      {"R1A", "R1B", nullptr, 10, digest},
      {"R1B", "R1C", nullptr, 20, digest},
      {"R1X", "R1A", nullptr, 30, digest},
  };
  const PackageEntry full[] = {{"", "R1D06", nullptr, 40, digest}};
  struct Row {
    const char *name;
    const PackageEntry *catalogue;
    int count;
    const char *version;
    std::vector<int> chain;  // catalogue indices
  } const rows[] = {
      {"two deltas", deltas, 3, "R1A", {0, 1}},
      {"the last delta", deltas, 3, "R1B", {1}},
      {"a later package leading back is not taken", deltas, 3, "R1X", {2}},
      {"no package fits", deltas, 3, "R1Q", {}},
      {"a full package fits anything", full, 1, "", {0}},
      {"no catalogue", nullptr, 0, "R1A", {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    const PackageEntry *chain[INVENTORY_CHAIN_MAX] = {};
    int length = InventoryUpgradeChain(row.catalogue, row.count, row.version, chain);
    ASSERT_EQ(length, (int)row.chain.size());
    for (int i = 0; i < length; i++) EXPECT_EQ(chain[i], &row.catalogue[row.chain[(size_t)i]]);
  }
}

TEST(UpgradeLogReadTest, FindsTheLastWellFormedResult) {
  struct Row {
    const char *name;
    std::string log;
    int found;
    int code;
    const char *text;
  } const rows[] = {
      {"none", "===FW upgrade started ===\r\r\n", 0, 0, ""},
      {"the last of two", "\r\r\nRESULT (0): Upgrade finishied succesfully\r\r\n\r\r\nRESULT (8): Timeout\r\r\n", 1, 8,
       "Timeout"},
      {"at the very start, no line end", "RESULT (2): This version is not supported", 1, 2,
       "This version is not supported"},
      {"a broken last record is passed over", "RESULT (3): Sim missing\r\nRESULT (x): y\r\n", 1, 3, "Sim missing"},
      {"not at a line start", "xRESULT (3): Sim missing\r\n", 0, 0, ""},
      {"negative code", "RESULT (-1): Unknown return code\r\n", 1, -1, "Unknown return code"},
      {"cut mid-record", "RESULT (5", 0, 0, ""},
      {"too many digits", "RESULT (12345678901): x\r\n", 0, 0, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    int code = 0;
    char text[LAST_RESULT_TEXT] = "";
    EXPECT_EQ(UpgradeLogLastResult(row.log.data(), row.log.size(), &code, text, (int)sizeof text), row.found);
    EXPECT_EQ(code, row.code);
    EXPECT_STREQ(text, row.text);
  }
  int code = 0;
  char cut[4];
  const std::string log = "RESULT (4): Pin error\r\n";
  EXPECT_EQ(UpgradeLogLastResult(log.data(), log.size(), &code, cut, (int)sizeof cut), 1);
  EXPECT_STREQ(cut, "Pin");
}

}  // namespace
