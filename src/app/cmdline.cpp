// Command-line splitting and option scanning, to the rules installers'
// scripts were written against: blanks split, double quotes group, and
// the first empty token ends the line.
#include "app/cmdline.h"

#include <cstring>

int optionIndex;
char *optionArgument;
static char *groupNext;  // next letter of a group like -qf, or none

// The reentrant tokenizer's rule: skip leading delimiters; the token ends
// at the next delimiter, which becomes a terminator.
static char *NextToken(char **rest, char delimiter) {
  char *p = *rest;
  while (*p == delimiter) p++;
  if (*p == '\0') {
    *rest = p;
    return nullptr;
  }
  char *token = p;
  while (*p != '\0' && *p != delimiter) p++;
  if (*p == delimiter) *p++ = '\0';
  *rest = p;
  return token;
}

int SplitCommandLine(char *text, char *entries[COMMAND_LINE_ENTRIES]) {
  static char programName[] = "Quillon.exe";
  entries[0] = programName;
  int count = 1;
  char *rest = text != nullptr ? text : programName + sizeof programName - 1;
  while (count < COMMAND_LINE_ENTRIES) {
    while (*rest == ' ') rest++;
    char *token = *rest == '"' ? NextToken(&rest, '"') : NextToken(&rest, ' ');
    if (token == nullptr) break;
    entries[count++] = token;
  }
  return count;
}

int ParseOption(int count, char *const entries[], const char *options) {
  optionArgument = nullptr;
  if (optionIndex == 0) groupNext = nullptr;

  if (groupNext == nullptr || *groupNext == '\0') {
    if (optionIndex == 0) optionIndex = 1;
    if (optionIndex >= count || entries[optionIndex][0] != '-' ||
        std::strcmp(entries[optionIndex], "-") == 0) {
      if (optionIndex < count) optionArgument = entries[optionIndex];
      return -1;
    }
    if (std::strcmp(entries[optionIndex], "--") == 0) {
      optionIndex++;
      if (optionIndex < count) optionArgument = entries[optionIndex];
      return -1;
    }
    groupNext = entries[optionIndex] + 1;
    optionIndex++;
  }

  char letter = *groupNext++;
  const char *known = std::strchr(options, letter);
  if (known == nullptr || letter == ':') return '?';
  if (known[1] != ':') return letter;

  if (*groupNext != '\0') {
    optionArgument = groupNext;
    groupNext = nullptr;
    return letter;
  }
  if (optionIndex >= count) return '?';
  optionArgument = entries[optionIndex++];
  return letter;
}
