// File writing and replacement on the test's real files, recorded in the
// order of the calls, and made to fail on request.
//
//   FakeFileReplaceReset();
//   fakeFileReplace.fail = true;   // the next moves fail, files untouched
//   EXPECT_EQ(fakeFileReplace.calls[0].to, "C:\\FWInventory.json");
//   EXPECT_EQ(fakeFileReplace.order[2], "flush C:\\FWInventory.json.4242.tmp");
#pragma once
#include <string>
#include <vector>

struct FakeFileReplaceCall {
  std::string from;
  std::string to;
};

struct FakeFileReplace {
  bool fail = false;       // moves fail
  bool failWrite = false;  // writes fail, having written nothing
  bool failFlush = false;
  std::vector<FakeFileReplaceCall> calls;  // the moves
  // Every call, as "create PATH", "write PATH", "flush PATH", "close PATH"
  // or "replace FROM TO".
  std::vector<std::string> order;
};

extern FakeFileReplace fakeFileReplace;
void FakeFileReplaceReset();
