// Asking the module who it is, with its version commands.
#include <cstring>

#include "at.h"
#include "module_interface.h"
#include "version_control/version_control.h"

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
