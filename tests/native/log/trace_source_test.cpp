// Each traced file's source name, read from the sources themselves: the
// six units the trace format names keep their names (support filters
// traces by them), and every other traced file names its own path. A new
// traced file that names the wrong source fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "support/source_tree.h"

namespace {

// The files that trace under a unit's name, with the unit's threshold
// (the table in log/trace_log.h).
struct Unit {
  const char *source;
  unsigned threshold;
};
const std::map<std::string, Unit> unitFiles = {
    {"update/sf_link.cpp", {"src\\sf_link", 4}},
    {"update/sf_library.cpp", {"src\\sf_library", 4}},
    {"serial/winserial.cpp", {"src\\winserial", 4}},
    {"serial/winserial_discovery.cpp", {"src\\winserial", 4}},
    {"at/at.cpp", {"src\\at", 4}},
    {"device_open/device_open.cpp", {"src\\devices", 3}},
    {"app/sf_util.cpp", {"src\\sf_util", 2}},
};

// "..\\..\\..\\src\\app\\worker" for "app/worker.cpp", as the build of the
// trace's format gives a path.
std::string OwnSource(std::string relative) {
  relative = relative.substr(0, relative.rfind('.'));
  for (char &c : relative)
    if (c == '/') c = '\\';
  return "src\\" + relative;
}

// The C string literal's text: each "\\" one backslash.
std::string Unescape(const std::string &literal) { return std::regex_replace(literal, std::regex(R"(\\\\)"), "\\"); }

TEST(TraceSource, EachTracedFileNamesItsPathOrItsUnit) {
  const std::filesystem::path root = SourceTreePath("src");
  ASSERT_TRUE(std::filesystem::is_directory(root)) << root;
  const std::regex sourceLine(R"re(static const char traceSource\[\] = "([^"]*)";)re");
  const std::regex thresholdLine(R"(static const unsigned traceThreshold = (\d+);)");
  std::map<std::string, bool> unitSeen;
  int traced = 0;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = std::filesystem::relative(entry.path(), root).generic_string();
    const std::string text = ReadBytes(entry.path().string());
    std::smatch source;
    if (!std::regex_search(text, source, sourceLine)) {
      // The trace's own header names it for its callers; any other file
      // names it only in the one form this test reads.
      EXPECT_TRUE(relative == "log/trace_log.h" || text.find("traceSource") == std::string::npos) << relative;
      continue;
    }
    SCOPED_TRACE(relative);
    traced++;
    std::smatch threshold;
    ASSERT_TRUE(std::regex_search(text, threshold, thresholdLine)) << "a traced file has its threshold";
    auto unit = unitFiles.find(relative);
    const std::string expected = unit != unitFiles.end() ? unit->second.source : OwnSource(relative);
    EXPECT_EQ(Unescape(source[1].str()), "..\\..\\..\\" + expected);
    if (unit == unitFiles.end()) continue;
    unitSeen[relative] = true;
    EXPECT_EQ(std::stoul(threshold[1].str()), unit->second.threshold);
  }
  EXPECT_GT(traced, (int)unitFiles.size()) << "the walk found the traced files";
  for (const auto &unit : unitFiles) EXPECT_TRUE(unitSeen[unit.first]) << unit.first << " traces under its unit's name";
}

}  // namespace
