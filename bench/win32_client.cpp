// The minimal Win32 client of the transfer benchmark: the updater's
// stop-and-wait exchange written only for the bench, on a COM port opened
// and configured as the updater opens it, with nothing else in the loop.
//
//   bench_client PORT PACKAGE [--trace | --trace-behind] [--command]
//
// Sends PACKAGE in 8192-byte chunks, each behind a 24-byte magic-form
// header (--command: the command-code form), reads the 24-byte reply after
// each, then the second reply and the final "OK" line.
//
// --trace also sends to the debugger output, per chunk, as many lines of
// the same lengths as the updater's trace does for a chunk (the header
// dumps, the waits, the read and the position line), so that the cost of
// the trace itself can be told apart from what the updater's code adds.
// The lines are formatted per chunk, but the time of day is taken once:
// a minimal client has no reason to ask the clock more often.
//
// --trace-behind sends the same lines in the same order, but holds the
// three that follow a reply (the read, the reply's dump, the position)
// until the next chunk has been written, and dumps the next request after
// its writes: the trace then costs its time while the link is busy with
// the chunk, instead of between a reply and the next chunk.
//
// Prints "result <0|1> chunks <n>" and exits with the result.
//
//   bench_client --hold
//
// Does nothing: says "holding" and waits for the end of its input, so the
// bench can read what a Wine process holds before it touches a package.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

enum {
  HEADER_SIZE = 24,
  CHUNK_SIZE = 8192,
  REPLY_TIMEOUT_MS = 120000,
  ATTEMPT_MS = 1000,  // one ReadFile, as the updater's port timeouts set it
};

// The per-chunk lines of the updater's trace: where each comes from and
// what it says. The line numbers only give the lines their lengths.
enum LineKind { DUMP_REQUEST, WAIT_FOR_ACK, RECEIVED, DUMP_REPLY, FILE_POS };

struct TraceLine {
  const char *source;
  int line;
  const char *function;
  LineKind kind;
};

const TraceLine chunkTrace[] = {
    {"..\\..\\..\\src\\sf_library", 27, "DumpHeader", DUMP_REQUEST},
    {"..\\..\\..\\src\\sf_library", 64, "SFLibSendAssignment", WAIT_FOR_ACK},
    {"..\\..\\..\\src\\sf_link", 112, "SFRead", RECEIVED},
    {"..\\..\\..\\src\\sf_library", 27, "DumpHeader", DUMP_REPLY},
    {"..\\..\\..\\src\\sf_library", 78, "SFLibSendAssignment", FILE_POS},
};

struct Transfer {
  HANDLE port;
  const unsigned char *data;
  int32_t length;
  bool magic;
  bool trace;
  bool behind;  // the reply's lines after the next chunk's writes
  char timeOfDay[16];
};

