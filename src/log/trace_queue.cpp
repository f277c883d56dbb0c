// The trace's hand-off: one ordered stream of lines. Each line takes its
// place in the order when TraceLog hands it over; a line is written only
// after every line before it, by the trace thread or by a caller whose
// turn it is (a full queue, a flush), one writer at a time.
#include "log/trace_queue.h"

// The one thread in the program not made through the OsThread seam, and on
// purpose: the trace's thread must run beside the code it traces in every
// build. The native tests replace the seam with a fake that runs threads
// on the test's own thread, one at a time, so that the worker and the
// poll can be stepped through on the virtual clock; a trace thread made
// there would never run, or would run for ever in the test's place. The
// trace also serves the crash handler and the code before the program's
// entry, so it stands below the seams it would otherwise depend on.

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "os/process.h"

namespace {

// A queued line in the ring: its place in the order and its length, then
// its bytes and the NUL, wrapping round the end.
struct RecordHead {
  uint64_t place;
  uint32_t length;
};

struct TraceQueue {
  std::mutex lock;
  std::condition_variable work;      // the trace thread waits here
  std::condition_variable progress;  // callers waiting for their turn
  unsigned char *ring;
  size_t capacity;
  size_t head;  // where the oldest queued line starts
  size_t used;
  uint64_t nextPlace;  // given to the next line handed over
  uint64_t nextOut;    // the place of the next line to write
  bool queuing;
  bool writing;  // a thread is handing a line to the outputs, unlocked
  std::thread::id writer;
  bool threadIdle;
  int waiting;  // callers waiting on progress
  bool stopping;
  std::thread *thread;
  TraceWriter emit;  // the writer handed over with the latest line
  long overflows;
};

// Never destroyed: a line traced while the process ends still finds it.
TraceQueue &Queue() {
  static TraceQueue *queue = new TraceQueue();
  return *queue;
}

void RingWrite(TraceQueue &q, size_t at, const void *data, size_t count) {
  at %= q.capacity;
  size_t first = count < q.capacity - at ? count : q.capacity - at;
  std::memcpy(q.ring + at, data, first);
  std::memcpy(q.ring, (const unsigned char *)data + first, count - first);
}

void RingRead(const TraceQueue &q, size_t at, void *data, size_t count) {
  at %= q.capacity;
  size_t first = count < q.capacity - at ? count : q.capacity - at;
  std::memcpy(data, q.ring + at, first);
  std::memcpy((unsigned char *)data + first, q.ring, count - first);
}

size_t RecordSize(size_t length) { return sizeof(RecordHead) + length + 1; }

bool Fits(const TraceQueue &q, size_t length) {
  return q.queuing && length < TRACE_QUEUE_LINE_SIZE && q.used + RecordSize(length) <= q.capacity;
}

void Push(TraceQueue &q, uint64_t place, const char *line, size_t length) {
  RecordHead record = {place, (uint32_t)length};
  size_t tail = q.head + q.used;
  RingWrite(q, tail, &record, sizeof record);
  RingWrite(q, tail + sizeof record, line, length + 1);
  q.used += RecordSize(length);
}

// Whether the oldest queued line is the next one to write (a caller
// writing its own line may be due first).
bool HeadIsDue(const TraceQueue &q) {
  if (q.writing || q.used == 0) return false;
  RecordHead record;
  RingRead(q, q.head, &record, sizeof record);
  return record.place == q.nextOut;
}

// `line` holds TRACE_QUEUE_LINE_SIZE characters.
void Pop(TraceQueue &q, char *line) {
  RecordHead record;
  RingRead(q, q.head, &record, sizeof record);
  RingRead(q, q.head + sizeof record, line, record.length + 1);
  q.head = (q.head + RecordSize(record.length)) % q.capacity;
  q.used -= RecordSize(record.length);
  // Back to the start when empty: a queue that keeps up touches only its
  // first pages.
  if (q.used == 0) q.head = 0;
}

// One wake-up per idle spell: a signal costs the writer a call to the
// system (under Wine, a round trip to its server), so lines queued while
// the thread is still waking do not signal again.
void WakeTraceThread(TraceQueue &q) {
  if (!q.threadIdle) return;
  q.threadIdle = false;
  q.work.notify_one();
}

void Wake(TraceQueue &q) {
  if (q.waiting > 0) q.progress.notify_all();
  WakeTraceThread(q);
}

// Writes the line that is due, with the lock let go meanwhile so that
// other threads keep queueing behind a slow listener.
void WriteDue(TraceQueue &q, std::unique_lock<std::mutex> &held, const char *line) {
  q.writing = true;
  q.writer = std::this_thread::get_id();
  TraceWriter emit = q.emit;
  held.unlock();
  if (emit != nullptr) emit(line);
  held.lock();
  q.writing = false;
  q.nextOut++;
  Wake(q);
}

// Until every line placed before `limit` is out, writes the queued ones
// that are due and waits for the rest. False when this thread is the one
// writing (a crash inside the write): waiting would be for ever.
bool WriteThrough(TraceQueue &q, std::unique_lock<std::mutex> &held, uint64_t limit) {
  char line[TRACE_QUEUE_LINE_SIZE];
  while (q.nextOut < limit) {
    if (q.writing && q.writer == std::this_thread::get_id()) return false;
    if (HeadIsDue(q)) {
      Pop(q, line);
      WriteDue(q, held, line);
    } else {
      q.waiting++;
      q.progress.wait(held);
      q.waiting--;
    }
  }
  return true;
}

void RunTraceThread() {
  TraceQueue &q = Queue();
  char line[TRACE_QUEUE_LINE_SIZE];
  std::unique_lock<std::mutex> held(q.lock);
  while (!q.stopping) {
    if (HeadIsDue(q)) {
      Pop(q, line);
      WriteDue(q, held, line);
    } else {
      q.threadIdle = true;
      q.work.wait(held);
      q.threadIdle = false;  // also when the wake was spurious
    }
  }
}

// From the unhandled-exception filter: the lines before a crash still
// reach the debugger. A crash inside the queue may have left its lock
// held, by this very thread or by one that will never run again: then
// nothing more is written, and the process ends and is reported instead
// of hanging here.
void DrainOnCrash() {
  TraceQueue &q = Queue();
  std::unique_lock<std::mutex> held(q.lock, std::try_to_lock);
  if (!held.owns_lock()) return;
  WriteThrough(q, held, q.nextPlace);
}

}  // namespace

