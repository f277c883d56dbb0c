// Command-line splitting and option scanning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cmdline.h"

namespace {

std::vector<std::string> Split(const std::string &line) {
  std::vector<char> text(line.begin(), line.end());
  text.push_back('\0');
  char *entries[COMMAND_LINE_ENTRIES] = {};
  int count = SplitCommandLine(text.data(), entries);
  std::vector<std::string> result;
  for (int i = 0; i < count; i++) result.push_back(entries[i]);
  return result;
}

struct SplitRow {
  const char *name;
  std::string line;
  std::vector<std::string> entries;
};

TEST(SplitCommandLine, FollowsTheBlankAndQuoteRules) {
  const SplitRow rows[] = {
      {"empty", "", {"Quillon.exe"}},
      {"blanks only", "    ", {"Quillon.exe"}},
      {"options and file", "-t COM3 pkg.bin", {"Quillon.exe", "-t", "COM3", "pkg.bin"}},
      {"quoted path keeps its blanks", "\"C:\\My Files\\pkg.bin\" -q",
       {"Quillon.exe", "C:\\My Files\\pkg.bin", "-q"}},
      {"tab is not a separator", "-q\t-f", {"Quillon.exe", "-q\t-f"}},
      {"unbalanced quote runs to the end", "\"abc def", {"Quillon.exe", "abc def"}},
      {"empty quotes skip to the next quote", "\"\" x", {"Quillon.exe", " x"}},
      {"quote inside a token stays", "a\"b c", {"Quillon.exe", "a\"b", "c"}},
      {"many blanks between", "a     b", {"Quillon.exe", "a", "b"}},
  };
  for (const SplitRow &row : rows) EXPECT_EQ(Split(row.line), row.entries) << row.name;
}

TEST(SplitCommandLine, KeepsAtMostNineteenTokens) {
  std::string line;
  for (int i = 0; i < 40; i++) line += "t" + std::to_string(i) + " ";
  std::vector<std::string> entries = Split(line);
  ASSERT_EQ(entries.size(), 20u);
  EXPECT_EQ(entries[1], "t0");
  EXPECT_EQ(entries[19], "t18");
}

TEST(SplitCommandLine, TakesAVeryLongTokenWhole) {
  std::string token(5000, 'x');
  std::vector<std::string> entries = Split("-t " + token);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2], token);
}

// One scan of a whole entry list, as the entry point runs it.
struct Scan {
  std::string results;  // option letters, '?' and '.' for -1
  std::vector<std::string> arguments;
  int stopIndex;
};

Scan ScanAll(std::vector<std::string> words) {
  std::vector<std::vector<char>> storage;
  std::vector<char *> entries;
  words.insert(words.begin(), "Quillon.exe");
  for (const std::string &w : words) {
    storage.emplace_back(w.begin(), w.end());
    storage.back().push_back('\0');
  }
  for (auto &s : storage) entries.push_back(s.data());
  Scan scan{"", {}, 0};
  optionIndex = 0;
  for (int guard = 0; guard < 100; guard++) {
    int option = ParseOption((int)entries.size(), entries.data(), "ht:qf");
    scan.arguments.push_back(optionArgument ? optionArgument : "(none)");
    if (option == -1) {
      scan.results += '.';
      break;
    }
    scan.results += (char)option;
  }
  scan.stopIndex = optionIndex;
  return scan;
}

struct ParseRow {
  const char *name;
  std::vector<std::string> words;
  std::string results;
  std::string lastArgument;  // argument of the last call
  int stopIndex;
};

TEST(ParseOption, ScansLikeTheInstallersExpect) {
  const ParseRow rows[] = {
      {"nothing", {}, ".", "(none)", 1},
      {"group of letters", {"-qf"}, "qf.", "(none)", 2},
      {"attached port", {"-tCOM3"}, "t.", "(none)", 2},
      {"detached port then file", {"-t", "COM3", "pkg.bin"}, "t.", "pkg.bin", 3},
      {"port as last entry is missing", {"-t"}, "?.", "(none)", 2},
      {"unknown letter", {"-x"}, "?.", "(none)", 2},
      {"colon in a group", {"-q:"}, "q?.", "(none)", 2},
      {"lone dash is positional", {"-", "-q"}, ".", "-", 1},
      {"double dash ends options", {"--", "-q"}, ".", "-q", 2},
      {"double dash at the end", {"-q", "--"}, "q.", "(none)", 3},
      {"file then option", {"pkg.bin", "-q"}, ".", "pkg.bin", 1},
      {"group ending in t takes next entry", {"-qt", "COM1", "x"}, "qt.", "x", 3},
      {"triple dash is a group", {"---"}, "??.", "(none)", 2},
      {"non-ascii letter", {"-\xe9"}, "?.", "(none)", 2},
  };
  for (const ParseRow &row : rows) {
    Scan scan = ScanAll(row.words);
    EXPECT_EQ(scan.results, row.results) << row.name;
    EXPECT_EQ(scan.arguments.back(), row.lastArgument) << row.name;
    EXPECT_EQ(scan.stopIndex, row.stopIndex) << row.name;
  }
}

TEST(ParseOption, GivesTheArgumentOfT) {
  Scan attached = ScanAll({"-tCOM3"});
  EXPECT_EQ(attached.arguments[0], "COM3");
  Scan detached = ScanAll({"-q", "-t", "SIMULATOR"});
  EXPECT_EQ(detached.arguments[1], "SIMULATOR");
  Scan grouped = ScanAll({"-ftCOM9"});
  EXPECT_EQ(grouped.results, "ft.");
  EXPECT_EQ(grouped.arguments[1], "COM9");
}

TEST(ParseOption, RestartsWhenTheIndexIsReset) {
  // A scan abandoned inside a group must not leak into the next one.
  std::vector<char> a = {'-', 'q', 'f', '\0'};
  char program[] = "Quillon.exe";
  char *entries[] = {program, a.data()};
  optionIndex = 0;
  EXPECT_EQ(ParseOption(2, entries, "ht:qf"), 'q');
  optionIndex = 0;
  EXPECT_EQ(ParseOption(2, entries, "ht:qf"), 'q');
}

}  // namespace
