// Process exits recorded instead of taken.
#pragma once
#include <vector>

extern std::vector<int> fakeExitCodes;
