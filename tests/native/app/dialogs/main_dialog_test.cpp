// The main dialog with a fake view, a module on a fake port and the
// virtual clock: polling, the OK sequence and its refusals, the warning,
// quiet mode and the worker's start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/dialogs/main_dialog.h"
#include "app/run_record.h"
#include "app/worker.h"
#include "device/devices.h"
#include "device/simulator.h"
#include "device_open/device_open.h"
#include "fakes/fake_all.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_process.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "os/clock.h"
#include "support/scripted_module.h"
#include "support/shared_texts.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/trace_lines.h"

namespace {

enum {
  MAIN = 104,
  PIN = 129,
  PROGRESS = 133,
  MODEL = 1005,
  HARDWARE = 1006,
  FIRMWARE = 1007,
  IMEI = 1008,
  BUILD_DATE = 1009,
  TARGET = 1010,
  PIN_EDIT = 1000,
  POLL_TIMER = 110,
};

const char serialComm[] = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char okLine[] = "QuillonDlg OK Pressed\r\r\n";
const char warningText[] =
    "This application will now update the firmware in the module.\n\n\n"
    "- Please make sure that you do not power off the laptop during the firmware update since a loss of power "
    "during the update could make the module unusable.\n"
    "- Please ensure that the laptop is running on AC plugged in power\nand NOT battery power.\n"
    "- The update procedure may take up to 15 min to complete.";

// A board the rules admit for R1D06.
std::string Identity(const std::string &product = "QHW 552 08/101", const std::string &model = "M7120x") {
  return "Model. " + model + "\r\nProduct Number. " + product +
         "\r\nRevision. R1D\r\nIMEI Data. 35 471203 015488 6\r\nSoftware Version. R1D05\r\n"
         "Build Date. Sep 21 2009\r\nOK\r\n";
}

// What the module behind COM7 answers. Texts are whole replies; "" is
// silence.
struct ModuleScript {
  std::string identity = Identity();
  bool updateStateOk = false;
  std::string pinReply = "\r\n+CPIN: READY\r\n\r\nOK\r\n";
  std::string pin = "1234";
  // Runs as each command reaches the module, on the thread that sent it.
  std::function<void(const std::string &)> onCommand;
};

std::string PinStateReply(const char *state) { return std::string("\r\n+CPIN: ") + state + "\r\n\r\nOK\r\n"; }

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

// The PIN dialog's user types each code and presses OK; then Cancel if
// the dialog is still open.
void PinUserTypes(std::vector<std::string> codes) {
  fakeDialog.users[PIN] = [codes](OsWindow dialog) {
    for (const std::string &code : codes) {
      FakeDialogType(dialog, PIN_EDIT, code);
      FakeDialogPress(dialog, OS_IDOK);
    }
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RunRecordReset(&testRun);  // a device another test left is not this one's to close
    Reset();
  }
  void TearDown() override { Release(); }
  // What a fresh test finds, the log file gone too: the one way a table's
  // rows start over.
  void Reset() {
    Release();
    if (!logPath.empty()) std::remove(logPath.c_str());
    ResetFakes();
    script = std::make_shared<ModuleScript>();
    logPath = folder.File("FWLog.txt");
    UpgradeLogOpen(logPath.c_str());
  }
  void Release() {
    // Every change of phase the dialog made was one its table allows.
    for (const std::string &line : fakeDebugLines) EXPECT_EQ(line.find("not allowed"), std::string::npos) << line;
    DeviceClose(testRun.device);
    testRun.device = nullptr;
    ResetFakes();
    UpgradeLogForget();
  }
  static void ResetFakes() {
    ResetAllFakes();
    RunRecordReset(&testRun);
  }

  // The module appears on COM7, where discovery finds it.
  void PlugModule() {
    std::shared_ptr<ModuleScript> s = script;
    module = PlayModule(FakeCommAddPort(com7), [s](const std::string &command) { return AtModeReply(*s, command); });
    FakeRegistryAddKey(serialComm).values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
  }
  static std::string AtModeReply(ModuleScript &s, const std::string &command) {
    if (s.onCommand) s.onCommand(command);
    if (command == "AT+CGMM") return "\r\nM7120x\r\n\r\nOK\r\n";
    if (command == "AT*QVERS") return s.identity;
    if (command == "AT*QESFUD?")
      return s.updateStateOk ? "\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n" : "ERROR\r\n";
    if (command == "AT+CPIN?") return s.pinReply;
    if (command.rfind("AT+CPIN=\"", 0) == 0) {
      if (command != "AT+CPIN=\"" + s.pin + "\"\r\n") return "\r\n+CME ERROR: incorrect password\r\n";
      s.pinReply = PinStateReply("READY");
      return "\r\nOK\r\n";
    }
    return "ERROR\r\n";
  }
  // The module sits in its loader, answering only "vers=1", and is open as
  // the entry leaves it. A restart takes it off the bus until the test
  // replugs it: in AT mode, or in its loader again when its firmware is
  // damaged.
  void OpenModuleInUpdateMode(bool firmwareDamaged) {
    std::shared_ptr<ModuleScript> s = script;
    auto loader = std::make_shared<bool>(true);
    module = PlayModule(FakeCommAddPort(com7), [s, loader, firmwareDamaged](const std::string &command) {
      if (command == "AT*Q2RESET") {
        *loader = firmwareDamaged;
        FakeCommVanish(com7, FAKE_VANISH_WINE);
        return std::string();
      }
      if (*loader) return std::string(command == "vers=1" ? "\r\nOK\r\n" : "\r\nERROR\r\n");
      return AtModeReply(*s, command);
    });
    FakeRegistryAddKey(serialComm).values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
    ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
    ASSERT_NE(testRun.device->deviceStatusBits & DEVICE_STATUS_UPDATE_MODE, 0u);
    module->commands.clear();
  }
  // ...and is open before the dialog starts, as the entry leaves it.
  void OpenModule() {
    PlugModule();
    ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
    module->commands.clear();
  }

  std::string Log() { return ReadBytes(logPath); }
  OsWindow Main() { return FakeDialogLast(MAIN); }
  std::string Field(int item) { return fakeDialog.windows[Main()].items[item]; }
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const FakeMessageBox &box : fakeUi.shown) boxes.push_back(box.caption + "|" + box.text);
    return boxes;
  }
  // The resources run, in order.
  std::vector<int> DialogsRun() {
    std::vector<int> run;
    for (const FakeDialogCall &call : fakeDialog.calls)
      if (call.name == "DialogRun") run.push_back(call.item);
    return run;
  }
  const FakeDialogCall *LastRunOf(int resource) {
    const FakeDialogCall *found = nullptr;
    for (const FakeDialogCall &call : fakeDialog.calls)
      if (call.name == "DialogRun" && call.item == resource) found = &call;
    return found;
  }
  int CallCount(const std::string &name) {
    int count = 0;
    for (const FakeDialogCall &call : fakeDialog.calls) count += call.name == name;
    return count;
  }
  std::vector<std::string> Commands() { return module ? module->commands : std::vector<std::string>{}; }
  int CommandCount(const std::string &command) {
    int count = 0;
    for (const std::string &sent : Commands()) count += sent == command;
    return count;
  }
  // Presses each button and lets the dialog finish what it started.
  void UserPresses(std::vector<int> ids) {
    fakeDialog.users[MAIN] = [ids](OsWindow dialog) {
      for (int id : ids) {
        FakeDialogPress(dialog, id);
        FakeDialogPump();
      }
    };
  }
  // The update worker's threads (the dialog's own threads ask the module).
  static int WorkersCreated() {
    int created = 0;
    FakeThreadOf(UpdateWorker, &created);
    return created;
  }
  static FakeThreadHistory Worker() { return FakeThreadOf(UpdateWorker); }
  TempFolder folder;
  std::string logPath;
  std::shared_ptr<ModuleScript> script;
  std::shared_ptr<ScriptedModule> module;
};

