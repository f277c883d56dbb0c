// Package files: loaded whole and closed before the module hears anything,
// or refused with their code and nothing sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "support/module_port_fixture.h"
#include "support/sf_progress_record.h"
#include "support/temp_files.h"
#include "support/trace_lines.h"
#include "support/update_peer.h"
#include "update/sf_library.h"
#include "update/sf_link.h"
#include "update/sf_package_file.h"

namespace {

// The stdio operations, watched: what was called, how many writes the port
// had seen when the file was closed, and a file that shrinks right after
// its length was taken.
struct FileWatch {
  std::vector<std::string> calls;
  int writesAtClose = -1;
  std::string shrinkPath;
  uintmax_t shrinkTo = 0;
  int64_t claimedLength = -2;  // -2: the real length
};
FileWatch watch;

void *WatchedOpen(const char *path) {
  watch.calls.push_back("open");
  return sfStdioFile.open(path);
}

int64_t WatchedLength(void *file) {
  watch.calls.push_back("length");
  int64_t length = sfStdioFile.length(file);
  if (!watch.shrinkPath.empty()) {
    std::error_code error;
    std::filesystem::resize_file(watch.shrinkPath, watch.shrinkTo, error);
    EXPECT_FALSE(error) << error.message();
  }
  return watch.claimedLength == -2 ? length : watch.claimedLength;
}

size_t WatchedRead(void *file, void *buffer, size_t count) {
  watch.calls.push_back("read " + std::to_string(count));
  return sfStdioFile.read(file, buffer, count);
}

void WatchedClose(void *file) {
  watch.calls.push_back("close");
  watch.writesAtClose = FakeCommCount("WriteFile");
  sfStdioFile.close(file);
}

const SFFileOps watchedFile = {WatchedOpen, WatchedLength, WatchedRead, WatchedClose};

class PackageFileTest : public ModulePortTest {
 protected:
  void SetUp() override {
    ModulePortTest::SetUp();
    watch = FileWatch();
    progressCalls.clear();
    fakeDebugLines.clear();
    SFProtocolVersion = 0;
    peer = PlayUpdatePeer(*port);
  }

  std::string WriteFile(const std::string &name, const std::string &bytes) {
    std::string path = folder.File(name);
    FILE *file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
      std::fclose(file);
    }
    return path;
  }

  int Send(const std::string &path) {
    return SFLibSendAssignmentFileFrom(&device, path.c_str(), RecordProgress, &watchedFile);
  }

  TempFolder folder;
  std::shared_ptr<UpdatePeer> peer;
};

TEST_F(PackageFileTest, SendsTheWholeFileAfterClosingIt) {
  const std::string package = TestPackage(2 * 8192 + 77);
  const std::string path = WriteFile("package.bin", package);
  peer->packageLength = (int64_t)package.size();
  EXPECT_EQ(Send(path), 0);
  EXPECT_EQ(peer->payload, package);
  EXPECT_EQ(watch.calls, (std::vector<std::string>{"open", "length", "read 16461", "close"}));
  EXPECT_EQ(watch.writesAtClose, 0) << "the file is closed before the first byte goes out";
  EXPECT_EQ(progressCalls.front(), ProgressCall{4});
  EXPECT_EQ(progressCalls.back(), (ProgressCall{7, true, 16461, 16461}));

  // The product's own entry reads through stdio.
  SFProtocolVersion = 0;
  peer = PlayUpdatePeer(*port);
  peer->packageLength = (int64_t)package.size();
  EXPECT_EQ(SFLibSendAssignmentFile(&device, path.c_str(), nullptr), 0);
  EXPECT_EQ(peer->payload, package);
}

TEST_F(PackageFileTest, AMissingFileGivesTenAfterStageFourOnly) {
  EXPECT_EQ(Send(folder.File("no-such-package.bin")), 10);
  EXPECT_EQ(progressCalls, std::vector<ProgressCall>{ProgressCall{4}});
  EXPECT_EQ(watch.calls, std::vector<std::string>{"open"});
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_TRUE(fakeDebugLines.empty()) << "a missing file has no trace line";

  EXPECT_EQ(SFLibSendAssignmentFile(&device, nullptr, RecordProgress), 10);
  EXPECT_TRUE(fakeComm.calls.empty());
}

