// Fuzz target for the command-line splitter and the option scanner. Built
// with libFuzzer by the `fuzz` preset; elsewhere a small driver feeds it
// deterministic pseudo-random lines, so the sanitizer build runs it too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/cmdline.h"

static void Check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "cmdline_fuzz: %s\n", what);
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  char *entries[COMMAND_LINE_ENTRIES] = {};
  int count = SplitCommandLine(text.data(), entries);
  Check(count >= 1 && count <= COMMAND_LINE_ENTRIES, "entry count out of range");
  Check(std::strcmp(entries[0], "Quillon.exe") == 0, "entry 0 changed");
  for (int i = 1; i < count; i++) {
    Check(entries[i] != nullptr && entries[i][0] != '\0', "empty entry kept");
    Check(entries[i] >= text.data() && entries[i] < text.data() + text.size(), "entry outside the copy");
  }

  optionIndex = 0;
  // Each call consumes a letter or an entry, so the scan is short.
  int calls = 0;
  for (;;) {
    int option = ParseOption(count, entries, "ht:qf");
    Check(++calls <= 4 * (int)size + 4, "scan does not end");
    Check(optionIndex >= 0 && optionIndex <= count, "index out of range");
    if (option == -1) break;
    Check(option == 'h' || option == 't' || option == 'q' || option == 'f' || option == '?', "unexpected result");
    if (option == 't') Check(optionArgument != nullptr, "-t without argument");
  }
  return 0;
}

#ifndef QUILLON_LIBFUZZER
int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 20000;
  static const char alphabet[] = " \"-ht:qfTCOMSIMULATOR\t\xe9x";
  uint32_t state = 12345;
  for (int run = 0; run < runs; run++) {
    std::vector<uint8_t> line;
    state = state * 1103515245u + 12345u;
    size_t length = (state >> 16) % 120;
    for (size_t i = 0; i < length; i++) {
      state = state * 1103515245u + 12345u;
      line.push_back((uint8_t)alphabet[(state >> 16) % (sizeof alphabet - 1)]);
    }
    LLVMFuzzerTestOneInput(line.data(), line.size());
  }
  std::printf("cmdline_fuzz: %d lines scanned\n", runs);
  return 0;
}
#endif
