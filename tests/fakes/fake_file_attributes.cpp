// Files that exist only in a test's table.
#include "fakes/fake_file_attributes.h"

FakeFileAttributes fakeFileAttributes;

void FakeFileAttributesReset() { fakeFileAttributes = FakeFileAttributes{}; }

uint32_t OsGetFileAttributes(const char *path) {
  std::string wanted = path != nullptr ? path : "";
  fakeFileAttributes.queries.push_back(wanted);
  auto found = fakeFileAttributes.files.find(wanted);
  return found == fakeFileAttributes.files.end() ? OS_INVALID_FILE_ATTRIBUTES : found->second;
}
