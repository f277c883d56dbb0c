// Who the module is: its version replies, "label. value\r\n" lines of
// which only a few labels matter, asked for with its version commands.
#include "version_control/identify.h"

#include <cstring>

#include "at/at.h"
#include "module_interface.h"

const char NoModuleFound[] = "No module found";

void ModuleInfoReset(ModuleInfo *info) {
  std::memset(info, 0, sizeof *info);
  std::memcpy(info->model, NoModuleFound, sizeof NoModuleFound);
}

int ExtractField(const char *text, const char *label, char *field, int capacity) {
  if (text == nullptr || label == nullptr || field == nullptr || capacity <= 0) return 0;
  // The first occurrence, even inside a longer word: the module's lines
  // are fixed, and this is how they have always been read.
  const char *at = std::strstr(text, label);
  if (at == nullptr) return 0;
  const char *stop = std::strstr(at, moduleInfoSeparator);
  if (stop == nullptr) return 0;
  // A label without its separator on its own line has no value: the next
  // line's value belongs to another label.
  const char *lineEnd = std::strstr(at, moduleLineEnd);
  if (lineEnd != nullptr && lineEnd < stop) return 0;
  const char *value = stop + std::strlen(moduleInfoSeparator);
  const char *end = std::strstr(stop, moduleLineEnd);
  size_t length = end != nullptr ? (size_t)(end - value) : std::strlen(value);
  if (length > (size_t)capacity - 1) length = (size_t)capacity - 1;
  std::memcpy(field, value, length);
  field[length] = '\0';
  return 1;
}

// Where each field's label sits in moduleInfoLabels, which follows the
// record's field order.
enum {
  LABEL_MODEL = 0,
  LABEL_PRODUCT_NUMBER = 1,
  LABEL_REVISION = 2,
  LABEL_IMEI = 3,
  LABEL_SOFTWARE_VERSION = 4,
  LABEL_BUILD_DATE = 5,
};

// Sends one version command; the reply text is what the buffer holds,
// and an empty one counts as no answer.
static int AskVersion(SerialDevice *device, const ModuleCommand &command, char *reply) {
  return ATSendCmd(device, command.text, reply, IDENTIFY_REPLY_SIZE, command.timeoutMs);
}

static void Extract(const char *reply, int label, char *field) {
  ExtractField(reply, moduleInfoLabels[label], field, MODULE_TEXT_SIZE);
}

ModuleInfo IdentifyModule(SerialDevice *device) {
  ModuleInfo info;
  ModuleInfoReset(&info);
  char reply[IDENTIFY_REPLY_SIZE] = {};
  if (device == nullptr) return info;
  // Older firmware knows only the second command.
  if (AskVersion(device, cmdVersionQuery, reply) != AT_SUCCESS &&
      AskVersion(device, cmdVersionQuery2, reply) != AT_SUCCESS)
    return info;
  reply[IDENTIFY_REPLY_SIZE - 1] = '\0';
  if (reply[0] == '\0') return info;
  Extract(reply, LABEL_IMEI, info.imei);
  Extract(reply, LABEL_PRODUCT_NUMBER, info.productNumber);
  Extract(reply, LABEL_REVISION, info.revision);
  Extract(reply, LABEL_SOFTWARE_VERSION, info.softwareVersion);
  // A reply without the model: the model and the build date come from
  // the old firmware's command instead. A failure there keeps what the
  // first reply gave, with the model still saying no module, so the
  // caller does not take a half-known module for an identified one.
  if (std::strstr(reply, moduleInfoLabels[LABEL_MODEL]) == nullptr) {
    if (AskVersion(device, cmdVersionQueryOld, reply) != AT_SUCCESS) return info;
    reply[IDENTIFY_REPLY_SIZE - 1] = '\0';
    if (reply[0] == '\0') return info;
  }
  Extract(reply, LABEL_MODEL, info.model);
  Extract(reply, LABEL_BUILD_DATE, info.buildDate);
  return info;
}
