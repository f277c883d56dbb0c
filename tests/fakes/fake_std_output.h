// Standard output as a test's string: present or absent, and a write that can be made to fail.
//
//   FakeStdOutputReset();              // a process with standard output
//   fakeStdOutput.present = false;     // ...or one started without any
//   fakeStdOutput.failWrites = true;   // ...or a pipe whose reader went away
//   EXPECT_EQ(fakeStdOutput.bytes, "{...}");
#pragma once
#include <string>

struct FakeStdOutput {
  bool present = true;
  bool failWrites = false;
  std::string bytes;  // everything written, in order
  int writes = 0;
};

extern FakeStdOutput fakeStdOutput;
void FakeStdOutputReset();