uint32_t Be32(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

void PutBe32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

void Emit(const Transfer &t, const TraceLine &row, const unsigned char *header, int32_t sent, int32_t chunk) {
  char text[4096];
  int used = std::snprintf(text, sizeof text, "%s:%d %s: %s  (%d) DEBUG: ", row.source, row.line, row.function,
                           t.timeOfDay, (int)GetTickCount());
  switch (row.kind) {
    case DUMP_REQUEST:
    case DUMP_REPLY:
      used += std::snprintf(text + used, sizeof text - used,
                            "Payload 0x%x\nCommand_code 0x%x\nVersion 0x%x\nReq resp 0x%x\nResult code 0x%x\nseqNr 0x%x\n",
                            Be32(header + 20), Be32(header), Be32(header + 4), Be32(header + 8), Be32(header + 12),
                            Be32(header + 16));
      break;
    case WAIT_FOR_ACK:
      used += std::snprintf(text + used, sizeof text - used, "Wait for ack\n");
      break;
    case RECEIVED:
      used += std::snprintf(text + used, sizeof text - used, "Received %d bytes expected %d within %d ms\n",
                            HEADER_SIZE, HEADER_SIZE, REPLY_TIMEOUT_MS);
      break;
    case FILE_POS:
      used += std::snprintf(text + used, sizeof text - used, "file_pos %d, fileSize %d, sent bytes %d (%d)\n",
                            (int)sent, (int)t.length, (int)chunk, (int)(sent / t.length));
      break;
  }
  std::snprintf(text + used, sizeof text - used, "\n");
  OutputDebugStringA(text);
}

bool WriteAll(HANDLE port, const void *data, DWORD count) {
  DWORD written = 0;
  return WriteFile(port, data, count, &written, nullptr) && written == count;
}

// As the updater reads a reply: attempts of one second until the bytes are
// in or the time-out is spent.
bool ReadAll(HANDLE port, unsigned char *buffer, DWORD count) {
  DWORD got = 0;
  for (int spent = 0; got < count && spent < REPLY_TIMEOUT_MS; spent += ATTEMPT_MS) {
    DWORD n = 0;
    if (!ReadFile(port, buffer + got, count - got, &n, nullptr)) return false;
    got += n;
  }
  return got == count;
}

bool Accepted(const unsigned char *reply, bool magic) {
  if (!magic) return true;
  return std::memcmp(reply, "ZMRK", 4) == 0 && Be32(reply + 12) <= 1;
}

void BuildHeader(unsigned char *header, bool magic, int32_t chunk) {
  if (magic) {
    std::memcpy(header, "ZMRK", 4);
    PutBe32(header + 4, 0x20);
  } else {
    PutBe32(header, 0x2A);
    PutBe32(header + 4, 0x10);
  }
  PutBe32(header + 8, 1);
  PutBe32(header + 12, 0);
  PutBe32(header + 16, 0xFFFFFFFFu);
  PutBe32(header + 20, (uint32_t)chunk);
}

// A reply's trace lines, held in --trace-behind until the next chunk is
// on the wire.
struct HeldLines {
  bool held;
  unsigned char reply[HEADER_SIZE];
  int32_t acknowledged;
  int32_t chunk;
};

void EmitReplyLines(const Transfer &t, const unsigned char *reply, int32_t acknowledged, int32_t chunk) {
  Emit(t, chunkTrace[2], reply, acknowledged, chunk);
  Emit(t, chunkTrace[3], reply, acknowledged, chunk);
  Emit(t, chunkTrace[4], reply, acknowledged, chunk);
}

void Release(const Transfer &t, HeldLines *held) {
  if (held->held) EmitReplyLines(t, held->reply, held->acknowledged, held->chunk);
  held->held = false;
}

// The exchange: returns the number of chunks, negative when it failed.
int Send(const Transfer &t) {
  unsigned char header[HEADER_SIZE];
  HeldLines held = {};
  int32_t sent = 0;
  int chunks = 0;
  while (sent < t.length) {
    int32_t chunk = t.length - sent < CHUNK_SIZE ? t.length - sent : CHUNK_SIZE;
    BuildHeader(header, t.magic, chunk);
    if (t.trace && !t.behind) Emit(t, chunkTrace[0], header, sent, chunk);
    if (!WriteAll(t.port, header, HEADER_SIZE) || !WriteAll(t.port, t.data + sent, (DWORD)chunk)) return -1;
    if (t.behind) {
      Release(t, &held);
      Emit(t, chunkTrace[0], header, sent, chunk);
    }
    if (t.trace) Emit(t, chunkTrace[1], header, sent, chunk);
    if (!ReadAll(t.port, header, HEADER_SIZE)) return -1;
    if (!Accepted(header, t.magic)) return -1;
    sent += chunk;
    chunks++;
    if (t.behind) {
      held = {true, {}, sent, chunk};
      std::memcpy(held.reply, header, HEADER_SIZE);
    } else if (t.trace) {
      EmitReplyLines(t, header, sent, chunk);
    }
  }
  Release(t, &held);
  if (!ReadAll(t.port, header, HEADER_SIZE) || !Accepted(header, t.magic)) return -1;
  // The final result line. Asked for by its length: a longer request
  // would sit out the port's one-second time-out.
  static const char ok[] = "\r\nOK\r\n";
  unsigned char line[sizeof ok - 1];
  if (!ReadAll(t.port, line, sizeof line) || std::memcmp(line, ok, sizeof line) != 0) return -1;
  return chunks;
}

HANDLE OpenPort(const char *name) {
  HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (port == INVALID_HANDLE_VALUE) return port;
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  COMMTIMEOUTS timeouts = {MAXDWORD, 0, ATTEMPT_MS, 0, 1000};
  if (!SetupComm(port, 20000, 20000) || !GetCommState(port, &dcb)) goto fail;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fAbortOnError = TRUE;
  if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &timeouts)) goto fail;
  PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  return port;
fail:
  CloseHandle(port);
  return INVALID_HANDLE_VALUE;
}

// One buffer of the file's size, read once: the client holds exactly one
// copy of the package, as the updater holds its image.
bool Load(const char *path, std::vector<unsigned char> *data) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  long length = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  bool ok = length > 0 && length < 0x7FFFFFFF && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    data->resize((size_t)length);
    ok = std::fread(data->data(), 1, data->size(), file) == data->size();
  }
  std::fclose(file);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--hold") == 0) {
    std::printf("holding\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_client PORT PACKAGE [--trace | --trace-behind] [--command] | --hold\n");
    return 2;
  }
  Transfer t = {};
  t.magic = true;
  for (int i = 3; i < argc; i++) {
    if (std::strcmp(argv[i], "--trace") == 0) t.trace = true;
    else if (std::strcmp(argv[i], "--trace-behind") == 0) t.trace = t.behind = true;
    else if (std::strcmp(argv[i], "--command") == 0) t.magic = false;
    else return 2;
  }
  std::vector<unsigned char> data;
  if (!Load(argv[2], &data)) {
    std::fprintf(stderr, "bench_client: cannot read %s\n", argv[2]);
    return 2;
  }
  t.data = data.data();
  t.length = (int32_t)data.size();
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::snprintf(t.timeOfDay, sizeof t.timeOfDay, "%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);

  t.port = OpenPort(argv[1]);
  if (t.port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "bench_client: cannot open %s (%lu)\n", argv[1], GetLastError());
    return 2;
  }
  int chunks = Send(t);
  CloseHandle(t.port);
  std::printf("result %d chunks %d\n", chunks < 0 ? 1 : 0, chunks < 0 ? 0 : chunks);
  return chunks < 0 ? 1 : 0;
}
