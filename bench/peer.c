/* The module peer of the transfer benchmark (Linux).
 *
 * Plays the module's side of one pseudo-terminal for every client of a
 * bench run: the AT commands that open the update-mode link, then the
 * framed exchange (a 24-byte header and its chunk in, the header back with
 * result code 1; one more reply and "OK" after the last chunk). Every
 * payload byte is compared with the package the peer was told to expect,
 * so a run that sent anything else, or anything out of order, is reported
 * as such and not timed as a transfer.
 *
 * It is written to cost the exchange nothing measurable: no allocation, no
 * output and no formatting between the first header and the final reply,
 * one poll and as few reads as the pty allows per chunk. Paced, it hands
 * each reply out only when a link of the given rate would have delivered
 * the message, like a USB modem that takes 1 MB/s.
 *
 * Control lines on stdin, answers on stdout (one line each):
 *   expect PATH     the package to compare with          -> EXPECT <length>
 *   pace BPS        link rate in bytes/s, 0 = unpaced     -> PACE <bps> realtime=<0|1>
 *   version N       protocol version the module reports   -> VERSION <n>
 *   watch PID...    processes whose CPU time a transfer
 *                   reports (all their threads)           -> WATCH <count>
 *   reset           forget a half-done package, echo on   -> [INCOMPLETE ...] RESET
 *   quit
 * Unprompted:
 *   READY <pty>     once, at start
 *   DONE bytes=... after each whole package: bytes, chunks, first differing
 *                  offset (-1), refused headers, the transfer's ns, the
 *                  peer's own CPU ns, ns the paced replies were late, the
 *                  first watched process's peak RSS (kB) at the first
 *                  header and at the end, when the first header byte came
 *                  (CLOCK_MONOTONIC ns), each watched process's CPU ns
 *   BAD ...         the first header of a package this module refuses
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum {
  HEADER_SIZE = 24,
  MAX_PAYLOAD = 8192,
  MAGIC_VERSION = 0x20,
  COMMAND_FORM_VERSION = 0x10,
  COMMAND_CODE = 0x2A,
  MAX_LINE = 1024,
  MAX_WATCH = 8,
  WAKE_EARLY_NS = 60000, /* paced: how early the timer is set */
  RESULT_ACCEPT = 1,
  RESULT_REFUSE = 5,
};

static const char kModel[] = "Norvane M7120x Mobile Broadband Module";

struct Peer {
  int master;
  int slave; /* kept open, so a client that closes the port is no hang-up */
  unsigned char in[1 << 16];
  size_t have;
  int echo;
  uint32_t version;

  unsigned char *expected;
  long long expectedLength;
  long long paceBps;

  /* the package on its way in */
  int active;
  unsigned char header[HEADER_SIZE];
  long long payloadLeft;
  long long skipLeft;
  long long received;
  long long mismatchAt; /* first payload offset that differs, -1 */
  int chunks;
  int badHeaders;
  int64_t started;
  int64_t messageStart; /* when the current header's first byte was read */
  int64_t linkFree;     /* paced: when the link has delivered all so far */
  int64_t lateNs;       /* paced: how much later than due the replies left */

  int watchCount;
  int watch[MAX_WATCH];
  int64_t watchStart[MAX_WATCH];
  int64_t peerCpuStart;
  long long startPeakKb;
};

static struct Peer peer;