// ---- Start and polling -------------------------------------------------------

TEST_F(MainDialogTest, ShowsAModuleFoundAtOnceWithoutATimer) {
  OpenModule();
  UserPresses({OS_IDCANCEL});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(Field(MODEL), "M7120x");
  EXPECT_EQ(Field(HARDWARE), "QHW 552 08/101 R1D");
  EXPECT_EQ(Field(IMEI), "35 471203 015488 6");
  EXPECT_EQ(Field(FIRMWARE), "R1D05");
  EXPECT_EQ(Field(BUILD_DATE), "Sep 21 2009");
  EXPECT_EQ(Field(TARGET), "R1D06");
  EXPECT_EQ(fakeDialog.windows[Main()].caption.rfind("Quillon ", 0), 0u) << fakeDialog.windows[Main()].caption;
  EXPECT_EQ(CallCount("StartTimer"), 0);
  EXPECT_EQ(Commands(), std::vector<std::string>{"AT*QVERS"});
  const FakeDialogCall *run = LastRunOf(MAIN);
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->window, nullptr) << "no owner";
}

// A 400 x 300 dialog over the 1024 x 768 desktop, in whole halves.
TEST_F(MainDialogTest, CentresOverTheDesktop) {
  fakeDialog.desktop = OsRect{10, 20, 1035, 789};
  fakeDialog.dialogRect = OsRect{0, 0, 400, 301};
  UserPresses({OS_IDCANCEL});
  MainDialogRun(&testRun);
  ASSERT_EQ(CallCount("MoveWindowTo"), 1);
  for (const FakeDialogCall &call : fakeDialog.calls)
    if (call.name == "MoveWindowTo") {
      EXPECT_EQ(call.a, 10 + (1025 - 400) / 2);
      EXPECT_EQ(call.b, 20 + (769 - 301) / 2);
    }
}

TEST_F(MainDialogTest, PollsEverySecondUntilTheModuleAnswersThenStops) {
  fakeDialog.users[MAIN] = [this](OsWindow dialog) {
    EXPECT_EQ(Field(MODEL), "No module found");
    EXPECT_EQ(Field(HARDWARE), " ");
    EXPECT_EQ(fakeDialog.windows[dialog].timers, std::set<unsigned>{POLL_TIMER});
    FakeDialogFireTimer(dialog, POLL_TIMER);
    FakeDialogPump();
    EXPECT_EQ(Field(MODEL), "No module found");
    PlugModule();
    FakeDialogFireTimer(dialog, POLL_TIMER);
    EXPECT_EQ(Field(MODEL), "No module found") << "shown when the poll reports, not before";
    EXPECT_EQ(testRun.device, nullptr) << "the poll's device is handed over with its report";
    FakeDialogPump();
    EXPECT_EQ(Field(MODEL), "M7120x");
    EXPECT_EQ(Field(HARDWARE), "QHW 552 08/101 R1D");
    EXPECT_NE(testRun.device, nullptr);
    EXPECT_TRUE(fakeDialog.windows[dialog].timers.empty()) << "a module found stops the poll";
    FakeDialogFireTimer(dialog, POLL_TIMER);
    FakeDialogPump();
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  ASSERT_EQ(CallCount("StartTimer"), 1);
  for (const FakeDialogCall &call : fakeDialog.calls)
    if (call.name == "StartTimer") {
      EXPECT_EQ(call.item, POLL_TIMER);
      EXPECT_EQ(call.a, 1000);
    }
  EXPECT_EQ(Commands(), (std::vector<std::string>{"AT+CGMM", "AT*QVERS"})) << "opened once, asked once";
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1);
  EXPECT_NE(testRun.device, nullptr);
  // The first poll and two timer polls, each on a thread of its own that
  // the dialog waited for once it had reported.
  int polls = 0;
  for (const FakeThreadHistory &thread : fakeThread.history) {
    polls++;
    EXPECT_EQ(thread.waitTimeouts, std::vector<int>{-1});
    EXPECT_TRUE(thread.ranBeforeWait);
    EXPECT_TRUE(thread.closed);
  }
  EXPECT_EQ(polls, 3);
}

