// Developers' trace: one formatted line per call, sent to the debugger.
#pragma once
#include "printf_check.h"

enum TraceLevel {
  TRACE_FATAL = 1,
  TRACE_WARNING = 2,
  TRACE_INFO = 3,
  TRACE_DEBUG = 4,
  TRACE_ENTER = 5,
  TRACE_EXIT = 6,
};

enum { TRACE_LINE_SIZE = 4096, TRACE_PATH_SIZE = 260 };

// Empty by default: the product never sets it. When set, each line is
// also appended to that file.
extern char traceFilePath[TRACE_PATH_SIZE];

void TraceLog(unsigned level, const char *source, int line, const char *function,
              const char *format, ...) PRINTF_CHECK(5, 6);

// Call sites name a level and a message. Each traced file defines its own
// traceThreshold and traceSource; a filtered level costs one comparison,
// with no formatting and no call.
#define TRACE(level, ...)                                                      \
  do {                                                                         \
    if (traceThreshold >= (level))                                             \
      TraceLog((level), traceSource, __LINE__, __func__, __VA_ARGS__);         \
  } while (0)