static int64_t NowNs(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static uint32_t Be32(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void PutBe32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

/* CPU time of every thread of a process, from the scheduler's own ns
 * count: the tick-based figures of /proc/PID/stat are too coarse for a
 * transfer that lasts a fifth of a second. -1 when the process is gone. */
static int64_t ProcessCpuNs(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/task", pid);
  DIR *tasks = opendir(path);
  if (tasks == NULL) return -1;
  int64_t total = 0;
  struct dirent *entry;
  while ((entry = readdir(tasks)) != NULL) {
    if (entry->d_name[0] == '.') continue;
    char stat[320];
    snprintf(stat, sizeof stat, "/proc/%d/task/%s/schedstat", pid, entry->d_name);
    FILE *file = fopen(stat, "r");
    if (file == NULL) continue;
    long long ns = 0;
    if (fscanf(file, "%lld", &ns) == 1) total += ns;
    fclose(file);
  }
  closedir(tasks);
  return total;
}

/* The peak resident size of a process's current image, in kB; -1 when
 * gone. Taken at the end of a transfer, while the client still runs: its
 * rusage after exit would also count what its launcher held before exec. */
static long long PeakKb(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", pid);
  FILE *file = fopen(path, "r");
  if (file == NULL) return -1;
  char line[256];
  long long kb = -1;
  while (fgets(line, sizeof line, file) != NULL)
    if (sscanf(line, "VmHWM: %lld", &kb) == 1) break;
  fclose(file);
  return kb;
}

static void WriteAll(const void *data, size_t length) {
  const unsigned char *bytes = data;
  while (length > 0) {
    ssize_t n = write(peer.master, bytes, length);
    if (n > 0) {
      bytes += n;
      length -= (size_t)n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
      perror("peer: write");
      exit(1);
    }
    /* Full, or nobody on the port: wait for room rather than spin. */
    struct pollfd out = {peer.master, POLLOUT, 0};
    if (poll(&out, 1, 1000) <= 0 && n < 0 && errno == EIO) return;
  }
}

static void Reply(const char *text) { WriteAll(text, strlen(text)); }

static void ResetPackage(void) {
  peer.active = 0;
  peer.payloadLeft = 0;
  peer.skipLeft = 0;
  peer.received = 0;
  peer.mismatchAt = -1;
  peer.chunks = 0;
  peer.badHeaders = 0;
  peer.lateNs = 0;
}

static void StartPackage(void) {
  peer.active = 1;
  peer.started = peer.messageStart;
  peer.linkFree = peer.messageStart;
  for (int i = 0; i < peer.watchCount; i++) peer.watchStart[i] = ProcessCpuNs(peer.watch[i]);
  peer.startPeakKb = peer.watchCount > 0 ? PeakKb(peer.watch[0]) : -1;
  peer.peerCpuStart = NowNs(CLOCK_PROCESS_CPUTIME_ID);
}

static void FinishPackage(void) {
  int64_t ended = NowNs(CLOCK_MONOTONIC);
  int64_t peerCpu = NowNs(CLOCK_PROCESS_CPUTIME_ID) - peer.peerCpuStart;
  printf("DONE bytes=%lld chunks=%d mismatch=%lld bad_headers=%d transfer_ns=%lld peer_cpu_ns=%lld late_ns=%lld "
         "start_kb=%lld peak_kb=%lld first_ns=%lld cpu_ns=",
         peer.received, peer.chunks, peer.mismatchAt, peer.badHeaders, (long long)(ended - peer.started),
         (long long)peerCpu, (long long)peer.lateNs, peer.startPeakKb,
         peer.watchCount > 0 ? PeakKb(peer.watch[0]) : -1LL, (long long)peer.started);
  for (int i = 0; i < peer.watchCount; i++) {
    int64_t now = ProcessCpuNs(peer.watch[i]);
    long long used = (now < 0 || peer.watchStart[i] < 0) ? -1 : (long long)(now - peer.watchStart[i]);
    printf("%s%lld", i ? "," : "", used);
  }
  printf("\n");
  fflush(stdout);
  ResetPackage();
}

/* Paced: the message (header and chunk) needs its bytes' time on the link,
 * from when it began or the link fell free, whichever is later. The timer
 * is set a little early and the rest spun: a wake-up in a virtual machine
 * comes tens of microseconds late, which over 1,247 chunks is 1 % of the
 * link's time charged to the client. */
static void WaitForTheLink(long long messageBytes) {
  if (peer.paceBps <= 0) return;
  int64_t begin = peer.messageStart > peer.linkFree ? peer.messageStart : peer.linkFree;
  int64_t due = begin + (int64_t)(messageBytes * 1000000000LL / peer.paceBps);
  peer.linkFree = due;
  int64_t wake = due - WAKE_EARLY_NS;
  struct timespec until = {(time_t)(wake / 1000000000), (long)(wake % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
  }
  int64_t now;
  while ((now = NowNs(CLOCK_MONOTONIC)) < due) {
  }
  peer.lateNs += now - due;
}

static void SendReply(const unsigned char *request, uint32_t result, int final) {
  unsigned char reply[2 * HEADER_SIZE + 8];
  memcpy(reply, request, HEADER_SIZE);
  PutBe32(reply + 12, result);
  size_t length = HEADER_SIZE;
  if (final) {
    memcpy(reply + HEADER_SIZE, reply, HEADER_SIZE);
    memcpy(reply + 2 * HEADER_SIZE, "\r\nOK\r\n", 6);
    length = 2 * HEADER_SIZE + 6;
  }
  WriteAll(reply, length);
}

static void OnChunk(void) {
  peer.chunks++;
  WaitForTheLink(HEADER_SIZE + Be32(peer.header + 20));
  int last = peer.expectedLength > 0 && peer.received >= peer.expectedLength;
  SendReply(peer.header, RESULT_ACCEPT, last);
  if (last) FinishPackage();
}

/* What is wrong with a request header, or NULL. */
static const char *HeaderProblem(const unsigned char *h) {
  int magic = memcmp(h, "ZMRK", 4) == 0;
  if (magic != (peer.version == MAGIC_VERSION)) return "form";
  if (!magic && Be32(h) != COMMAND_CODE) return "command_code";
  if (Be32(h + 4) != (magic ? MAGIC_VERSION : COMMAND_FORM_VERSION)) return "version";
  if (Be32(h + 8) != 1) return "req_resp";
  if (Be32(h + 12) != 0) return "result_code";
  if (Be32(h + 16) != 0xFFFFFFFFu) return "seq_nr";
  uint32_t payload = Be32(h + 20);
  if (payload < 1 || payload > MAX_PAYLOAD) return "payload";
  return NULL;
}

static void OnHeader(const unsigned char *h) {
  if (!peer.active) StartPackage();
  const char *problem = HeaderProblem(h);
  if (problem == NULL) {
    memcpy(peer.header, h, HEADER_SIZE);
    peer.payloadLeft = Be32(h + 20);
    return;
  }
  /* The first one says why; DONE or INCOMPLETE count them all. */
  if (++peer.badHeaders == 1) {
    printf("BAD %s chunk=%d\n", problem, peer.chunks + 1);
    fflush(stdout);
  }
  SendReply(h, RESULT_REFUSE, 0);
  Reply("\r\nERROR\r\n");
  uint32_t payload = Be32(h + 20);
  peer.skipLeft = payload <= MAX_PAYLOAD ? payload : 0;
}

static void OnLine(const char *line) {
  if (line[0] == '\0') return;
  char echo[MAX_LINE + 2];
  if (peer.echo) {
    snprintf(echo, sizeof echo, "%s\r", line);
    Reply(echo);
  }
  if (strcasecmp(line, "ATE0") == 0) {
    peer.echo = 0;
    Reply("\r\nOK\r\n");
  } else if (strcasecmp(line, "ATE1") == 0 || strcasecmp(line, "ATE") == 0) {
    peer.echo = 1;
    Reply("\r\nOK\r\n");
  } else if (strcasecmp(line, "AT+CGMM") == 0) {
    char text[128];
    snprintf(text, sizeof text, "\r\n%s\r\n\r\nOK\r\n", kModel);
    Reply(text);
  } else if (strcasecmp(line, "AT*QESFUD?") == 0) {
    char text[128];
    snprintf(text, sizeof text, "\r\n*QESFUD: {state 0, version 0x%08x}\r\n\r\nOK\r\n", peer.version);
    Reply(text);
  } else if (strcasecmp(line, "AT") == 0 || strcasecmp(line, "vers=1") == 0 ||
             strncasecmp(line, "AT*QESFUD=", 10) == 0) {
    Reply("\r\nOK\r\n");
  } else {
    Reply("\r\nERROR\r\n");
  }
}

static void TakePayload(const unsigned char *bytes, long long n) {
  if (peer.mismatchAt < 0) {
    long long fits = peer.expectedLength - peer.received;
    if (fits < 0) fits = 0;
    long long compare = n < fits ? n : fits;
    if (compare > 0 && memcmp(bytes, peer.expected + peer.received, (size_t)compare) != 0) {
      long long i = 0;
      while (bytes[i] == peer.expected[peer.received + i]) i++;
      peer.mismatchAt = peer.received + i;
    } else if (compare < n) {
      peer.mismatchAt = peer.expectedLength;  /* more than the package */
    }
  }
  peer.received += n;
  peer.payloadLeft -= n;
  if (peer.payloadLeft == 0) OnChunk();
}

/* Works through what has arrived; keeps an incomplete header or line. */
static void Consume(void) {
  size_t pos = 0;
  for (;;) {
    size_t left = peer.have - pos;
    if (left == 0) break;
    unsigned char *p = peer.in + pos;
    if (peer.payloadLeft > 0) {
      long long n = peer.payloadLeft < (long long)left ? peer.payloadLeft : (long long)left;
      pos += (size_t)n;
      TakePayload(p, n);
      continue;
    }
    if (peer.skipLeft > 0) {
      long long n = peer.skipLeft < (long long)left ? peer.skipLeft : (long long)left;
      pos += (size_t)n;
      peer.skipLeft -= n;
      continue;
    }
    if (p[0] == 'Z' || p[0] == 0) {
      if (left < 4) break;
      if (memcmp(p, "ZMRK", 4) == 0 || Be32(p) == COMMAND_CODE) {
        if (left < HEADER_SIZE) break;
        pos += HEADER_SIZE;
        OnHeader(p);
        continue;
      }
    }
    if (p[0] == '\r' || p[0] == '\n' || p[0] == 0) {
      pos++;
      continue;
    }
    unsigned char *end = memchr(p, '\r', left);
    if (end == NULL) {
      if (left > MAX_LINE) pos = peer.have; /* no command is this long */
      break;
    }
    char line[MAX_LINE + 1];
    size_t length = (size_t)(end - p) < MAX_LINE ? (size_t)(end - p) : MAX_LINE;
    size_t kept = 0;
    for (size_t i = 0; i < length; i++)
      if (p[i] != '\n') line[kept++] = (char)p[i];
    line[kept] = '\0';
    pos += (size_t)(end - p) + 1;
    OnLine(line);
  }
  memmove(peer.in, peer.in + pos, peer.have - pos);
  peer.have -= pos;
}

/* Reads and works through all that is there. */
static void ReadPort(void) {
  for (;;) {
    ssize_t n = read(peer.master, peer.in + peer.have, sizeof peer.in - peer.have);
    if (n <= 0) return;
    /* A message is timed from the read that brought its first byte. */
    if (peer.have == 0 && peer.payloadLeft == 0 && peer.skipLeft == 0) peer.messageStart = NowNs(CLOCK_MONOTONIC);
    peer.have += (size_t)n;
    Consume();
    if (peer.have == sizeof peer.in) peer.have = 0; /* garbage without end */
  }
}

/* Paced, the peer's replies are the link's clock: a real-time priority
 * keeps the busy machine's other work from delaying them (the peer sleeps
 * nearly all the time, so it takes nobody's share). Best effort: without
 * the right to it, lateness is still measured and reported. */
static int KeepTime(int on) {
  struct sched_param param = {0};
  param.sched_priority = on ? 10 : 0;
  return sched_setscheduler(0, on ? SCHED_FIFO : SCHED_OTHER, &param) == 0 && on;
}

static int LoadExpected(const char *path) {
  FILE *file = fopen(path, "rb");
  if (file == NULL) return -1;
  free(peer.expected);
  peer.expected = NULL;
  peer.expectedLength = 0;
  if (fseek(file, 0, SEEK_END) != 0) {
    fclose(file);
    return -1;
  }
  long length = ftell(file);
  rewind(file);
  unsigned char *data = length > 0 ? malloc((size_t)length) : NULL;
  if (data == NULL || fread(data, 1, (size_t)length, file) != (size_t)length) {
    free(data);
    fclose(file);
    return -1;
  }
  fclose(file);
  peer.expected = data;
  peer.expectedLength = length;
  return 0;
}

static int OnControl(char *line) {
  char *command = strtok(line, " \t\r\n");
  if (command == NULL) return 1;
  if (strcmp(command, "expect") == 0) {
    char *path = strtok(NULL, "\r\n");
    printf("EXPECT %lld\n", path != NULL && LoadExpected(path) == 0 ? peer.expectedLength : -1LL);
  } else if (strcmp(command, "pace") == 0) {
    char *value = strtok(NULL, " \t\r\n");
    peer.paceBps = value != NULL ? atoll(value) : 0;
    printf("PACE %lld realtime=%d\n", peer.paceBps, KeepTime(peer.paceBps > 0));
  } else if (strcmp(command, "version") == 0) {
    char *value = strtok(NULL, " \t\r\n");
    peer.version = value != NULL ? (uint32_t)strtoul(value, NULL, 0) : MAGIC_VERSION;
    printf("VERSION %u\n", peer.version);
  } else if (strcmp(command, "watch") == 0) {
    peer.watchCount = 0;
    char *pid;
    while ((pid = strtok(NULL, " \t\r\n")) != NULL && peer.watchCount < MAX_WATCH)
      peer.watch[peer.watchCount++] = atoi(pid);
    printf("WATCH %d\n", peer.watchCount);
  } else if (strcmp(command, "reset") == 0) {
    if (peer.active)
      printf("INCOMPLETE bytes=%lld chunks=%d mismatch=%lld bad_headers=%d\n", peer.received, peer.chunks,
             peer.mismatchAt, peer.badHeaders);
    ResetPackage();
    tcflush(peer.master, TCIOFLUSH);
    peer.have = 0;
    peer.echo = 1;
    peer.messageStart = 0;
    printf("RESET\n");
  } else if (strcmp(command, "quit") == 0) {
    return 0;
  } else {
    printf("UNKNOWN %s\n", command);
  }
  fflush(stdout);
  return 1;
}

int main(void) {
  /* Timer slack would make every paced reply up to 50 us late. */
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

  peer.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (peer.master < 0 || grantpt(peer.master) != 0 || unlockpt(peer.master) != 0) {
    perror("peer: pty");
    return 1;
  }
  const char *name = ptsname(peer.master);
  peer.slave = open(name, O_RDWR | O_NOCTTY);
  struct termios raw;
  if (peer.slave < 0 || tcgetattr(peer.slave, &raw) != 0) {
    perror("peer: pty slave");
    return 1;
  }
  cfmakeraw(&raw);
  tcsetattr(peer.slave, TCSANOW, &raw);
  fcntl(peer.master, F_SETFL, fcntl(peer.master, F_GETFL) | O_NONBLOCK);
  peer.echo = 1;
  peer.version = MAGIC_VERSION;
  ResetPackage();
  printf("READY %s\n", name);
  fflush(stdout);

  char control[4096];
  size_t controlHave = 0;
  for (;;) {
    struct pollfd fds[2] = {{peer.master, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      perror("peer: poll");
      return 1;
    }
    if (fds[0].revents & POLLIN) ReadPort();
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      ssize_t n = read(0, control + controlHave, sizeof control - 1 - controlHave);
      if (n <= 0) return 0;
      controlHave += (size_t)n;
      char *start = control;
      char *newline;
      while ((newline = memchr(start, '\n', controlHave - (size_t)(start - control))) != NULL) {
        *newline = '\0';
        if (!OnControl(start)) return 0;
        start = newline + 1;
      }
      controlHave -= (size_t)(start - control);
      memmove(control, start, controlHave);
      if (controlHave == sizeof control - 1) controlHave = 0;
    }
  }
}
