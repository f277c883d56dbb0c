// Reading the upgrade log back: the last result record.
#include "log/upgrade_log_read.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/upgrade_log_format.h"


// Parses one record at `at`; 0 when it is not of the result's form.
static int ParseResult(const char *at, const char *end, int *code, char *out, int capacity) {
  const char *p = at + sizeof upgradeLogResultMark - 1;
  int negative = p < end && *p == '-';
  if (negative) p++;
  long long value = 0;
  const char *digits = p;
  while (p < end && *p >= '0' && *p <= '9' && p - digits < 10) value = value * 10 + (*p++ - '0');
  if (p == digits || value > INT_MAX) return 0;
  size_t separator = sizeof upgradeLogResultSeparator - 1;
  if ((size_t)(end - p) < separator || std::memcmp(p, upgradeLogResultSeparator, separator) != 0) return 0;
  p += separator;
  const char *stop = p;
  while (stop < end && *stop != '\r' && *stop != '\n') stop++;
  size_t length = (size_t)(stop - p);
  if (capacity > 0) {
    if (length > (size_t)capacity - 1) length = (size_t)capacity - 1;
    std::memcpy(out, p, length);
    out[length] = '\0';
  }
  *code = (int)(negative ? -value : value);
  return 1;
}

int UpgradeLogLastResult(const char *text, size_t length, int *code, char *out, int capacity) {
  if (text == nullptr || code == nullptr || (out == nullptr && capacity > 0)) return 0;
  size_t mark = sizeof upgradeLogResultMark - 1;
  const char *end = text + length;
  for (size_t i = length >= mark ? length - mark + 1 : 0; i-- > 0;) {
    if (text[i] != 'R' || std::memcmp(text + i, upgradeLogResultMark, mark) != 0) continue;
    if (i > 0 && text[i - 1] != '\n') continue;
    if (ParseResult(text + i, end, code, out, capacity)) return 1;
  }
  return 0;
}

int UpgradeLogReadLastResult(const char *path, int *code, char *out, int capacity) {
  if (path == nullptr) return 0;
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  int found = 0;
  char *tail = (char *)std::malloc(UPGRADE_LOG_TAIL);
  if (tail != nullptr && std::fseek(file, 0, SEEK_END) == 0) {
    long size = std::ftell(file);
    long start = size > (long)UPGRADE_LOG_TAIL ? size - (long)UPGRADE_LOG_TAIL : 0;
    if (size >= 0 && std::fseek(file, start, SEEK_SET) == 0) {
      size_t got = std::fread(tail, 1, UPGRADE_LOG_TAIL, file);
      found = UpgradeLogLastResult(tail, got, code, out, capacity);
    }
  }
  std::free(tail);
  std::fclose(file);
  return found;
}
