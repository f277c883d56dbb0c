// Standard output as a test's string.
#include "fakes/fake_std_output.h"

#include "os/std_output.h"

FakeStdOutput fakeStdOutput;

void FakeStdOutputReset() { fakeStdOutput = FakeStdOutput{}; }

int OsStdOutputWrite(const void *bytes, uint32_t length) {
  fakeStdOutput.writes++;
  if (!fakeStdOutput.present) return 0;
  if (fakeStdOutput.failWrites) return -1;
  fakeStdOutput.bytes.append((const char *)bytes, length);
  return 1;
}
