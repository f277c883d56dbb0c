// Debugger output captured line by line.
#pragma once
#include <string>
#include <vector>

extern std::vector<std::string> fakeDebugLines;
