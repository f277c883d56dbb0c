// Judging an identified module against the rules: pure, so every case can
// be tried from a table without a module. Product numbers come with and
// without their spaces, and the rules must not care.
#include "version_control/judge.h"

#include <cstring>

int StripSpaces(const char *text, char *out, int capacity) {
  int length = 0;
  if (text != nullptr)
    for (const char *p = text; *p != '\0'; p++) {
      if (*p == ' ') continue;
      if (length < capacity - 1) out[length] = *p;
      length++;
    }
  if (capacity > 0) out[length < capacity - 1 ? length : capacity - 1] = '\0';
  return length;
}

static const char *SkipSpaces(const char *p) {
  while (*p == ' ') p++;
  return p;
}

int SameWithoutSpaces(const char *a, const char *b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (;;) {
    a = SkipSpaces(a);
    b = SkipSpaces(b);
    if (*a != *b) return 0;
    if (*a == '\0') return 1;
    a++;
    b++;
  }
}

int ImeiHasForcePrefix(const char *imei) {
  static const char forcePrefix[] = "00440170";
  char stripped[sizeof forcePrefix];
  StripSpaces(imei, stripped, (int)sizeof stripped);
  return std::strcmp(stripped, forcePrefix) == 0;
}

void NormaliseRevision(const char *revision, char out[MODULE_TEXT_SIZE]) {
  // The suffix is looked for once the spaces are gone: a reported
  // "R1D/10 " is R1D, not a cut blank and a stray "R1D/".
  int length = StripSpaces(revision != nullptr ? revision : "", out, MODULE_TEXT_SIZE);
  if (length > MODULE_TEXT_SIZE - 1) length = MODULE_TEXT_SIZE - 1;
  // A text containing "/10" is at least three characters long; one with
  // "/11" at least one, so neither cut can run below the start.
  if (std::strstr(out, "/10") != nullptr)
    length -= 3;
  else if (std::strstr(out, "/11") != nullptr)
    length -= 1;
  out[length] = '\0';
}

// Walks a list to its "0" cell, never past its own 100 cells, and does not
// stop at a match: an empty cell is an entry, not the end.
static int ListHas(const char *const *cells, const char *value) {
  int found = 0;
  for (int i = 0; i < VC_LIST_CELLS && std::strcmp(cells[i], VersionListEnd) != 0; i++)
    if (SameWithoutSpaces(cells[i], value)) found = 1;
  return found;
}

VersionVerdict JudgeModule(const VersionRule *rules, int startRow, const char *targetVersion,
                const ModuleInfo *info) {
  int packageKnown = 0, moduleKnown = 0, hardwareAccepted = 0, firmwareAccepted = 0;
  char revision[MODULE_TEXT_SIZE];
  NormaliseRevision(info->revision, revision);
  for (int row = startRow; std::strcmp(rules[row].cell[VC_CELL_SW_PRODUCT], VersionListEnd) != 0;
       row++) {
    const char *const *cells = rules[row].cell;
    if (!SameWithoutSpaces(cells[VC_CELL_TARGET], targetVersion)) continue;
    packageKnown = 1;
    if (!SameWithoutSpaces(cells[VC_CELL_HW_PRODUCT], info->productNumber)) continue;
    moduleKnown = 1;
    if (ListHas(cells + VC_CELL_REVISIONS, revision)) hardwareAccepted = 1;
    if (ListHas(cells + VC_CELL_FROM, info->softwareVersion)) firmwareAccepted = 1;
  }
  if (!packageKnown) return VC_PACKAGE_UNKNOWN;
  if (!moduleKnown) return VC_MODULE_UNKNOWN;
  if (!hardwareAccepted) return VC_HARDWARE_REFUSED;
  if (!firmwareAccepted) return VC_FIRMWARE_REFUSED;
  return VC_ADMITTED;
}

// 0x92 is the typographic apostrophe of Windows-1252, the code page the
// boxes are shown in; the escape keeps an editor from "fixing" it.
static const char *const verdictMessages[] = {
    nullptr,
    "Illegal update package version! Not supported by the version control.",
    "This update package doesn\x92t support the installed Mobile Broadband Module.",
    "This update package doesn\x92t support the installed Mobile Broadband Module hardware version.",
    "This update package doesn\x92t support an update of the current firmware.",
};

const char *VersionVerdictMessage(VersionVerdict verdict) {
  if (verdict < 0 || verdict >= (int)(sizeof verdictMessages / sizeof verdictMessages[0]))
    return nullptr;
  return verdictMessages[verdict];
}