// A module that opens but cannot say who it is: the poll keeps asking
// that open device, and never reopens it. Each poll
// takes its two four-second queries on its own thread; the timer's ticks
// meanwhile start no second one.
TEST_F(MainDialogTest, KeepsAskingAnOpenModuleThatDoesNotIdentify) {
  FakePort &port = FakeCommAddPort(com7);
  module = PlayModule(port, ReplyFrom({{"AT+CGMM", "\r\nM7120x\r\n\r\nOK\r\n"}}, ""));
  ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
  ASSERT_EQ(testRun.device->deviceStatusBits & DEVICE_STATUS_UPDATE_MODE, 0u);
  SerialDevice *opened = testRun.device;
  module->commands.clear();
  uint32_t longestPoll = 0;
  fakeDialog.users[MAIN] = [&](OsWindow dialog) {
    for (int i = 0; i < 3; i++) {
      FakeDialogFireTimer(dialog, POLL_TIMER);
      FakeDialogFireTimer(dialog, POLL_TIMER);
      EXPECT_EQ(fakeThread.created, 2 + i) << "one poll out at a time";
      uint32_t start = fakeClock.tick;
      FakeDialogPump();
      longestPoll = std::max(longestPoll, fakeClock.tick - start);
      EXPECT_EQ(Field(MODEL), "No module found");
      EXPECT_EQ(testRun.device, opened);
    }
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1);
  EXPECT_EQ(CommandCount("AT*QVERS"), 4) << "the first poll and three timer polls";
  EXPECT_EQ(CommandCount("AT*QVER2"), 4);
  EXPECT_LE(longestPoll, 10000u);
  EXPECT_GE(longestPoll, 8000u);
}

// A module found in its update mode is restarted once and looked for
// again; one whose firmware cannot start comes back in its loader, keeps
// showing no module, and is never restarted again: each poll finds the
// loader, closes it and opens afresh, so a module that does leave its
// loader is found.
TEST_F(MainDialogTest, RestartsAModuleFoundInUpdateModeOnce) {
  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged firmware" : "intact firmware");
    Reset();
    OpenModuleInUpdateMode(damaged);
    uint32_t longestPoll = 0;
    fakeDialog.users[MAIN] = [&](OsWindow dialog) {
      EXPECT_EQ(Field(MODEL), "No module found");
      EXPECT_EQ(testRun.device, nullptr) << "closed after its restart";
      FakeDialogFireTimer(dialog, POLL_TIMER);
      FakeDialogPump();
      EXPECT_EQ(Field(MODEL), "No module found") << "still off the bus";
      FakeCommReplug(com7);
      for (int i = 0; i < 3; i++) {
        FakeDialogFireTimer(dialog, POLL_TIMER);
        uint32_t start = fakeClock.tick;
        FakeDialogPump();
        longestPoll = std::max(longestPoll, fakeClock.tick - start);
      }
      EXPECT_EQ(Field(MODEL), damaged ? "No module found" : "M7120x");
      FakeDialogPress(dialog, OS_IDCANCEL);
    };
    EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
    EXPECT_EQ(CommandCount("AT*Q2RESET"), 1);
    EXPECT_EQ(CommandCount("AT+CGMM"), damaged ? 3 : 1) << "a reopen per poll while only the loader answers";
    EXPECT_EQ(CommandCount("vers=1"), damaged ? 3 : 0);
    EXPECT_EQ(CommandCount("AT*QVERS"), damaged ? 0 : 1) << "a loader is never asked who it is";
    EXPECT_EQ(CommandCount("AT*QVER2"), 0);
    // A loader's poll is its two probes, not longer: the Cancel behind it
    // is served.
    EXPECT_LE(longestPoll, 10000u);
    EXPECT_EQ(Log(), "===FW upgrade started ===\r\r\nQuillonDlg Cancel Pressed\r\r\n");
  }
}

TEST_F(MainDialogTest, AnyCommandStopsThePollForGood) {
  fakeDialog.users[MAIN] = [this](OsWindow dialog) {
    FakeDialogPress(dialog, MODEL);  // not a button: still a command
    EXPECT_TRUE(fakeDialog.windows[dialog].timers.empty());
    EXPECT_FALSE(fakeDialog.windows[dialog].ended);
    PlugModule();
    FakeDialogFireTimer(dialog, POLL_TIMER);
    EXPECT_EQ(Field(MODEL), "No module found") << "no poll after the command";
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(CallCount("StartTimer"), 1);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(Log(), "===FW upgrade started ===\r\r\nQuillonDlg Cancel Pressed\r\r\n");
}

// ---- OK ----------------------------------------------------------------------

TEST_F(MainDialogTest, OkWithoutAModuleEndsAtOnceAfterLoggingTheHeader) {
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS) << "the entry records the code";
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(DialogsRun(), std::vector<int>{MAIN});
  const std::string log = Log();
  EXPECT_EQ(Count(log, "Time: "), 1u);
  EXPECT_EQ(Count(log, "FW version:  -> R1D06\r\r\n"), 1u);
  EXPECT_EQ(log.substr(log.size() - std::string(okLine).size()), okLine);
  EXPECT_EQ(WorkersCreated(), 0);
}

