// Power and session calls without a system.
#include "fakes/fake_power.h"

#include <string>

#include "fakes/fake_dialog.h"

FakePower fakePower;

void FakePowerReset() {
  fakePower = FakePower{};
  fakePower.status = OsPowerStatus{/*acLineStatus=*/1, /*batteryFlag=*/128, /*batteryLifePercent=*/255};
}

int OsGetPowerStatus(OsPowerStatus *status) {
  fakePower.statusReads++;
  if (fakePower.statusFails) return 0;
  *status = fakePower.status;
  return 1;
}

// The reason is narrowed for the record: it is plain ASCII.
static std::string Narrow(const wchar_t *text) {
  std::string narrow;
  for (; text != nullptr && *text != 0; text++) narrow += (char)*text;
  return narrow;
}

static void Record(const char *name, OsWindow window, const std::string &text = "", int64_t a = 0) {
  fakeDialog.calls.push_back(FakeDialogCall{name, window, 0, text, a, 0});
}

uint32_t OsSetExecutionState(uint32_t flags) {
  Record("SetExecutionState", nullptr, "", flags);
  uint32_t before = fakePower.state;
  fakePower.state = flags;
  return before;
}

static int Create(OsWindow window, const wchar_t *reason) {
  Record("BlockReasonCreate", window, Narrow(reason));
  return 1;
}

static int Destroy(OsWindow window) {
  Record("BlockReasonDestroy", window);
  return 1;
}

OsBlockReasonFns OsFindBlockReasonFns() {
  Record("FindBlockReasonFns", nullptr);
  return OsBlockReasonFns{fakePower.lacksCreate ? nullptr : Create, fakePower.lacksDestroy ? nullptr : Destroy};
}
