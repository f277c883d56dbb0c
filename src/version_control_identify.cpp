// Asking the module who it is, with its version commands.
#include <cstring>

#include "at.h"
#include "version_control.h"

// Sends one version command; the reply text is what the buffer holds,
// and an empty one counts as no answer.
static int AskVersion(SerialDevice *device, const char *command, char *reply) {
  return ATSendCmd(device, command, reply, IDENTIFY_REPLY_SIZE, IDENTIFY_TIMEOUT_MS);
}

ModuleInfo IdentifyModule(SerialDevice *device) {
  ModuleInfo info;
  ModuleInfoReset(&info);
  char reply[IDENTIFY_REPLY_SIZE] = {};
  if (device == nullptr) return info;
  // Older firmware knows only the second command.
  if (AskVersion(device, "AT*QVERS", reply) != AT_SUCCESS &&
      AskVersion(device, "AT*QVER2", reply) != AT_SUCCESS)
    return info;
  reply[IDENTIFY_REPLY_SIZE - 1] = '\0';
  if (reply[0] == '\0') return info;
  ExtractField(reply, "IMEI Data", info.imei, MODULE_TEXT_SIZE);
  ExtractField(reply, "Product Number", info.productNumber, MODULE_TEXT_SIZE);
  ExtractField(reply, "Revision", info.revision, MODULE_TEXT_SIZE);
  ExtractField(reply, "Software Version", info.softwareVersion, MODULE_TEXT_SIZE);
  // A reply without the model: the model and the build date come from
  // the plain version command instead.
  if (std::strstr(reply, "Model") == nullptr) {
    if (AskVersion(device, "AT*QVER", reply) != AT_SUCCESS) return info;
    reply[IDENTIFY_REPLY_SIZE - 1] = '\0';
    if (reply[0] == '\0') return info;
  }
  ExtractField(reply, "Model", info.model, MODULE_TEXT_SIZE);
  ExtractField(reply, "Build Date", info.buildDate, MODULE_TEXT_SIZE);
  return info;
}
