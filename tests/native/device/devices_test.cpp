// The kind-dispatched device operations: the lock's time-out and the
// absent device.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "device/devices.h"
#include "fakes/fake_sync.h"
#include "os/sync.h"

namespace {

struct LockTimeoutRow {
  const char *name;
  int timeoutMs;
  int asked;  // what the mutex wait is given
};

TEST(DeviceLockTimeout, IsNoLimitForZeroOrLess) {
  FakeSyncReset();
  SerialDevice device = {DEVICE_KIND_SIMULATOR, 500, 0, OsMutexCreate()};
  const LockTimeoutRow rows[] = {
      {"a time-out is kept", 4000, 4000},
      {"the shortest one too", 1, 1},
      {"0 is no limit, not a single try", 0, OS_MUTEX_NO_LIMIT},
      {"-1", -1, OS_MUTEX_NO_LIMIT},
      {"any other negative", -5, OS_MUTEX_NO_LIMIT},
  };
  for (const LockTimeoutRow &row : rows) {
    fakeSync.lastTimeout = 12345;
    EXPECT_EQ(DeviceLock(&device, row.timeoutMs), OS_WAIT_OBJECT_0) << row.name;
    EXPECT_EQ(fakeSync.lastTimeout, row.asked) << row.name;
    EXPECT_EQ(DeviceUnlock(&device), 1) << row.name;
  }
  OsMutexDestroy(device.mutex);
}

TEST(AbsentDevice, IsLegalEverywhere) {
  FakeSyncReset();
  char buffer[4] = "abc";
  EXPECT_EQ(DeviceRead(nullptr, buffer, 1, 1000), -1);
  EXPECT_EQ(DeviceRead(nullptr, buffer, 1, -1), -1);
  EXPECT_EQ(DeviceWrite(nullptr, buffer, 1), -1);
  EXPECT_EQ(DeviceGetKind(nullptr), DEVICE_KIND_NONE);
  EXPECT_EQ(DeviceLock(nullptr, 1000), -1);
  EXPECT_EQ(DeviceUnlock(nullptr), -1);
  DeviceGetDriverVersion(nullptr, buffer, (int)sizeof buffer);
  EXPECT_STREQ(buffer, "abc");
  DeviceClose(nullptr);
  EXPECT_EQ(fakeSync.waits + fakeSync.releases, 0);
}

TEST(AbsentDevice, KindsWithoutOperationsRefuseThem) {
  FakeSyncReset();
  const DeviceKind kinds[] = {DEVICE_KIND_NONE, (DeviceKind)3, (DeviceKind)-1};
  for (DeviceKind kind : kinds) {
    SerialDevice *device = (SerialDevice *)std::malloc(sizeof(SerialDevice));
    *device = SerialDevice{kind, 1, 0, OsMutexCreate()};
    char byte;
    EXPECT_EQ(DeviceRead(device, &byte, 1, 1000), -1) << kind;
    EXPECT_EQ(DeviceWrite(device, "A", 1), -1) << kind;
    EXPECT_EQ(DeviceGetKind(device), kind) << kind;
    DeviceClose(device);  // frees it without a port operation
  }
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
}

}  // namespace