// The whole way to the worker: header and OK line, the check, the update
// state, the PIN state, the warning, the progress dialog over the main
// dialog, and the wait for the worker that the dialog resumed.
TEST_F(MainDialogTest, StartsTheWorkerBehindTheProgressDialogAndWaitsForIt) {
  OpenModule();
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  std::vector<std::string> commands = Commands();
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 4),
            (std::vector<std::string>{"AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT+CPIN?"}));
  ASSERT_FALSE(fakeUi.shown.empty());
  EXPECT_EQ(fakeUi.shown[0].caption, "Warning");
  EXPECT_EQ(fakeUi.shown[0].text, warningText);
  EXPECT_EQ(fakeUi.shown[0].style, (unsigned)(OS_MB_OKCANCEL | OS_MB_ICONWARNING));
  EXPECT_EQ(fakeUi.shown[0].owner, Main());
  std::vector<std::string> names = FakeDialogCallNames();
  auto init = std::find(names.begin(), names.end(), "InitProgressControls");
  ASSERT_NE(init, names.end());
  const FakeDialogCall *progress = LastRunOf(PROGRESS);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->window, Main()) << "owned by the main dialog";
  EXPECT_LT(init - names.begin(), progress - fakeDialog.calls.data());
  EXPECT_EQ(WorkersCreated(), 1);
  EXPECT_EQ(Worker().resumed, 1);
  EXPECT_EQ(Worker().waitTimeouts, std::vector<int>{-1});
  EXPECT_TRUE(Worker().ranBeforeWait) << "the progress dialog's loop ran the worker before the wait";
  EXPECT_TRUE(Worker().closed);
  EXPECT_EQ(testRun.worker, nullptr);
  EXPECT_EQ(Count(Log(), okLine), 1u);
  EXPECT_EQ(Count(Log(), "HW version: QHW 552 08/101 R1D\r\r\n"), 1u);
  // The first poll and the checks ran on threads the dialog had waited
  // for and closed before the worker, which has testRun.device to itself.
  ASSERT_EQ(fakeThread.history.size(), 3u);
  for (const FakeThreadHistory &thread : fakeThread.history) {
    if (thread.procedure == UpdateWorker) continue;
    EXPECT_EQ(thread.waitTimeouts, std::vector<int>{-1});
    EXPECT_TRUE(thread.closed);
    EXPECT_LT(thread.closedAt, Worker().createdAt);
  }
}

// OK's checks ask the module from a thread of their own, with OK and
// Cancel greyed out; a Cancel that still arrives (Escape, the close box)
// is refused. The dialog's texts stay as they are.
TEST_F(MainDialogTest, ChecksRunOffTheInterfaceThreadWithTheButtonsGreyedOut) {
  OpenModule();
  std::vector<std::string> seen;
  script->onCommand = [&](const std::string &command) {
    OsWindow dialog = Main();
    const std::set<int> &disabled = fakeDialog.windows[dialog].disabled;
    seen.push_back(command + (FakeThreadCurrent() != nullptr ? " off" : " on") +
                   (disabled == std::set<int>{OS_IDOK, OS_IDCANCEL} ? " greyed" : ""));
    if (command == "AT+CPIN?") {
      EXPECT_EQ(Field(MODEL), "M7120x");
      FakeDialogPress(dialog, OS_IDCANCEL);
    }
  };
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4),
            (std::vector<std::string>{"AT*QVERS off", "AT*QVERS off greyed", "AT*QESFUD? off greyed",
                                      "AT+CPIN? off greyed"}));
  EXPECT_EQ(Count(Log(), "Cancel"), 0u);
  // The target and the first poll's five fields; the caption once.
  int texts = 0, captions = 0;
  for (const FakeDialogCall &call : fakeDialog.calls) {
    texts += call.window == Main() && call.name == "SetItemText";
    captions += call.window == Main() && call.name == "SetCaption";
  }
  EXPECT_EQ(texts, 6);
  EXPECT_EQ(captions, 1);
}

