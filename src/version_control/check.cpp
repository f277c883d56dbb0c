// The check before an update: identify the module afresh, let -f through
// for the modules that qualify, otherwise judge it against the rules and
// tell the user why not.
#include "version_control/check.h"

#include "log/upgrade_log.h"
#include "version_control/identify.h"
#include "version_control/judge.h"
#include "version_control/packages.h"
#include "version_control/rules.h"

int CheckVersionControl(SerialDevice *device, int forceUpgrade, OsWindow owner, VersionMessageBox showMessage) {
  ModuleInfo info = IdentifyModule(device);
  if (forceUpgrade && ImeiHasForcePrefix(info.imei)) {
    UpgradeLogForced();
    return 1;
  }
  int verdict = JudgeModule(VersionControlTable, VC_FIRST_RULE_ROW, PackageCatalogue[0].toVersion, &info);
  if (verdict == VC_ADMITTED) return 1;
  if (showMessage != nullptr)
    showMessage(owner, VersionVerdictMessage(verdict), "ERROR", OS_MB_OK | OS_MB_ICONWARNING);
  return 0;
}
