// What the fuzz targets found, kept as cases of their own so that a fix
// stays fixed. Each names the target and the rule it broke.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/module_port_fixture.h"
#include "update/sf_link.h"

namespace {

using FuzzFindingsTest = ModulePortTest;

struct CutVersionRow {
  const char *name;
  size_t padding;  // characters between "{state 0, " and "version 0x"
  int result;
  uint32_t version;  // the destination starts at 77
};

// sf_version_fuzz: the query's line is kept to 199 characters, and a line
// that long was cut wherever it was; a number cut in its digits read as a
// smaller one, "0x00000020" as "0x0000", choosing the wrong header form.
TEST_F(FuzzFindingsTest, AVersionCutByTheLineLimitIsNoVersion) {
  const std::string head = "*QESFUD: {state 0, ";  // 19 characters
  const std::string number = "version 0x00000020";  // 18 characters
  const CutVersionRow rows[] = {
      {"cut in the digits", 199 - 19 - 18 + 4, 4, 77},
      {"cut right after the last digit", 199 - 19 - 18, 4, 77},
      {"the closing brace is the last kept character", 199 - 19 - 18 - 1, 0, 32},
      {"a long line ending well after the number", 100, 0, 32},
  };
  for (const CutVersionRow &row : rows) {
    SCOPED_TRACE(row.name);
    std::string line = head + std::string(row.padding, 'x') + number + "}";
    AnswerAll("\r\n" + line + "\r\n\r\nOK\r\n");
    uint32_t version = 77;
    EXPECT_EQ(SFQueryVersion(&device, &version, 60000), row.result);
    EXPECT_EQ(version, row.version);
  }
}

}  // namespace
