// The trace's hand-off: finished lines reach the debugger output and the
// trace file in the order TraceLog was called, from a thread of their own
// once one is started, so a slow listener never holds up the caller.
#pragma once
#include <cstddef>

// Room for queued lines, in bytes. The trace of a whole transfer of the
// full package is about 6,250 lines and 830 KB (five lines of 660 bytes
// per 8192-byte chunk): this holds all of it, so a listener slower than
// the link (DebugView's handshake, at 1 ms a line) costs the transfer
// nothing, and the lines wait their turn in memory instead. Only as much
// of it is touched as the queue ever holds: it refills from its start
// whenever it has run empty.
enum { TRACE_QUEUE_BYTES = 1 << 20 };

// The longest line the queue carries, its NUL included.
enum { TRACE_QUEUE_LINE_SIZE = 4096 };

// Where each line goes, on whichever thread writes it. Handed over by the
// trace with every line, so the queue knows nothing of the outputs.
typedef void (*TraceWriter)(const char *line);

// Hands one finished line on: queued when a trace thread runs and the
// line fits, otherwise written by the caller itself, after every line
// before it. Never dropped. `writer` writes this line and the queued ones.
void TraceQueuePut(const char *line, size_t length, TraceWriter writer);

// Lines queue from here on, `capacity` bytes at most. With `withThread`
// 0 nothing takes them off but a flush or a full queue, as if the trace
// thread had not yet had its turn: what the tests use to hold lines back.
void TraceQueueStart(size_t capacity, int withThread);

// Returns when every line handed over before the call has been written.
void TraceQueueFlush();
// Writes what is queued and ends the trace thread: each caller writes its
// own line again.
void TraceQueueStop();

// Runs `inside` with the queue's lock held, as a crash inside the queue
// finds it; for the tests of the crash path.
void TraceQueueWhileLocked(void (*inside)());

// Lines written by their callers because the queue was full.
long TraceQueueOverflows();
