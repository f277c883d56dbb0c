// The program's run from start-up to exit code, below the Win32 entry.
#pragma once

// `commandLine` is the text after the program name, as Windows hands it
// over. Returns the process exit code.
int QuillonMain(const char *commandLine);