// An empty file is a package of length 0: no chunk, but the final reply
// is still awaited, and a module that says nothing gives 18.
TEST_F(PackageFileTest, AnEmptyFileIsSentAsAnEmptyPackage) {
  const std::string path = WriteFile("empty.bin", "");
  EXPECT_EQ(Send(path), 18);
  EXPECT_EQ(watch.calls, (std::vector<std::string>{"open", "length", "read 0", "close"}));
  EXPECT_TRUE(peer->updateMode);
  EXPECT_TRUE(peer->headers.empty());
  EXPECT_EQ(progressCalls, (std::vector<ProgressCall>{{4}, {0}, {1}, {2}, {7}}));
}

struct RefusedRow {
  const char *name;
  uintmax_t size;          // the file on disk
  int64_t claimedLength;   // what the length query says; -2 the truth
  uintmax_t shrinkTo;      // after the length query; the size itself for none
  int result;
  std::vector<std::string> calls;
};

TEST_F(PackageFileTest, RefusesAFileItCannotHoldAndSendsNothing) {
  const uintmax_t above = (uintmax_t)SFLIB_MAX_FILE_LENGTH + 1;
  const RefusedRow rows[] = {
      {"a file that shrinks before the read", 3 * 8192, -2, 8192, 11, {"open", "length", "read 24576", "close"}},
      {"a file that cannot tell its length", 100, -1, 100, 11, {"open", "length", "close"}},
      {"one byte longer than a length can count with its buffer", above, -2, above, 12, {"open", "length", "close"}},
      // Cut to 32 bits, this length would read as 16 bytes.
      {"a length beyond 32 bits", (uintmax_t)1 << 32 | 16, -2, (uintmax_t)1 << 32 | 16, 12,
       {"open", "length", "close"}},
  };
  for (const RefusedRow &row : rows) {
    SCOPED_TRACE(row.name);
    watch = FileWatch();
    progressCalls.clear();
    fakeComm.calls.clear();
    fakeDebugLines.clear();
    // Sparse where the file system allows: the large rows cost no disk.
    const std::string path = WriteFile("package.bin", "");
    std::error_code error;
    std::filesystem::resize_file(path, row.size, error);
    ASSERT_FALSE(error) << error.message();
    watch.claimedLength = row.claimedLength;
    if (row.shrinkTo != row.size) {
      watch.shrinkPath = path;
      watch.shrinkTo = row.shrinkTo;
    }
    EXPECT_EQ(Send(path), row.result);
    EXPECT_EQ(watch.calls, row.calls);
    EXPECT_EQ(progressCalls, std::vector<ProgressCall>{ProgressCall{4}});
    EXPECT_TRUE(fakeComm.calls.empty()) << "nothing reaches the module";
    // A file too large to hold fails as an allocation would; one that
    // cannot be read whole is reported by its code only.
    EXPECT_EQ(Traced("SF_Library: Alloc buffer failed"), row.result == 12);
  }
}

TEST_F(PackageFileTest, ADirectoryIsNoPackage) {
  int result = SFLibSendAssignmentFile(&device, folder.Path().c_str(), RecordProgress);
  EXPECT_NE(result, 0);
  EXPECT_TRUE(fakeComm.calls.empty());
}

// The third of three chunks refused with result code 3: progress came
// after the first and the second only.
TEST_F(PackageFileTest, AFileRejectedAtItsThirdChunkGivesSeventeen) {
  const std::string path = WriteFile("package.bin", TestPackage(3 * 8192));
  peer->chunkReply = [](int chunk, const std::string &header) {
    std::string reply = UpdatePeer::Accept(header);
    if (chunk == 3) reply[15] = 3;
    return chunk == 3 ? reply + "\r\nERROR\r\n" : reply;
  };
  EXPECT_EQ(Send(path), 17);
  EXPECT_EQ(progressCalls, (std::vector<ProgressCall>{
                               {4}, {0}, {1}, {2}, {7}, {7, true, 8192, 24576}, {7, true, 16384, 24576}}));
  EXPECT_EQ(peer->headers.size(), 3u);
  EXPECT_TRUE(Traced("SF_Library: Received NACK"));
}

TEST_F(PackageFileTest, PassesOnTheAssignmentsOwnCodes) {
  const std::string path = WriteFile("package.bin", TestPackage(10));
  EXPECT_EQ(SFLibSendAssignmentFile(nullptr, path.c_str(), nullptr), 3);

  peer->replies["ATE0"] = "\r\nERROR\r\n";
  EXPECT_EQ(Send(path), 5);
  EXPECT_TRUE(peer->headers.empty());
}

}  // namespace
