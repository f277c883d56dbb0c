// A debugger-output listener for the transfer benchmark, reading the way
// DebugView does: the shared DBWIN_BUFFER (the writer's process id, then
// the text) and its two events, DBWIN_BUFFER_READY (the listener may take
// a line) and DBWIN_DATA_READY (a line is in). It is slow on purpose:
// after each line it takes --per-line-ms (default 1) before it says the
// buffer is ready again, and every OutputDebugStringA of every process
// waits for that.
//
//   bench_listener [--per-line-ms N]
//
// Says "listening" once it holds the buffer, then reads until its input
// ends, and prints "lines <n> bytes <n> processes <n>".
//
//   bench_listener --stand-in COUNT
//
// Where the system's OutputDebugStringA does not talk to a listener, the
// same handshake, played by this program's own writer thread against its
// listener: COUNT lines, each as a writer would hand it over (wait for the
// buffer, write, signal). Prints "stand-in lines <n> seconds <s>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct DbwinBuffer {
  DWORD processId;
  char text[4096 - sizeof(DWORD)];
};

HANDLE bufferReady, dataReady, stopped;
DbwinBuffer *shared;
int perLineMs = 1;

DWORD WINAPI WatchInput(LPVOID) {
  while (std::getchar() != EOF) {
  }
  SetEvent(stopped);
  return 0;
}

// Sleep(1) rounds up to the scheduler's tick on Windows; under Wine it is
// close to 1 ms. Either way it is the listener's cost, not the writer's.
void TakeTime() {
  if (perLineMs > 0) Sleep((DWORD)perLineMs);
}

bool Open() {
  // The writer waits on this mutex first (on Windows it exists anyway).
  CreateMutexA(nullptr, FALSE, "DBWinMutex");
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DbwinBuffer),
                                      "DBWIN_BUFFER");
  bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  if (mapping == nullptr || bufferReady == nullptr || dataReady == nullptr) return false;
  shared = (DbwinBuffer *)MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DbwinBuffer));
  return shared != nullptr;
}

int Listen() {
  stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
  std::printf("listening\n");
  std::fflush(stdout);
  long lines = 0, bytes = 0;
  DWORD processes[64];
  int processCount = 0;
  HANDLE waits[2] = {dataReady, stopped};
  SetEvent(bufferReady);
  for (;;) {
    DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (which != WAIT_OBJECT_0) break;
    lines++;
    bytes += (long)strnlen(shared->text, sizeof shared->text);
    bool known = false;
    for (int i = 0; i < processCount; i++) known = known || processes[i] == shared->processId;
    if (!known && processCount < 64) processes[processCount++] = shared->processId;
    TakeTime();
    SetEvent(bufferReady);
  }
  std::printf("lines %ld bytes %ld processes %d\n", lines, bytes, processCount);
  return 0;
}

// The writer's side of the handshake, as OutputDebugStringA does it.
DWORD WINAPI StandInWriter(LPVOID parameter) {
  long count = (long)(INT_PTR)parameter;
  static const char line[] = "..\\..\\..\\src\\sf_library:64 SFLibSendAssignment: 12:00:00  (1000) DEBUG: Wait for ack\n\n";
  for (long i = 0; i < count; i++) {
    if (WaitForSingleObject(bufferReady, 10000) != WAIT_OBJECT_0) continue;
    shared->processId = GetCurrentProcessId();
    std::memcpy(shared->text, line, sizeof line);
    SetEvent(dataReady);
  }
  return 0;
}

int StandIn(long count) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  HANDLE writer = CreateThread(nullptr, 0, StandInWriter, (LPVOID)(INT_PTR)count, 0, nullptr);
  SetEvent(bufferReady);
  long lines = 0;
  while (lines < count) {
    if (WaitForSingleObject(dataReady, 10000) != WAIT_OBJECT_0) break;
    lines++;
    TakeTime();
    SetEvent(bufferReady);
  }
  WaitForSingleObject(writer, INFINITE);
  QueryPerformanceCounter(&end);
  std::printf("stand-in lines %ld seconds %.3f\n", lines,
              (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart);
  return lines == count ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  long standIn = -1;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--per-line-ms") == 0 && i + 1 < argc) perLineMs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--stand-in") == 0 && i + 1 < argc) standIn = std::atol(argv[++i]);
    else {
      std::fprintf(stderr, "usage: bench_listener [--per-line-ms N] [--stand-in COUNT]\n");
      return 2;
    }
  }
  if (!Open()) {
    std::fprintf(stderr, "bench_listener: cannot make the DBWIN objects (%lu)\n", GetLastError());
    return 2;
  }
  return standIn >= 0 ? StandIn(standIn) : Listen();
}
