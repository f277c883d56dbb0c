// The trace lines the fake debugger caught, taken apart for the tests that check them.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_debug_output.h"

struct TraceEntry {
  std::string source;    // the traced file's module name, e.g. "..\\..\\..\\src\\devices"
  std::string function;
  std::string level;
  std::string message;   // without the line end the trace adds
};

// "source:line function: hh:mm:ss  (tick) LEVEL: message\n". A line that
// does not read so is a failure: it would slip past every filter below.
inline std::vector<TraceEntry> Traces() {
  std::vector<TraceEntry> entries;
  for (const std::string &line : fakeDebugLines) {
    size_t space = line.find(' ');
    size_t number = line.rfind(':', space);
    size_t colon = line.find(": ", space);
    size_t tick = line.find(") ", colon);
    size_t level = line.find(": ", tick);
    if (space == std::string::npos || number == std::string::npos || colon == std::string::npos ||
        tick == std::string::npos || level == std::string::npos) {
      ADD_FAILURE() << "unexpected trace line " << line;
      continue;
    }
    entries.push_back(TraceEntry{line.substr(0, number), line.substr(space + 1, colon - space - 1),
                                 line.substr(tick + 2, level - tick - 2),
                                 line.substr(level + 2, line.size() - level - 3)});
  }
  return entries;
}

// The messages of one level, in order.
inline std::vector<std::string> Messages(const std::string &level) {
  std::vector<std::string> messages;
  for (const TraceEntry &entry : Traces())
    if (entry.level == level) messages.push_back(entry.message);
  return messages;
}

// The function named by the first trace line whose message holds `text`;
// "" when none does.
inline std::string FunctionOf(const std::string &text) {
  for (const TraceEntry &entry : Traces())
    if (entry.message.find(text) != std::string::npos) return entry.function;
  return "";
}

// Whether any trace line holds `text`, wherever in the line.
inline bool Traced(const std::string &text) {
  for (const std::string &line : fakeDebugLines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}
