// Debugger output captured line by line.
#pragma once
#include <string>
#include <vector>

extern std::vector<std::string> fakeDebugLines;
// Called with each line before it is captured, on the thread that writes
// it: a test can play a slow listener. None by default.
extern void (*fakeDebugOutputHook)(const char *line);
