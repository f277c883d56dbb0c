// Scratch folders for tests that write real files, and reading those files back.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// A fresh folder, removed with everything in it when the holder goes. A
// test that writes a Windows-style name (natively "C:\FWLog.txt" is a plain
// file name) enters it, so that name lands here and not where the tests run.
class TempFolder {
 public:
  TempFolder() {
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "quillon-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty()) << "no scratch folder";
  }
  ~TempFolder() {
    if (!previous_.empty()) {
      EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  const std::string &Path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

  // Makes the folder the working directory until the holder goes.
  bool Enter() {
    if (path_.empty()) return false;
    std::error_code error;
    std::filesystem::path here = std::filesystem::current_path(error);
    if (error || chdir(path_.c_str()) != 0) return false;
    if (previous_.empty()) previous_ = here.string();
    return true;
  }

 private:
  std::string path_;
  std::string previous_;
};

// The file's bytes exactly as on disk; "" when it does not exist.
inline std::string ReadBytes(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  std::string bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}
