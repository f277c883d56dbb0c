// Identification: reading "label. value" lines out of the module's version
// replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "version_control.h"

namespace {

TEST(ExtractField, TakesTheValueAfterTheFirstLabel) {
  struct {
    const char *name, *text, *label, *value;  // value nullptr: field left as it was
  } const rows[] = {
      {"simulator model", "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n", "Model", "SIMULATOR"},
      {"simulator version", "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n", "Software Version", "R1A013"},
      {"label missing", "Model. SIMULATOR\r\nOK\r\n", "Revision", nullptr},
      {"no full stop and space", "Model: SIMULATOR\r\nOK\r\n", "Model", nullptr},
      {"no CR LF: the rest of the text", "Revision. R1E/11", "Revision", "R1E/11"},
      {"suffix left for the judge", "Revision. R1E/11\r\nOK\r\n", "Revision", "R1E/11"},
      {"nothing trimmed", "Build Date.  Jan 5 2009 \r\n", "Build Date", " Jan 5 2009 "},
      {"IMEI keeps its spaces", "IMEI Data. 0044 0170 1234 567\r\n", "IMEI Data", "0044 0170 1234 567"},
      {"empty value", "Model. \r\nOK\r\n", "Model", ""},
      {"a lone LF is part of the value", "Model. a\nb\r\n", "Model", "a\nb"},
      {"first occurrence, even inside a word", "SubModel. X\r\nModel. Y\r\n", "Model", "X"},
      {"the first \". \" after the label, on a later line", "Model\r\nName. Q\r\n", "Model", "Q"},
      {"a \". \" before the label does not count", "A. b\r\nModel. M\r\n", "Model", "M"},
      {"product number", "Product Number. QHW 552 08/101\r\n", "Product Number", "QHW 552 08/101"},
  };
  for (const auto &row : rows) {
    char field[64] = "before";
    int found = ExtractField(row.text, row.label, field, sizeof field);
    EXPECT_EQ(found, row.value != nullptr) << row.name;
    EXPECT_STREQ(field, row.value ? row.value : "before") << row.name;
  }
}

TEST(ExtractField, CutsTheValueToTheField) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  EXPECT_EQ(ExtractField("Model. ABCDEFGHIJ\r\n", "Model", field, 4), 1);
  EXPECT_STREQ(field, "ABC");
  EXPECT_EQ(field[4], 'x');
  EXPECT_EQ(ExtractField("Model. ABC", "Model", field, 0), 0);
  EXPECT_EQ(field[0], 'A');
}

TEST(ModuleInfoReset, SaysNoModuleUntilOneAnswers) {
  ModuleInfo info;
  std::memset(&info, 'x', sizeof info);
  ModuleInfoReset(&info);
  EXPECT_STREQ(info.model, "No module found");
  for (const char *field : {info.productNumber, info.revision, info.imei, info.softwareVersion, info.buildDate})
    EXPECT_STREQ(field, "");
}

}  // namespace
