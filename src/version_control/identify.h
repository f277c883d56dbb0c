// Version control's identification: who the module says it is, read from
// its version replies.
#pragma once

struct SerialDevice;

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
