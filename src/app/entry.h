// The program's run from start-up to exit code, below the Win32 entry.
#pragma once

// `commandLine` is the text after the program name, as Windows hands it
// over. Returns the process exit code.
int QuillonMain(const char *commandLine);

struct RunRecord;

// The same run on a record the caller owns (`run`, fresh from
// RunRecordReset), which shows what the command line set; QuillonMain
// owns one of its own.
int QuillonRun(RunRecord *run, const char *commandLine);
