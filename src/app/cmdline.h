// Command-line splitting and option scanning.
#pragma once

enum { COMMAND_LINE_ENTRIES = 20 };

// Splits `text` in place into entries[1..]; entries[0] is always
// "Quillon.exe". Returns the number of entries, entry 0 included.
int SplitCommandLine(char *text, char *entries[COMMAND_LINE_ENTRIES]);

// The scanner's state between calls, like getopt's optind and optarg.
// Setting optionIndex to 0 restarts the scan.
extern int optionIndex;
extern char *optionArgument;

// Returns the option letter, '?' for an unknown letter or a missing
// argument, or -1 at the end of the options.
int ParseOption(int count, char *const entries[], const char *options);