// While a poll is out OK is greyed and does nothing, even when its command
// arrives anyway (Enter, a command sent to the dialog): only the poll's
// report can tell whether there is a module to check. Cancel (the close
// box too) waits for the report and ends the dialog; the wait for a
// restarted module's port, which may take two minutes, is given up for it
// at once. Once the poll has identified the module, OK works as always.
// The poll holds the run's device while it is out: the run has none.
TEST_F(MainDialogTest, OnlyCancelIsServedWhileAPollIsOut) {
  struct Row {
    const char *name;
    // A module found in its update mode whose loader answers the restart
    // and never drops its port, or one plugged in while the timer's poll
    // is out.
    bool restartWait;
    std::vector<int> presses;  // while the poll is out
    int afterReport;           // pressed once the poll has reported, 0 when the dialog has ended
    int end;
  };
  const Row rows[] = {
      {"OK", false, {OS_IDOK}, OS_IDOK, MAIN_UPDATE_RAN},
      {"OK, then Cancel", false, {OS_IDOK, OS_IDCANCEL}, 0, MAIN_REFUSED},
      {"Cancel, then OK", false, {OS_IDCANCEL, OS_IDOK}, 0, MAIN_REFUSED},
      {"Cancel during the restart wait", true, {OS_IDCANCEL}, 0, MAIN_REFUSED},
      {"OK during the restart wait", true, {OS_IDOK}, OS_IDCANCEL, MAIN_REFUSED},
  };
  const std::string cancelled = "===FW upgrade started ===\r\r\nQuillonDlg Cancel Pressed\r\r\n";
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    bool pressed = false;
    uint32_t pressedAt = 0;
    std::string fieldWhileOut, logWhileOut;
    std::set<int> disabledWhileOut;
    SerialDevice *runDeviceWhileOut = nullptr;
    bool endedWhileOut = true;
    // As the user does on the interface thread while the poll's thread waits.
    auto pressWhileOut = [&](OsWindow dialog) {
      OsThread poll = FakeThreadSwitch(nullptr);
      for (int id : row.presses) FakeDialogPress(dialog, id);
      FakeThreadSwitch(poll);
      pressed = true;
      pressedAt = fakeClock.tick;
      fieldWhileOut = Field(MODEL);
      logWhileOut = Log();
      disabledWhileOut = fakeDialog.windows[dialog].disabled;
      runDeviceWhileOut = testRun.device;
      endedWhileOut = fakeDialog.windows[dialog].ended;
    };
    if (row.restartWait) {
      module = PlayModule(FakeCommAddPort(com7), [](const std::string &command) {
        return std::string(command == "vers=1" || command == "AT*Q2RESET" ? "\r\nOK\r\n" : "\r\nERROR\r\n");
      });
      FakeRegistryAddKey(serialComm).values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
      ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
      module->commands.clear();
      fakeClock.onSleep = [&](int) {
        if (!pressed && CommandCount("AT*Q2RESET") == 1) pressWhileOut(Main());
      };
    }
    bool served = false;
    fakeDialog.users[MAIN] = [&](OsWindow dialog) {
      if (!row.restartWait) {
        PlugModule();
        FakeDialogFireTimer(dialog, POLL_TIMER);
        pressWhileOut(dialog);
        FakeDialogPump();
      }
      if (row.afterReport == 0) return;
      // Reported, and nothing served: OK is live again.
      EXPECT_FALSE(fakeDialog.windows[dialog].ended);
      EXPECT_TRUE(fakeDialog.windows[dialog].disabled.empty());
      EXPECT_EQ(Count(Log(), okLine), 0u);
      EXPECT_EQ(Field(MODEL), row.restartWait ? "No module found" : "M7120x");
      served = true;
      FakeDialogPress(dialog, row.afterReport);
      FakeDialogPump();
    };
    EXPECT_EQ(MainDialogRun(&testRun), row.end);
    fakeClock.onSleep = nullptr;
    ASSERT_TRUE(pressed);
    // Blank before the first poll's report, the last report's after.
    EXPECT_EQ(fieldWhileOut, row.restartWait ? "" : "No module found") << "the poll had not reported";
    EXPECT_EQ(logWhileOut.find("Time: "), std::string::npos);
    EXPECT_EQ(disabledWhileOut, std::set<int>{OS_IDOK}) << "OK greyed, Cancel live";
    EXPECT_FALSE(endedWhileOut) << "not under a poll that is out";
    EXPECT_EQ(runDeviceWhileOut, nullptr) << "the poll holds the device";
    EXPECT_EQ(served, row.afterReport != 0);
    if (row.end == MAIN_UPDATE_RAN) {
      EXPECT_EQ(Count(Log(), "HW version: QHW 552 08/101 R1D\r\r\n"), 1u);
      EXPECT_EQ(Count(Log(), okLine), 1u);
      EXPECT_EQ(Count(Log(), "Cancel"), 0u);
      EXPECT_EQ(WorkersCreated(), 1);
    } else {
      EXPECT_EQ(Log(), cancelled) << "OK was never served";
      EXPECT_EQ(WorkersCreated(), 0);
    }
    if (!row.restartWait) {
      EXPECT_NE(testRun.device, nullptr) << "the poll's device handed over, for the entry to close";
      continue;
    }
    EXPECT_EQ(CommandCount("AT*Q2RESET"), 1);
    // Cancel ends the wait after the read under way; OK leaves it to run
    // to its two minutes.
    if (row.presses[0] == OS_IDCANCEL)
      EXPECT_LE(fakeClock.tick - pressedAt, 2000u);
    else
      EXPECT_TRUE(Traced("The port did not go away within 120000 ms of the restart"));
  }
}

