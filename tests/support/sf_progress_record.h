// What the update protocol reported through its progress callback, and
// packages whose bytes tell their place, for the protocol's tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/sf_progress.h"

struct ProgressCall {
  unsigned stage = 0;
  bool hasPair = false;
  int32_t acknowledged = 0;
  int32_t total = 0;

  bool operator==(const ProgressCall &other) const {
    return stage == other.stage && hasPair == other.hasPair && acknowledged == other.acknowledged &&
           total == other.total;
  }
};

inline void PrintTo(const ProgressCall &call, std::ostream *out) {
  *out << "{" << call.stage;
  if (call.hasPair) *out << ", " << call.acknowledged << "/" << call.total;
  *out << "}";
}

inline std::vector<ProgressCall> progressCalls;

// The pair is valid only during the call: its values are copied here.
inline void RecordProgress(unsigned stage, const SFProgressPair *pair) {
  ProgressCall call;
  call.stage = stage;
  if (pair != nullptr) {
    call.hasPair = true;
    call.acknowledged = pair->acknowledged;
    call.total = pair->total;
  }
  progressCalls.push_back(call);
}

// No two chunks alike and no byte where another belongs, so a chunk sent
// twice, out of order or from the wrong offset shows.
inline std::string TestPackage(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; i++) bytes[i] = (char)(i * 31 + i / 8192 * 7 + 13);
  return bytes;
}
