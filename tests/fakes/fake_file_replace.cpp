// File replacement on the test's real files: rename(), which replaces on POSIX.
#include "fakes/fake_file_replace.h"

#include <cstdio>

#include "os/file_replace.h"

FakeFileReplace fakeFileReplace;

void FakeFileReplaceReset() { fakeFileReplace = FakeFileReplace{}; }

int OsReplaceFile(const char *from, const char *to) {
  fakeFileReplace.calls.push_back({from != nullptr ? from : "", to != nullptr ? to : ""});
  if (fakeFileReplace.fail || from == nullptr || to == nullptr) return 0;
  return std::rename(from, to) == 0 ? 1 : 0;
}