// Greying OK for a poll takes its focus away, as Windows does; the report
// gives it back, so Enter still means OK, and the first report gives OK
// the focus the dialog manager passed over while OK was grey. A focus the
// user moved to Cancel stays there.
TEST_F(MainDialogTest, APollLeavesTheFocusOnOkOrWhereTheUserPutIt) {
  fakeDialog.users[MAIN] = [](OsWindow dialog) {
    FakeDialogWindow &window = fakeDialog.windows[dialog];
    EXPECT_EQ(window.focus, OS_IDOK) << "after the first poll's report";
    FakeDialogFireTimer(dialog, POLL_TIMER);
    EXPECT_EQ(window.focus, 0) << "greyed while the poll is out";
    FakeDialogPump();
    EXPECT_EQ(window.focus, OS_IDOK);
    window.focus = OS_IDCANCEL;  // the user tabs to Cancel
    FakeDialogFireTimer(dialog, POLL_TIMER);
    FakeDialogPump();
    EXPECT_EQ(window.focus, OS_IDCANCEL);
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(fakeThread.history.size(), 3u) << "the first poll and two timer polls";
}

TEST_F(MainDialogTest, AModuleThatTakesTheUpdateStateQueryIsNotAskedForItsPin) {
  script->updateStateOk = true;
  script->pinReply = PinStateReply("SIM PIN");
  OpenModule();
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  EXPECT_EQ(CommandCount("AT*QESFUD?"), 1);
  EXPECT_EQ(CommandCount("AT+CPIN?"), 0);
  const std::vector<int> dialogs = DialogsRun();
  EXPECT_EQ(std::count(dialogs.begin(), dialogs.end(), PIN), 0);
}

struct RefusalRow {
  const char *name;
  std::function<void(ModuleScript &)> arrange;
  int result;
  std::vector<std::string> boxes;
  std::vector<int> dialogs;
  int threadsCreated;
};

// Each way OK can end the dialog without a finished update: the code, what
// the user sees, and that nothing waits on a worker that never ran.
TEST_F(MainDialogTest, RefusesWithTheCodeOfTheFirstFailure) {
  const std::string warning = std::string("Warning|") + warningText;
  const RefusalRow rows[] = {
      {"the rules do not know the board",
       [](ModuleScript &m) { m.identity = Identity("QHW 552 08/106"); },
       RESULT_NOT_SUPPORTED,
       {"ERROR|This update package doesn\x92t support the installed Mobile Broadband Module."},
       {MAIN},
       0},
      {"the PIN state query fails",
       [](ModuleScript &m) { m.pinReply = "ERROR\r\n"; },
       RESULT_SIM_MISSING,
       {"ERROR|Unable to check pin status"},
       {MAIN},
       0},
      {"quiet, the PIN state query fails", [](ModuleScript &m) {
         m.pinReply = "ERROR\r\n";
         testRun.quiet = 1;
       }, RESULT_SIM_MISSING, {}, {MAIN}, 0},
      {"quiet, the SIM wants its PIN", [](ModuleScript &m) {
         m.pinReply = PinStateReply("SIM PIN");
         testRun.quiet = 1;
       }, RESULT_PIN_ERROR, {}, {MAIN}, 0},
      {"quiet, the PIN state query gets no reply", [](ModuleScript &m) {
         m.pinReply = "";
         testRun.quiet = 1;
       }, RESULT_PIN_ERROR, {}, {MAIN}, 0},
      {"the PIN state query gets no reply, the user gives up",
       [](ModuleScript &m) {
         m.pinReply = "";
         PinUserTypes({});
       },
       RESULT_PIN_ERROR,
       {},
       {MAIN, PIN},
       0},
      {"the SIM wants its PUK, the user gives up",
       [](ModuleScript &m) {
         m.pinReply = PinStateReply("SIM PUK");
         PinUserTypes({});
       },
       RESULT_PIN_ERROR,
       {},
       {MAIN, PIN},
       0},
      {"the PIN dialog cannot be created",
       [](ModuleScript &m) {
         m.pinReply = PinStateReply("SIM PIN");
         fakeDialog.failCreate.insert(PIN);
       },
       RESULT_PIN_ERROR,
       {},
       {MAIN, PIN},
       0},
      {"the worker thread cannot be created", [](ModuleScript &) { fakeThread.failCreate = 1; }, 1, {warning},
       {MAIN}, 0},
      {"the progress dialog cannot be created",
       [](ModuleScript &) { fakeDialog.failCreate.insert(PROGRESS); },
       1,
       {warning},
       {MAIN, PROGRESS},
       1},
      // A worker left suspended never ends: a wait for it would hang.
      {"the worker thread cannot be resumed",
       [](ModuleScript &) { fakeThread.failResume = 1; },
       1,
       {warning},
       {MAIN, PROGRESS},
       1},
  };
  for (const RefusalRow &row : rows) {
    SCOPED_TRACE(row.name);
    DeviceClose(testRun.device);
    ResetFakes();
    script = std::make_shared<ModuleScript>();
    std::remove(logPath.c_str());
    row.arrange(*script);
    OpenModule();
    if (!testRun.quiet) UserPresses({OS_IDOK});
    EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
    EXPECT_EQ(testRun.result, row.result);
    EXPECT_EQ(Boxes(), row.boxes);
    for (const FakeMessageBox &box : fakeUi.shown) EXPECT_EQ(box.owner, Main());
    EXPECT_EQ(DialogsRun(), row.dialogs);
    EXPECT_EQ(WorkersCreated(), row.threadsCreated);
    EXPECT_EQ(Worker().resumed, 0);
    EXPECT_TRUE(Worker().waitTimeouts.empty()) << "no wait on a worker that never ran";
    EXPECT_TRUE(Worker().closed);
    EXPECT_EQ(testRun.worker, nullptr);
    EXPECT_EQ(Count(Log(), okLine), 1u);
  }
}

// A wait that fails leaves a worker that may still be running and own
// the device: nothing after it is safe, so the process ends there.
TEST_F(MainDialogTest, AFailedWaitForTheWorkerIsFatal) {
  fakeExitCodes.clear();
  fakeThread.failWait = 1;
  OpenModule();
  UserPresses({OS_IDOK});
  MainDialogRun(&testRun);
  EXPECT_EQ(Worker().waitTimeouts.size(), 1u);
  EXPECT_EQ(Messages("FATAL"), std::vector<std::string>{"Worker thread wait failed\n"});
  EXPECT_EQ(fakeExitCodes, std::vector<int>{1});
  fakeExitCodes.clear();
}

TEST_F(MainDialogTest, GoesOnOnceThePinDialogHasOpenedTheSim) {
  script->pinReply = PinStateReply("SIM PIN");
  OpenModule();
  PinUserTypes({"1234"});
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  // The scripted module cannot take the update, so the run fails (5) past
  // the PIN, which would have ended it with 4.
  EXPECT_EQ(testRun.result, RESULT_UPDATE_FAILED);
  const FakeDialogCall *pin = LastRunOf(PIN);
  ASSERT_NE(pin, nullptr);
  EXPECT_EQ(pin->window, Main()) << "owned by the main dialog";
  EXPECT_EQ(CommandCount("AT+CPIN=\"1234\"\r\n"), 1);
  EXPECT_EQ(WorkersCreated(), 1);
}

// OK pressed over and over while the PIN dialog is up starts nothing
// more and writes nothing more.
TEST_F(MainDialogTest, IgnoresCommandsWhileOkIsServed) {
  script->pinReply = PinStateReply("SIM PIN");
  OpenModule();
  fakeDialog.users[PIN] = [this](OsWindow dialog) {
    for (int i = 0; i < 20; i++) FakeDialogPress(Main(), OS_IDOK);
    FakeDialogPress(Main(), OS_IDCANCEL);
    FakeDialogPress(dialog, OS_IDCANCEL);
  };
  UserPresses({OS_IDOK});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(testRun.result, RESULT_PIN_ERROR);
  EXPECT_EQ(Count(Log(), okLine), 1u);
  EXPECT_EQ(Count(Log(), "Time: "), 1u);
  EXPECT_EQ(Count(Log(), "Cancel"), 0u);
  const std::vector<int> dialogs = DialogsRun();
  EXPECT_EQ(std::count(dialogs.begin(), dialogs.end(), PIN), 1);
  EXPECT_EQ(CommandCount("AT*QESFUD?"), 1);
}

// Declined, the dialog stays open without its poll; OK again runs every
// step again, header and OK line included.
TEST_F(MainDialogTest, ADeclinedWarningLeavesTheDialogOpenForAnotherOk) {
  OpenModule();
  fakeUi.answers = {OS_IDCANCEL, OS_IDOK};
  fakeDialog.users[MAIN] = [this](OsWindow dialog) {
    FakeDialogPress(dialog, OS_IDOK);
    FakeDialogPump();
    EXPECT_FALSE(fakeDialog.windows[dialog].ended);
    EXPECT_EQ(WorkersCreated(), 0);
    EXPECT_TRUE(fakeDialog.windows[dialog].disabled.empty()) << "OK and Cancel are back";
    EXPECT_EQ(Count(Log(), okLine), 1u);
    FakeDialogPress(dialog, OS_IDOK);
  };
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  EXPECT_EQ(CallCount("StartTimer"), 0);
  EXPECT_EQ(Count(Log(), "Time: "), 2u);
  EXPECT_EQ(Count(Log(), okLine), 2u);
  EXPECT_EQ(Count(Log(), "FW version: R1D05 -> R1D06\r\r\n"), 2u);
  // The worker's own boxes follow; this dialog's are the two warnings.
  std::vector<std::string> boxes = Boxes();
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(boxes.begin(), boxes.begin() + 2),
            (std::vector<std::string>(2, std::string("Warning|") + warningText)));
  EXPECT_EQ(std::count(boxes.begin(), boxes.end(), boxes[0]), 2);
  EXPECT_GE(CommandCount("AT*QVERS"), 3) << "the first poll and one check per OK";
  EXPECT_GE(CommandCount("AT*QESFUD?"), 2);
  EXPECT_EQ(WorkersCreated(), 1);
}

