// File replacement on the test's real files, recorded, and made to fail on request.
//
//   FakeFileReplaceReset();
//   fakeFileReplace.fail = true;   // the next moves fail, files untouched
//   EXPECT_EQ(fakeFileReplace.calls[0].to, "C:\\FWInventory.json");
#pragma once
#include <string>
#include <vector>

struct FakeFileReplaceCall {
  std::string from;
  std::string to;
};

struct FakeFileReplace {
  bool fail = false;
  std::vector<FakeFileReplaceCall> calls;
};

extern FakeFileReplace fakeFileReplace;
void FakeFileReplaceReset();
