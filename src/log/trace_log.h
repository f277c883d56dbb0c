// Developers' trace: one formatted line per call, sent to the debugger.
#pragma once
#include "common/printf_check.h"

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

// Once started, lines are formatted where they are traced (their time
// and tick are the call's) and written by a thread of the trace's own, in
// the order of the calls; before that, each call writes its own line.
// Started once by the program's entry.
void TraceStart();
// Returns when every line traced before the call has been written: before
// a message box, before the process ends, and on a crash.
void TraceFlush();
// Writes what is queued and ends the trace thread: each call writes its
// own line again.
void TraceStop();

// Off only in a benchmark's build, to see what the design could reach
// without its trace; the product always traces.
#ifdef QUILLON_TRACE_OFF
#define TRACE_BUILT_IN 0
#else
#define TRACE_BUILT_IN 1
#endif

// Call sites name a level and a message. Each traced file defines its own
// traceThreshold and traceSource; a filtered level costs one comparison,
// with no formatting and no call.
//
// The source is the file's path as "..\\..\\..\\src\\app\\worker" names
// src/app/worker.cpp, but for six units that the trace's format names and
// support filters traces by. Their files keep the unit's name and its
// threshold wherever the file lives:
//
//   unit               threshold  files
//   src\sf_link        4          update/sf_link.cpp
//   src\sf_library     4          update/sf_library.cpp
//   src\winserial      4          serial/winserial.cpp, serial/winserial_discovery.cpp
//   src\at             4          at/at.cpp
//   src\devices        3          device_open/device_open.cpp
//   src\sf_util        2          app/sf_util.cpp
//
// tests/native/log/trace_source_test.cpp reads every file's source.
#define TRACE(level, ...)                                                      \
  do {                                                                         \
    if (TRACE_BUILT_IN && traceThreshold >= (level))                           \
      TraceLog((level), traceSource, __LINE__, __func__, __VA_ARGS__);         \
  } while (0)
