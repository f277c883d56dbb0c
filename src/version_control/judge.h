// Version control's judgement: whether an identified module may take the
// target version under the rules. Pure: no device, no box, no log.
#pragma once
#include "version_control/identify.h"
#include "version_control/rules.h"

// Copies `text` without its spaces (0x20; tabs stay) into `out`, cut to
// capacity - 1 and terminated; capacity <= 0 writes nothing. Returns the
// length of the whole stripped text, so a result >= capacity means cut.
int StripSpaces(const char *text, char *out, int capacity);

// Whether the two texts are equal once their spaces are removed; needs no
// buffer, so no length can cut a comparison short.
int SameWithoutSpaces(const char *a, const char *b);

// The first match flag still missing after a scan; its message explains.
enum VersionVerdict {
  VC_ADMITTED = 0,
  VC_PACKAGE_UNKNOWN = 1,
  VC_MODULE_UNKNOWN = 2,
  VC_HARDWARE_REFUSED = 3,
  VC_FIRMWARE_REFUSED = 4,
};

// The IMEI of the modules that -f may upgrade without the table.
int ImeiHasForcePrefix(const char *imei);

// The revision without its spaces; then "/10" anywhere drops the last
// three characters, else "/11" anywhere drops the last one. `out` holds
// at least MODULE_TEXT_SIZE bytes.
void NormaliseRevision(const char *revision, char out[MODULE_TEXT_SIZE]);

// Scans `rules` from `startRow` to the terminator row. Pure: no device,
// no box, no log.
VersionVerdict JudgeModule(const VersionRule *rules, int startRow, const char *targetVersion,
                const ModuleInfo *info);

// The refusal text for a verdict; nullptr for VC_ADMITTED.
const char *VersionVerdictMessage(VersionVerdict verdict);
