// Version control: the compiled-in upgrade rules and packages, who the
// module is, and whether the firmware this program carries may go onto it.
#pragma once
#include <cstdint>

#include "os/ui.h"
#include "sha256.h"

struct SerialDevice;

// ---- The rules table -------------------------------------------------------

enum {
  VC_TABLE_ROWS = 137,  // 136 rules and the terminator row
  VC_ROW_CELLS = 204,
  VC_LIST_CELLS = 100,  // per list: at most 99 entries and the "0" terminator
  VC_CELL_SW_PRODUCT = 0,
  VC_CELL_TARGET = 1,
  VC_CELL_INFO = 2,
  VC_CELL_HW_PRODUCT = 3,
  VC_CELL_REVISIONS = 4,
  VC_CELL_FROM = VC_CELL_REVISIONS + VC_LIST_CELLS,
  // The scan starts at the first rule: a rule its owner wrote down is a
  // rule that counts.
  VC_FIRST_RULE_ROW = 0,
};

// Ends both the lists and the table (in the first cell of the last row).
// Never the empty text: an empty cell before it is an ordinary entry.
extern const char VersionListEnd[];  // "0"

// One row of 204 cells; cells that hold nothing hold "".
struct VersionRule {
  const char *cell[VC_ROW_CELLS];
};

extern const VersionRule *const VersionControlTable;  // VC_TABLE_ROWS rows

int VersionControlRowCount();
// "" outside the table.
const char *VersionControlCell(int row, int cell);

// ---- The embedded packages -------------------------------------------------

struct PackageEntry {
  const char *fromVersion;  // "" for a full package, which applies to any version
  const char *toVersion;
  const unsigned char *image;
  uint32_t imageLength;
  const unsigned char *sha256;  // the image's digest, taken when it was built in
};

struct EmbeddedImage {
  const unsigned char *image;
  uint32_t imageLength;
  const unsigned char *sha256;
};

enum { PACKAGE_CATALOGUE_COUNT = 1 };

extern const PackageEntry PackageCatalogue[PACKAGE_CATALOGUE_COUNT];
extern const EmbeddedImage OptionalAssignmentImage;

int PackageCatalogueCount();

// Call before the first byte of an embedded image goes to the module: a
// damaged image must fail like a transfer, with nothing sent. Returns 1
// when the bytes still have the digest recorded at build time.
int PackageIsIntact(const PackageEntry *entry);
int OptionalImageIsIntact();
int ImageIsIntact(const unsigned char *image, uint32_t length,
                  const unsigned char expected[SHA256_DIGEST_SIZE]);

// ---- Lookups and texts -----------------------------------------------------

// Copies `text` without its spaces (0x20; tabs stay) into `out`, cut to
// capacity - 1 and terminated; capacity <= 0 writes nothing. Returns the
// length of the whole stripped text, so a result >= capacity means cut.
int StripSpaces(const char *text, char *out, int capacity);

// Whether the two texts are equal once their spaces are removed; needs no
// buffer, so no length can cut a comparison short.
int SameWithoutSpaces(const char *a, const char *b);

// The catalogue index to send to a module running `currentVersion`, or -1.
int FindPackage(const char *currentVersion);
int FindPackageIn(const PackageEntry *catalogue, int count, const char *currentVersion);

// What this run installs: the package file when one was named, else the
// first catalogue entry's version.
const char *TargetVersionText(const char *updateFilePath);

// ---- Module identification -------------------------------------------------

enum {
  MODULE_TEXT_SIZE = 4000,  // a value is never longer than a reply (3999 bytes)
  IDENTIFY_REPLY_SIZE = 4000,
};

extern const char NoModuleFound[];  // "No module found"

struct ModuleInfo {
  char model[MODULE_TEXT_SIZE];
  char productNumber[MODULE_TEXT_SIZE];
  char revision[MODULE_TEXT_SIZE];
  char imei[MODULE_TEXT_SIZE];
  char softwareVersion[MODULE_TEXT_SIZE];
  char buildDate[MODULE_TEXT_SIZE];
};

// A fresh record: every field empty but `model`, which says no module.
void ModuleInfoReset(ModuleInfo *info);

// Copies the value that follows the first `label` in `text` (after the
// first ". " from there, up to CR LF or the end; nothing trimmed) into
// `field`, cut to capacity - 1. Returns 1, or 0 with `field` unchanged
// when the label is missing or its line has no ". ".
int ExtractField(const char *text, const char *label, char *field, int capacity);

// Never fails: a model of NoModuleFound means nobody answered.
ModuleInfo IdentifyModule(SerialDevice *device);

// ---- Who may be upgraded ---------------------------------------------------

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
int JudgeModule(const VersionRule *rules, int startRow, const char *targetVersion,
                const ModuleInfo *info);

// The refusal text for a verdict; nullptr for VC_ADMITTED.
const char *VersionVerdictMessage(int verdict);

// The program's message box: the one place that knows whether anybody is
// there to see it (quiet mode shows nothing and answers OK).
typedef int (*VersionMessageBox)(OsWindow owner, const char *text, const char *caption, unsigned style);

// Identifies the module afresh and judges it against the table for the
// first catalogue entry's version. Returns 1 when the update may go ahead;
// on refusal the box (caption "ERROR", over `owner`) has gone through
// `showMessage`.
int CheckVersionControl(SerialDevice *device, int forceUpgrade, OsWindow owner, VersionMessageBox showMessage);
