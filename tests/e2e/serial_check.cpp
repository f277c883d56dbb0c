// Drives the serial layer on the machine's real ports and prints what it saw, one line per step.
//
//   serial_check open PATH | open @N | write TEXT | read LENGTH TIMEOUT | version | close
//              | ports FRAGMENT | friendly
//
// Steps run in order on the last opened connection. TEXT takes \r, \n and
// \\ escapes; "@N" names entry N of the last port list. Output lines:
//   open <connection>
//   write <result>
//   read <result> <elapsed ms> <bytes, C-escaped>
//   version [<text>]
//   close
//   ports <count>   then   port [<entry>]   per entry (also for friendly)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os/clock.h"
#include "winserial.h"

namespace {

const int kEntries = 100;
const int kStride = 256;

std::string Unescape(const char *text) {
  std::string out;
  for (const char *p = text; *p != '\0'; p++) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
      continue;
    }
    p++;
    out += *p == 'r' ? '\r' : *p == 'n' ? '\n' : *p;
  }
  return out;
}

std::string Escape(const unsigned char *bytes, int length) {
  std::string out;
  char hex[8];
  for (int i = 0; i < length; i++) {
    unsigned char c = bytes[i];
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out;
}

void PrintList(const char *label, const std::vector<char> &list, int count) {
  std::printf("%s %d\n", label, count);
  for (int i = 0; i < count; i++) std::printf("port [%s]\n", &list[(size_t)i * kStride]);
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // the tests watch the lines as they come
  int connection = 0;
  std::vector<char> ports((size_t)kEntries * kStride, '\0');
  int portCount = 0;

  for (int i = 1; i < argc; i++) {
    std::string step = argv[i];
    auto next = [&]() -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s: missing argument\n", step.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (step == "open") {
      const char *path = next();
      if (path[0] == '@') {
        int n = std::atoi(path + 1);
        path = n >= 0 && n < portCount ? &ports[(size_t)n * kStride] : "";
      }
      connection = SerialOpen(path, 9600);
      std::printf("open %d\n", connection);
    } else if (step == "write") {
      std::string text = Unescape(next());
      std::printf("write %d\n", SerialWrite(connection, text.data(), (int)text.size()));
    } else if (step == "read") {
      int length = std::atoi(next());
      int timeout = std::atoi(next());
      std::vector<unsigned char> buffer(length > 0 ? (size_t)length : 1, 0xAA);
      uint32_t start = OsTickCount();
      int result = SerialRead(connection, buffer.data(), length, timeout);
      uint32_t elapsed = OsTickCount() - start;
      std::printf("read %d %u %s\n", result, (unsigned)elapsed,
                  Escape(buffer.data(), result > 0 ? result : 0).c_str());
    } else if (step == "version") {
      char text[255];
      std::memset(text, 0, sizeof text);
      SerialQueryDriverVersion(connection, text, sizeof text);
      std::printf("version [%s]\n", text);
    } else if (step == "close") {
      SerialClose(connection);
      std::printf("close\n");
    } else if (step == "ports") {
      const char *fragments[] = {next(), nullptr};
      std::fill(ports.begin(), ports.end(), '\0');
      portCount = SerialGetPorts(ports.data(), kEntries, kStride, fragments);
      PrintList("ports", ports, portCount);
    } else if (step == "friendly") {
      std::fill(ports.begin(), ports.end(), '\0');
      portCount = EnumerateFriendlySerialPorts(ports.data(), kEntries, kStride);
      PrintList("friendly", ports, portCount);
    } else {
      std::fprintf(stderr, "unknown step %s\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
