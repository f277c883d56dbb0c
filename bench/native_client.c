/* The minimal native client of the transfer benchmark (Linux): the same
 * stop-and-wait exchange as the updater, straight on the pty with plain
 * read and write, and nothing else. Its time is the link's limit on this
 * machine.
 *
 *   native_client PTY PACKAGE [command]
 *
 * Sends PACKAGE in 8192-byte chunks, each behind a 24-byte magic-form
 * header ("command": the command-code form), reads the 24-byte reply after
 * each, then the second reply and the final "OK" line. Prints one line,
 * "result <0|1> chunks <n>", and exits with the result.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum { HEADER_SIZE = 24, CHUNK_SIZE = 8192, REPLY_WAIT_MS = 10000 };

static void PutBe32(unsigned char *p, uint32_t v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

static int WriteAll(int fd, const unsigned char *data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n <= 0) return -1;
    data += n;
    count -= (size_t)n;
  }
  return 0;
}

/* Reads exactly count bytes; -1 when the peer stays silent too long. */
static int ReadAll(int fd, unsigned char *buffer, size_t count) {
  while (count > 0) {
    struct pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, REPLY_WAIT_MS) <= 0) return -1;
    ssize_t n = read(fd, buffer, count);
    if (n <= 0) return -1;
    buffer += n;
    count -= (size_t)n;
  }
  return 0;
}

static int Accepted(const unsigned char *reply, int magic) {
  if (magic && memcmp(reply, "ZMRK", 4) != 0) return 0;
  uint32_t result = (uint32_t)reply[12] << 24 | (uint32_t)reply[13] << 16 | (uint32_t)reply[14] << 8 | reply[15];
  return !magic || result <= 1;
}

static unsigned char *Load(const char *path, long *length) {
  FILE *file = fopen(path, "rb");
  if (file == NULL || fseek(file, 0, SEEK_END) != 0) return NULL;
  *length = ftell(file);
  rewind(file);
  unsigned char *data = *length > 0 ? malloc((size_t)*length) : NULL;
  if (data == NULL || fread(data, 1, (size_t)*length, file) != (size_t)*length) return NULL;
  fclose(file);
  return data;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: native_client PTY PACKAGE [command]\n");
    return 2;
  }
  int magic = !(argc > 3 && strcmp(argv[3], "command") == 0);
  long length = 0;
  unsigned char *data = Load(argv[2], &length);
  if (data == NULL) {
    fprintf(stderr, "native_client: cannot read %s\n", argv[2]);
    return 2;
  }
  int fd = open(argv[1], O_RDWR | O_NOCTTY);
  struct termios raw;
  if (fd < 0 || tcgetattr(fd, &raw) != 0) {
    fprintf(stderr, "native_client: cannot open %s\n", argv[1]);
    return 2;
  }
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);

  unsigned char header[HEADER_SIZE];
  long sent = 0;
  int chunks = 0;
  int ok = 1;
  while (ok && sent < length) {
    long chunk = length - sent < CHUNK_SIZE ? length - sent : CHUNK_SIZE;
    if (magic) {
      memcpy(header, "ZMRK", 4);
      PutBe32(header + 4, 0x20);
    } else {
      PutBe32(header, 0x2A);
      PutBe32(header + 4, 0x10);
    }
    PutBe32(header + 8, 1);
    PutBe32(header + 12, 0);
    PutBe32(header + 16, 0xFFFFFFFFu);
    PutBe32(header + 20, (uint32_t)chunk);
    ok = WriteAll(fd, header, HEADER_SIZE) == 0 && WriteAll(fd, data + sent, (size_t)chunk) == 0 &&
         ReadAll(fd, header, HEADER_SIZE) == 0 && Accepted(header, magic);
    sent += chunk;
    chunks++;
  }
  ok = ok && ReadAll(fd, header, HEADER_SIZE) == 0 && Accepted(header, magic);
  /* The final result line: "\r\nOK\r\n". */
  unsigned char line[6];
  ok = ok && ReadAll(fd, line, sizeof line) == 0 && memcmp(line, "\r\nOK\r\n", 6) == 0;
  printf("result %d chunks %d\n", ok ? 0 : 1, chunks);
  close(fd);
  free(data);
  return ok ? 0 : 1;
}
