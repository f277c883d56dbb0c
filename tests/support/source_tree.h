// The project's own files, for the tests that hold the code and its
// documents to one list: the build gives the tests the source tree's root.
#pragma once
#include <string>

#include "support/temp_files.h"

#ifndef QUILLON_SOURCE_DIR
#error "the build names the source tree's root in QUILLON_SOURCE_DIR"
#endif

// `relative` with forward slashes, from the root ("README.md", "src/at").
inline std::string SourceTreePath(const std::string &relative) {
  return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

// The whole file, "" when it cannot be read.
inline std::string SourceTreeFile(const std::string &relative) { return ReadBytes(SourceTreePath(relative)); }
