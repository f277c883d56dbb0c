// Developers' trace: builds each line on the stack and hands it on in one
// piece, so threads never interleave within a line.
#include "log/trace_log.h"

#include <cstdarg>
#include <cstdio>

#include "log/trace_queue.h"
#include "os/clock.h"
#include "os/debug_output.h"
#include "os/process.h"

char traceFilePath[TRACE_PATH_SIZE];

static const char levelNames[4][80] = {"FATAL", "WARNING", "INFO", "DEBUG"};

// A bounded print reports the length it wanted, not what it wrote, so the
// running offset is clamped to what the buffer really holds.
static int Advance(int used, int wanted, int size) {
  if (wanted < 0) return used;
  long next = (long)used + wanted;
  return next > size - 1 ? size - 1 : (int)next;
}

static void AppendToTraceFile(const char *line) {
  if (traceFilePath[0] == '\0') return;
  FILE *file = std::fopen(traceFilePath, "a");
  if (file == nullptr) return;  // the debugger already has the line
  std::fputs(line, file);
  std::fclose(file);
}

static_assert((int)TRACE_LINE_SIZE == (int)TRACE_QUEUE_LINE_SIZE, "the queue carries every line the trace makes");

// The queue's writer: where each line goes, on whichever thread writes it.
static void TraceEmit(const char *line) {
  OsDebugOutput(line);
  AppendToTraceFile(line);
}

void TraceLog(unsigned level, const char *source, int line, const char *function,
              const char *format, ...) {
  char text[TRACE_LINE_SIZE];
  const int size = TRACE_LINE_SIZE;
  int used = 0;
  text[0] = '\0';

  used = Advance(used, std::snprintf(text + used, size - used, "%s:%d %s: ", source, line, function), size);

  OsLocalTime now;
  OsGetLocalTime(&now);
  used = Advance(used, std::snprintf(text + used, size - used, "%02d:%02d:%02d", now.hour, now.minute, now.second), size);
  used = Advance(used, std::snprintf(text + used, size - used, " "), size);
  used = Advance(used, std::snprintf(text + used, size - used, " (%d) ", (int)OsTickCount()), size);

  if (level >= 1 && level <= 4)
    used = Advance(used, std::snprintf(text + used, size - used, "%s: ", levelNames[level - 1]), size);
  else if (level == 5)
    used = Advance(used, std::snprintf(text + used, size - used, "ENTER"), size);
  else if (level > 5)
    used = Advance(used, std::snprintf(text + used, size - used, "EXIT"), size);

  // The message leaves one character free for the closing line feed.
  if (size - used - 1 > 0) {
    va_list args;
    va_start(args, format);
    used = Advance(used, std::vsnprintf(text + used, size - used - 1, format, args), size - 1);
    va_end(args);
  }
  if (used > size - 2) used = size - 2;
  text[used++] = '\n';
  text[used] = '\0';

  TraceQueuePut(text, (size_t)used, TraceEmit);
  if (level == TRACE_FATAL) {
    // The process ends here: every line before this one goes out first.
    TraceFlush();
    OsExitProcess(1);
  }
}

void TraceStart() { TraceQueueStart(TRACE_QUEUE_BYTES, 1); }

void TraceFlush() { TraceQueueFlush(); }

void TraceStop() { TraceQueueStop(); }
