// File writing and replacement on the test's real files: stdio, and
// rename(), which replaces on POSIX.
#include "fakes/fake_file_replace.h"

#include <cstdio>

#include "os/file_replace.h"

FakeFileReplace fakeFileReplace;

void FakeFileReplaceReset() { fakeFileReplace = FakeFileReplace{}; }

struct OsFileObject {
  FILE *stream;
  std::string path;
};

OsFile OsFileCreate(const char *path) {
  fakeFileReplace.order.push_back(std::string("create ") + path);
  FILE *stream = std::fopen(path, "wb");
  return stream == nullptr ? nullptr : new OsFileObject{stream, path};
}

int OsFileWrite(OsFile file, const void *bytes, size_t length) {
  fakeFileReplace.order.push_back("write " + file->path);
  if (fakeFileReplace.failWrite) return 0;
  return std::fwrite(bytes, 1, length, file->stream) == length ? 1 : 0;
}

int OsFileFlush(OsFile file) {
  fakeFileReplace.order.push_back("flush " + file->path);
  if (fakeFileReplace.failFlush) return 0;
  return std::fflush(file->stream) == 0 ? 1 : 0;
}

int OsFileClose(OsFile file) {
  fakeFileReplace.order.push_back("close " + file->path);
  int closed = std::fclose(file->stream) == 0;
  delete file;
  return closed ? 1 : 0;
}

int OsReplaceFile(const char *from, const char *to) {
  fakeFileReplace.calls.push_back({from != nullptr ? from : "", to != nullptr ? to : ""});
  fakeFileReplace.order.push_back(std::string("replace ") + (from ? from : "") + " " + (to ? to : ""));
  if (fakeFileReplace.fail || from == nullptr || to == nullptr) return 0;
  return std::rename(from, to) == 0 ? 1 : 0;
}
