/* The simplest peer that can answer the exchange (Linux): for showing that
 * the module peer adds nothing to a transfer's time. It reads a header and
 * its chunk with blocking reads and writes the header back; after LENGTH
 * payload bytes it adds the second reply and "OK". No AT commands, no
 * checks, no pacing, no control lines.
 *
 *   trivial_peer LENGTH      prints "READY <pty>", then serves until killed
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

static void ReadExactly(int fd, unsigned char *buffer, size_t count) {
  while (count > 0) {
    ssize_t n = read(fd, buffer, count);
    if (n > 0) {
      buffer += n;
      count -= (size_t)n;
    } else if (n == 0) {
      exit(0);
    }
  }
}

static void WriteAll(int fd, const unsigned char *data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n > 0) {
      data += n;
      count -= (size_t)n;
    }
  }
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: trivial_peer LENGTH\n");
    return 2;
  }
  long long length = atoll(argv[1]);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  const char *name = ptsname(master);
  int slave = open(name, O_RDWR | O_NOCTTY); /* kept open: no hang-up between clients */
  struct termios raw;
  if (slave < 0 || tcgetattr(slave, &raw) != 0) return 1;
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  printf("READY %s\n", name);
  fflush(stdout);

  static unsigned char chunk[8192];
  unsigned char reply[24 + 24 + 6];
  long long received = 0;
  for (;;) {
    ReadExactly(master, reply, 24);
    size_t payload = (size_t)reply[20] << 24 | (size_t)reply[21] << 16 | (size_t)reply[22] << 8 | reply[23];
    if (payload > sizeof chunk) payload = sizeof chunk;
    ReadExactly(master, chunk, payload);
    received += (long long)payload;
    reply[15] = 1;
    if (received < length) {
      WriteAll(master, reply, 24);
      continue;
    }
    memcpy(reply + 24, reply, 24);
    memcpy(reply + 48, "\r\nOK\r\n", 6);
    WriteAll(master, reply, sizeof reply);
    received = 0;
  }
}