void TraceQueuePut(const char *line, size_t length, TraceWriter writer) {
  TraceQueue &q = Queue();
  std::unique_lock<std::mutex> held(q.lock);
  if (q.writing && q.writer == std::this_thread::get_id()) {
    // Traced from inside a write (a crash there): out of turn, not lost.
    held.unlock();
    if (writer != nullptr) writer(line);
    return;
  }
  q.emit = writer;
  uint64_t place = q.nextPlace++;
  if (Fits(q, length)) {
    Push(q, place, line, length);
    WakeTraceThread(q);
    return;
  }
  if (q.queuing) q.overflows++;
  WriteThrough(q, held, place);
  WriteDue(q, held, line);
}

void TraceQueueStart(size_t capacity, int withThread) {
  TraceQueue &q = Queue();
  {
    std::lock_guard<std::mutex> held(q.lock);
    if (q.queuing) return;
    q.ring = new unsigned char[capacity];
    q.capacity = capacity;
    q.head = q.used = 0;
    q.queuing = true;
    if (withThread) q.thread = new std::thread(RunTraceThread);
  }
  OsSetCrashHandler(DrainOnCrash);
}

void TraceQueueWhileLocked(void (*inside)()) {
  TraceQueue &q = Queue();
  std::lock_guard<std::mutex> held(q.lock);
  inside();
}

long TraceQueueOverflows() {
  TraceQueue &q = Queue();
  std::lock_guard<std::mutex> held(q.lock);
  return q.overflows;
}

void TraceQueueFlush() {
  TraceQueue &q = Queue();
  std::unique_lock<std::mutex> held(q.lock);
  WriteThrough(q, held, q.nextPlace);
}

void TraceQueueStop() {
  TraceQueue &q = Queue();
  std::unique_lock<std::mutex> held(q.lock);
  if (!q.queuing) return;
  std::thread *thread = q.thread;
  q.thread = nullptr;
  q.stopping = true;
  q.threadIdle = true;  // whatever it was: the thread must see the stop
  WakeTraceThread(q);
  held.unlock();
  if (thread != nullptr) {
    thread->join();
    delete thread;
  }
  held.lock();
  q.stopping = false;
  q.queuing = false;
  // Nothing can queue now; what is queued goes out before the ring does.
  WriteThrough(q, held, q.nextPlace);
  delete[] q.ring;
  q.ring = nullptr;
  q.capacity = 0;
}
