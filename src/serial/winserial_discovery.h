// Discovery of the module's candidate ports: device interfaces of the
// modem class first, then the registry's serial ports.
#pragma once

// Fills `list` (capacity entries of stride bytes, zero-filled by the
// caller) with candidate port paths; `fragments` ends with nullptr.
// Returns the number of entries filled.
int SerialGetPorts(char *list, int capacity, int stride, const char *const *fragments);
int EnumerateFriendlySerialPorts(char *list, int capacity, int stride);
int CheckIfInPreferedmdmTable(const char *friendlyName);
