// Every fake back to its start.
#include "fakes/fake_all.h"

#include "device/simulator.h"
#include "fakes/fake_child_process.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_file_attributes.h"
#include "fakes/fake_file_replace.h"
#include "fakes/fake_power.h"
#include "fakes/fake_process.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_side_by_side.h"
#include "fakes/fake_std_output.h"
#include "fakes/fake_sync.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"

void ResetAllFakes() {
  FakeClockReset();
  FakeUiReset();
  FakeCommReset();
  FakeSyncReset();
  FakeDevEnumReset();
  FakeRegistryReset();
  FakeDialogReset();
  FakeThreadReset();
  FakePowerReset();
  FakeChildProcessReset();
  FakeFileAttributesReset();
  FakeFileReplaceReset();
  FakeStdOutputReset();
  FakeSideBySideReset();
  SimulatorReset();
  fakeProcessId = 4242;
  fakeDebugLines.clear();
}
