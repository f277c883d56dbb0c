// Connection-manager stub (Windows-specific): stands in for the OEM's
// console program in the Wine tests. Each start appends its own command
// line, exactly as it was given, to kvt_calls.txt beside the executable.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  char path[MAX_PATH + 32] = {0};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  char *slash = std::strrchr(path, '\\');
  if (slash == nullptr) return 2;
  std::strcpy(slash + 1, "kvt_calls.txt");
  FILE *record = std::fopen(path, "ab");
  if (record == nullptr) return 3;
  std::fprintf(record, "%s\n", GetCommandLineA());
  std::fclose(record);
  return 0;
}