TEST_F(MainDialogTest, CancelLogsItsLineAndNoHeader) {
  OpenModule();
  UserPresses({OS_IDCANCEL});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(Log(), "===FW upgrade started ===\r\r\nQuillonDlg Cancel Pressed\r\r\n");
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
}

// ---- Quiet mode ----------------------------------------------------------------

TEST_F(MainDialogTest, QuietModePressesOkItselfAndShowsNothing) {
  testRun.quiet = 1;
  OpenModule();
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_UPDATE_RAN);
  std::vector<std::string> names = FakeDialogCallNames();
  ASSERT_EQ(CallCount("SendCommand"), 1);
  for (const FakeDialogCall &call : fakeDialog.calls)
    if (call.name == "SendCommand") {
      EXPECT_EQ(call.window, Main());
      EXPECT_EQ(call.item, OS_IDOK);
    }
  EXPECT_TRUE(fakeUi.shown.empty());
  const FakeDialogCall *progress = LastRunOf(PROGRESS);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->window, nullptr) << "no owner in quiet mode";
  EXPECT_EQ(Count(Log(), okLine), 1u);
  EXPECT_TRUE(Worker().ranBeforeWait);
}

// The module must answer the first poll: OK follows it at once.
TEST_F(MainDialogTest, QuietModeWithoutAModuleAtTheFirstPollEndsAtOnce) {
  testRun.quiet = 1;
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(CallCount("StartTimer"), 1);
  EXPECT_EQ(CallCount("StopTimer"), 1);
  EXPECT_EQ(Count(Log(), okLine), 1u);
  EXPECT_EQ(WorkersCreated(), 0);
}

struct QuietReturnRow {
  const char *name;
  bool damaged;
  int backAfter;  // one-second polls until the module is back; -1 never
  int code;       // testRun.result once judged
  int end;
  int polls;
  // Its firmware crashes at every start: the port comes back with the
  // loader on it for one poll and is gone for the next, and so on.
  bool bootLoop = false;
};

// Quiet mode presses OK at once; a module it restarted out of its update
// mode is first given up to 120 polls to come back, and judged then: a
// module back in AT mode goes on to the checks (here, a board the rules
// refuse, which shows that it was identified), one never back ends with no
// module found, as before, and so does one whose loader is seen ten times,
// in a row or not: a loader is no module's return, and a module in a boot
// loop shows its loader only between polls that find nothing.
TEST_F(MainDialogTest, QuietModeWaitsForAModuleItRestartedOutOfUpdateMode) {
  const QuietReturnRow rows[] = {
      {"back in AT mode", false, 3, RESULT_NOT_SUPPORTED, MAIN_REFUSED, 3},
      {"back on the 120th poll", false, 120, RESULT_NOT_SUPPORTED, MAIN_REFUSED, 120},
      {"back in its loader", true, 2, RESULT_SUCCESS, MAIN_REFUSED, 11},
      {"never back", false, -1, RESULT_SUCCESS, MAIN_REFUSED, 120},
      {"in a boot loop", true, -1, RESULT_SUCCESS, MAIN_REFUSED, 19, true},
  };
  for (const QuietReturnRow &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    testRun.quiet = 1;
    script->identity = Identity("QHW 552 08/106");
    OpenModuleInUpdateMode(row.damaged);
    int polls = 0;
    fakeClock.onSleep = [&](int milliseconds) {
      if (milliseconds != 1000) return;
      ++polls;
      if (row.bootLoop && polls % 2 == 0) FakeCommVanish(com7, FAKE_VANISH_WINE);
      if (polls == row.backAfter || (row.bootLoop && polls % 2 == 1)) FakeCommReplug(com7);
    };
    EXPECT_EQ(MainDialogRun(&testRun), row.end);
    fakeClock.onSleep = nullptr;
    EXPECT_EQ(testRun.result, row.code);
    EXPECT_EQ(polls, row.polls);
    EXPECT_EQ(CommandCount("AT*Q2RESET"), 1);
    EXPECT_EQ(Count(Log(), okLine), 1u);
    EXPECT_EQ(WorkersCreated(), 0) << "nothing is ever sent to a module in update mode";
  }
}

