// Files that exist only in a test's table; every query is recorded.
//
//   FakeFileAttributesReset();
//   fakeFileAttributes.files["C:\\Tools\\a.exe"] = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
//
// A path not in the table cannot be read (OS_INVALID_FILE_ATTRIBUTES).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "os/file_attributes.h"

struct FakeFileAttributes {
  std::map<std::string, uint32_t> files;
  std::vector<std::string> queries;
};

extern FakeFileAttributes fakeFileAttributes;
void FakeFileAttributesReset();
