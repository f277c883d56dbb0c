// Process-wide state of the application.
#include "app/state.h"

#include <cstring>

SerialDevice *theDevice;
const char *updateFilePath;
int quietMode;
int forceUpgrade;
char portName[PORT_NAME_SIZE];
int UpdateResult;
OsThread workerThread;

int ShowMessage(OsWindow owner, const char *text, const char *caption, unsigned style) {
  if (quietMode) return quietMode;
  return OsMessageBox(owner, text, caption, style);
}

void SetUpdateResult(int code) {
  if (UpdateResult == 0) UpdateResult = code;
}

void ResetProcessState() {
  theDevice = nullptr;
  updateFilePath = nullptr;
  quietMode = 0;
  forceUpgrade = 0;
  std::memset(portName, 0, sizeof portName);
  UpdateResult = 0;
  workerThread = nullptr;
}
