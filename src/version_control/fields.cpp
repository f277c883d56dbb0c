// Reading the module's version replies: "label. value\r\n" lines, of which
// only a few labels matter.
#include <cstring>

#include "module_interface.h"
#include "version_control/version_control.h"

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
