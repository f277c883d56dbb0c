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

// Hands one finished line on: queued when a trace thread runs and the
// line fits, otherwise written by the caller itself, after every line
// before it. Never dropped.
void TraceQueuePut(const char *line, size_t length);

// Where each line goes, on whichever thread writes it (trace_log.cpp).
void TraceEmit(const char *line);

// Lines queue from here on, `capacity` bytes at most. With `withThread`
// 0 nothing takes them off but a flush or a full queue, as if the trace
// thread had not yet had its turn: what the tests use to hold lines back.
void TraceQueueStart(size_t capacity, int withThread);

// Runs `inside` with the queue's lock held, as a crash inside the queue
// finds it; for the tests of the crash path.
void TraceQueueWhileLocked(void (*inside)());

// Lines written by their callers because the queue was full.
long TraceQueueOverflows();
