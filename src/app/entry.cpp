// The program's run: log, command line, module, main dialog, result.
#include "app/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/cmdline.h"
#include "app/controls_binding.h"
#include "app/dialogs/main_dialog.h"
#include "app/inventory/inventory_run.h"
#include "app/run_record.h"
#include "app/sf_util.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "log/trace_log.h"
#include "log/upgrade_log.h"
#include "os/comm.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\entry";

static const char upgradeLogPath[] = "C:\\FWLog.txt";
// A -t argument naming a serial port contains this.
static const char comPortMark[] = "COM";
static const char usageText[] = "usage: Quillon.exe [filename] [-t COM1]\n";

enum CommandLineOutcome { COMMAND_LINE_RUN, COMMAND_LINE_EXIT };

static const char optionLetters[] = "hit:qf";

// Whether -i is anywhere among the options. Known before anything else
// happens: an inventory writes no upgrade log, not even the banner, and
// shows no box, not even for a command-line error.
static int AsksInventory(int count, char *entries[]) {
  int asks = 0;
  optionIndex = 0;
  for (int option; (option = ParseOption(count, entries, optionLetters)) != -1;)
    if (option == 'i') asks = 1;
  return asks;
}

static void ShowUsage(const RunRecord *run) { ShowMessage(run->quiet, nullptr, usageText, "Usage", OS_MB_OK); }

// Applies -t. Returns 0 when the port is accepted.
static int TakePortOption(RunRecord *run, const char *argument) {
  if (std::strstr(argument, comPortMark) != nullptr) {
    std::snprintf(run->portName, sizeof run->portName, "\\\\.\\%s", argument);
    return 0;
  }
  if (std::strcmp(argument, simulatorPortName) == 0) {
    std::snprintf(run->portName, sizeof run->portName, "%s", simulatorPortName);
    return 0;
  }
  ShowMessage(run->quiet, nullptr, "Error: unknown serial port", "ERROR", OS_MB_OK);
  return 1;
}

// Scans options and positional entries into the run; -i (`inventory`)
// was found before.
static CommandLineOutcome ReadCommandLine(RunRecord *run, int inventory, int count, char *entries[]) {
  optionIndex = 0;
  for (;;) {
    int option = ParseOption(count, entries, optionLetters);
    if (option == -1) break;
    switch (option) {
      case 'f':
        run->forced = 1;
        break;
      case 'h':
        return COMMAND_LINE_EXIT;
      case 'i':
        break;
      case 'q':
        run->quiet = 1;
        break;
      case 't':
        if (TakePortOption(run, optionArgument) != 0) return COMMAND_LINE_EXIT;
        break;
      default:
        ShowMessage(run->quiet, nullptr, "Unknown char", "", OS_MB_OK);
        ShowUsage(run);
        return COMMAND_LINE_EXIT;
    }
  }
  if (optionIndex < count) run->packageFile = entries[optionIndex];
  // An inventory judges the packages this program carries, never a file.
  if (optionIndex + 1 < count || (inventory && run->packageFile != nullptr)) {
    ShowUsage(run);
    return COMMAND_LINE_EXIT;
  }
  return COMMAND_LINE_RUN;
}

// The port named with -t, the simulated module, or discovery. A named port
// that does not open is no error here: the main dialog keeps looking by
// discovery while no module is known.
static void OpenModuleDevice(RunRecord *run) { run->device = SerialDeviceOpenNamed(run->portName); }

// The upgrade-log lines around each hand-off, by mode.
struct HandOffTexts {
  const char *before;
  const char *after;
};
static const HandOffTexts handOffTexts[] = {
    {"Send CONNECT_KVT\r\n", "Done CONNECT_KVT\r\n"},        // KVT_REGAIN
    {"Send DISCONNECT_KVT\r\n", "Done DISCONNECT_KVT\r\n"},  // KVT_RELEASE
};

// The connection manager lets go of the module, or takes it back. Nothing
// it does changes the run: the log shows only that it was asked.
static void HandOffModule(int mode) {
  const HandOffTexts &texts = handOffTexts[mode == KVT_RELEASE ? KVT_RELEASE : KVT_REGAIN];
  UpgradeLogWrite("%s", texts.before);
  corvinKvtCtrl(mode);
  UpgradeLogWrite("%s", texts.after);
}

int QuillonMain(const char *commandLine) {
  // The run, from its command line to its exit code.
  RunRecord run;
  RunRecordReset(&run);
  return QuillonRun(&run, commandLine);
}

int QuillonRun(RunRecord *run, const char *commandLine) {
  // Entries and the run's package file point into this copy for the whole
  // run.
  static char *lineCopy;
  static char *entries[COMMAND_LINE_ENTRIES];

  const char *text = commandLine != nullptr ? commandLine : "";
  size_t length = std::strlen(text);
  std::free(lineCopy);
  lineCopy = (char *)std::malloc(length + 1);
  if (lineCopy == nullptr) {
    UpgradeLogOpen(upgradeLogPath);
    return 1;
  }
  std::memcpy(lineCopy, text, length + 1);

  int count = SplitCommandLine(lineCopy, entries);
  // -i: judge and report, change nothing.
  int inventory = AsksInventory(count, entries);
  if (inventory)
    run->quiet = 1;
  else
    UpgradeLogOpen(upgradeLogPath);
  // Before the first box or dialog, which would load the common controls
  // wherever their binding points. An inventory makes no window and never
  // loads them.
  if (!inventory && CheckControlsBinding() == CONTROLS_REFUSED) {
    UpgradeLogResult(RESULT_UNKNOWN_ERROR);
    return RESULT_UNKNOWN_ERROR;
  }
  if (ReadCommandLine(run, inventory, count, entries) == COMMAND_LINE_EXIT) return 1;
  if (inventory) return InventoryRun(run->portName, run->forced, upgradeLogPath);

  HandOffModule(KVT_RELEASE);

  OpenModuleDevice(run);

  // Only a dialog that ran the update ends with 1; cancelled, refused or
  // never shown, the run did not complete.
  int ran = MainDialogRun(run);
  // A dialog that was never made leaves no other mark: nothing was asked of
  // the module after its opening probe, and the log has no run header.
  // Under Wine a process that makes its first window before the prefix's
  // desktop has its display driver can make no window for the rest of its
  // life; the error code tells that apart from a broken template.
  if (ran == -1) TRACE(TRACE_WARNING, "Main dialog not created (error %u)\n", (unsigned)OsGetLastError());
  if (ran != MAIN_UPDATE_RAN) RunSetResult(run, RESULT_UNKNOWN_ERROR);

  HandOffModule(KVT_REGAIN);

  UpgradeLogResult(run->result);
  DeviceClose(run->device);
  run->device = nullptr;
  return run->result;
}
