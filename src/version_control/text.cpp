// Space-blind text handling: product numbers come with and without their
// spaces, and the rules must not care.
#include "version_control/version_control.h"

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
