// The check before an update: identify the module afresh, let -f through
// for the modules that qualify, otherwise judge it against the rules and
// say why not.
#include "version_control/check.h"

#include "log/upgrade_log.h"
#include "version_control/identify.h"
#include "version_control/judge.h"
#include "version_control/packages.h"
#include "version_control/rules.h"

VersionCheck CheckVersionControl(SerialDevice *device, int forceUpgrade, VersionForcedRecord forcedRecord) {
  ModuleInfo info = IdentifyModule(device);
  if (forceUpgrade && ImeiHasForcePrefix(info.imei)) {
    if (forcedRecord == VC_FORCED_RECORD_WRITTEN) UpgradeLogForced();
    return VersionCheck{1, nullptr};
  }
  VersionVerdict verdict = JudgeModule(VersionControlTable, VC_FIRST_RULE_ROW, PackageCatalogue[0].toVersion, &info);
  if (verdict == VC_ADMITTED) return VersionCheck{1, nullptr};
  return VersionCheck{0, VersionVerdictMessage(verdict)};
}