// How long a quiet run waits for a module it restarted that never comes
// back, as the README's Deploying section says: from about two minutes
// (its port goes at once: 120 searches a second apart) to about eight (it
// keeps its port and says nothing: the restart's five seconds, two
// minutes for the port to go, then 120 searches, each a second and the
// two probe seconds of the silent port).
TEST_F(MainDialogTest, QuietModeWaitsTwoToEightMinutesForAModuleThatNeverComesBack) {
  struct Row {
    const char *name;
    bool keepsItsPort;
    uint32_t atLeastMs, atMostMs;
  };
  const Row rows[] = {
      {"its port goes at once", false, 120000, 135000},          // 129 s
      {"it keeps its port and says nothing", true, 480000, 500000},  // 492 s
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    testRun.quiet = 1;
    auto restarted = std::make_shared<bool>(false);
    const bool keeps = row.keepsItsPort;
    module = PlayModule(FakeCommAddPort(com7), [restarted, keeps](const std::string &command) {
      if (*restarted) return std::string();
      if (command == "AT*Q2RESET") {
        *restarted = true;
        if (!keeps) FakeCommVanish(com7, FAKE_VANISH_WINE);
        return std::string();
      }
      return std::string(command == "vers=1" ? "\r\nOK\r\n" : "\r\nERROR\r\n");
    });
    FakeRegistryAddKey(serialComm).values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
    ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
    uint32_t start = fakeClock.tick;
    EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
    uint32_t waited = fakeClock.tick - start;
    EXPECT_GE(waited, row.atLeastMs);
    EXPECT_LE(waited, row.atMostMs);
    EXPECT_EQ(CommandCount("AT*Q2RESET"), 1);
    EXPECT_EQ(Count(Log(), okLine), 1u) << "judged, with no module, once the wait is over";
  }
}

// A real module answers the restart and stays on the bus for a moment,
// its loader still answering "vers=1", before it drops and comes back in
// AT mode: it is waited for until its port goes, and then found again,
// never judged on its way out.
TEST_F(MainDialogTest, AModuleSlowToRestartIsWaitedForUntilItIsBack) {
  for (bool quiet : {true, false}) {
    SCOPED_TRACE(quiet ? "quiet" : "interactive");
    TearDown();
    std::remove(logPath.c_str());
    SetUp();
    testRun.quiet = quiet;
    script->identity = Identity("QHW 552 08/106");  // refused: judged, and no update follows
    std::shared_ptr<ModuleScript> s = script;
    auto restartedAt = std::make_shared<int64_t>(-1);
    auto loader = std::make_shared<bool>(true);
    module = PlayModule(FakeCommAddPort(com7), [s, restartedAt, loader](const std::string &command) {
      if (*loader) {
        if (command == "AT*Q2RESET" && *restartedAt < 0) *restartedAt = fakeClock.tick;
        return std::string(command == "vers=1" || command == "AT*Q2RESET" ? "\r\nOK\r\n" : "\r\nERROR\r\n");
      }
      return AtModeReply(*s, command);
    });
    FakeRegistryAddKey(serialComm).values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
    ASSERT_EQ(SerialDeviceOpen(&testRun.device, com7, 9600), 0);
    module->commands.clear();
    // Two seconds after its OK the port goes; three more and it is back,
    // its firmware started.
    bool dropped = false, back = false;
    fakeClock.onSleep = [&](int) {
      if (*restartedAt < 0) return;
      if (!dropped && fakeClock.tick - *restartedAt >= 2000) {
        dropped = true;
        FakeCommVanish(com7, FAKE_VANISH_WINE);
      } else if (dropped && !back && fakeClock.tick - *restartedAt >= 5000) {
        back = true;
        *loader = false;
        FakeCommReplug(com7);
      }
    };
    if (!quiet) {
      fakeDialog.users[MAIN] = [&](OsWindow dialog) {
        FakeDialogPump();
        for (int i = 0; i < 10 && Field(MODEL) != "M7120x"; i++) {
          OsSleep(1000);  // the timer's second
          FakeDialogFireTimer(dialog, POLL_TIMER);
          FakeDialogPump();
        }
        EXPECT_EQ(Field(MODEL), "M7120x");
        FakeDialogPress(dialog, OS_IDOK);
        FakeDialogPump();
      };
    }
    EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
    fakeClock.onSleep = nullptr;
    EXPECT_TRUE(dropped && back);
    EXPECT_EQ(CommandCount("AT*Q2RESET"), 1);
    EXPECT_EQ(testRun.result, RESULT_NOT_SUPPORTED) << "judged once back: identified, and refused by the rules";
    EXPECT_EQ(CommandCount("AT*QVERS"), 2) << "identified by the poll, then by OK's check";
    EXPECT_EQ(WorkersCreated(), 0);
  }
}

// ---- File mode and what the fields may hold ----------------------------------

TEST_F(MainDialogTest, FileModeShowsAndLogsThePathAsTheTarget) {
  testRun.packageFile = "C:\\Packages\\fw R1D06.bin";
  OpenModule();
  fakeUi.answers = {OS_IDCANCEL};
  UserPresses({OS_IDOK, OS_IDCANCEL});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(Field(TARGET), "C:\\Packages\\fw R1D06.bin");
  EXPECT_EQ(Count(Log(), "FW version: R1D05 -> C:\\Packages\\fw R1D06.bin\r\r\n"), 1u);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS) << "still judged against the built-in target";
}

// Long and non-ASCII values reach the fields whole (within the
// identification's bound) and the log's lines cut.
TEST_F(MainDialogTest, KeepsHugeValuesWithinTheirBounds) {
  const std::string product(5000, '\xe9');
  script->identity = Identity(product, std::string(900, 'M') + "\x01\x7f\xff");
  OpenModule();
  UserPresses({OS_IDOK, OS_IDCANCEL});
  EXPECT_EQ(MainDialogRun(&testRun), MAIN_REFUSED);
  EXPECT_EQ(Field(MODEL), std::string(900, 'M') + "\x01\x7f\xff");
  EXPECT_LE(Field(HARDWARE).size(), 4000u);
  const std::string log = Log();
  const std::string head = "HW version: ";
  size_t at = log.find(head);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.substr(at + head.size(), 255), std::string(254, '\xe9') + "\r");
}

}  // namespace
