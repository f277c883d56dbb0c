// The upgrade log. Each record opens, appends and closes the file, so
// records from two threads interleave only as whole records, and a file
// that cannot be opened costs the run nothing.
#include "log/upgrade_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/upgrade_log_format.h"
#include "os/clock.h"

static char *logPath;

// Indexed by the run's result code (UpdateResultCode, beside
// RunSetResult), which this lower layer does not include.
static const char *const resultTexts[] = {
    "Upgrade finishied succesfully\r\n",  // RESULT_SUCCESS
    "Unknown error\r\n",                  // RESULT_UNKNOWN_ERROR
    "This version is not supported\r\n",  // RESULT_NOT_SUPPORTED
    "Sim missing\r\n",                    // RESULT_SIM_MISSING
    "Pin error\r\n",                      // RESULT_PIN_ERROR
    "Update failed\r\n",                  // RESULT_UPDATE_FAILED
    "Upgrade path error\r\n",             // RESULT_UPGRADE_PATH_ERROR
    "Version did not change\r\n",         // RESULT_VERSION_UNCHANGED
    "Timeout\r\n",                        // RESULT_TIMEOUT
    "Battery low\r\n",                    // RESULT_BATTERY_LOW
};

const char *UpgradeLogResultText(int code) {
  if (code < 0 || code >= (int)(sizeof resultTexts / sizeof resultTexts[0]))
    return "Unknown return code\r\n";
  return resultTexts[code];
}

// Support's tools read the file as the Windows C runtime's text mode
// writes it: every LF becomes CR LF, so a record's own "\r\n" lands as
// CR CR LF. The translation is done here so both builds write the same
// bytes, whatever their C runtime.
static void AppendTextMode(const char *text, size_t length) {
  if (logPath == nullptr) return;
  FILE *file = std::fopen(logPath, "ab");
  if (file == nullptr) return;
  size_t start = 0;
  for (size_t i = 0; i < length; i++) {
    if (text[i] != '\n') continue;
    std::fwrite(text + start, 1, i - start, file);
    std::fwrite("\r\n", 1, 2, file);
    start = i + 1;
  }
  std::fwrite(text + start, 1, length - start, file);
  std::fclose(file);
}

static void AppendFormatted(const char *format, va_list args) PRINTF_CHECK(1, 0);
static void AppendFormatted(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int wanted = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (wanted < 0) return;
  if ((size_t)wanted < sizeof small) {
    AppendTextMode(small, (size_t)wanted);
    return;
  }
  char *large = (char *)std::malloc((size_t)wanted + 1);
  if (large == nullptr) return;
  std::vsnprintf(large, (size_t)wanted + 1, format, args);
  AppendTextMode(large, (size_t)wanted);
  std::free(large);
}

void UpgradeLogOpen(const char *path) {
  if (path == nullptr) return;
  size_t length = std::strlen(path);
  char *copy = (char *)std::malloc(length + 1);
  if (copy == nullptr) return;
  std::memcpy(copy, path, length + 1);
  std::free(logPath);
  logPath = copy;
  UpgradeLogWrite("%s", upgradeLogBanner);
}

void UpgradeLogForget() {
  std::free(logPath);
  logPath = nullptr;
}

int UpgradeLogWrite(const char *format, ...) {
  if (logPath == nullptr) return 0;
  va_list args;
  va_start(args, format);
  AppendFormatted(format, args);
  va_end(args);
  return 0;
}

// The C library's ctime() form, "Wed Jan  2 02:03:55 1980\n", built from
// the seam's local time: ctime itself shares one static buffer between
// threads.
static void FormatCtime(const OsLocalTime *t, char *text, size_t capacity) {
  int weekday = t->weekday >= 0 && t->weekday < 7 ? t->weekday : 0;
  int month = t->month >= 1 && t->month <= 12 ? t->month - 1 : 0;
  std::snprintf(text, capacity, "%.3s %.3s%3d %02d:%02d:%02d %d\n", upgradeLogDays[weekday], upgradeLogMonths[month],
                t->day, t->hour, t->minute, t->second, t->year);
}

void UpgradeLogRunHeader(const RunInfo *info) {
  if (info == nullptr) return;
  OsLocalTime now;
  OsGetLocalTime(&now);
  char when[26];
  FormatCtime(&now, when, sizeof when);
  UpgradeLogWrite("%s%s", upgradeLogTimeMark, when);
  UpgradeLogWrite("%s%.255s\r\n", upgradeLogProgramMark, info->slot[0]);
  UpgradeLogWrite("%s%.255s\r\n", upgradeLogDriverMark, info->slot[1]);
  UpgradeLogWrite("%s%.255s\r\n", upgradeLogDriverPackageMark, info->slot[2]);
  UpgradeLogWrite("%s%.255s%s%.255s\r\n", upgradeLogFirmwareMark, info->slot[3], upgradeLogFirmwareArrow, info->slot[4]);
  UpgradeLogWrite("%s%.255s\r\n", upgradeLogHardwareMark, info->slot[7]);
}

void UpgradeLogForced() { UpgradeLogWrite("%s", upgradeLogForced); }

int UpgradeLogResult(int code) {
  UpgradeLogWrite("\r\n%s%d%s", upgradeLogResultMark, code, upgradeLogResultSeparator);
  UpgradeLogWrite("%s", UpgradeLogResultText(code));
  UpgradeLogWrite("%s", upgradeLogClosing);
  return 0;
}
