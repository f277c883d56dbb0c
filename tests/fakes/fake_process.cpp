// Process exits recorded instead of taken.
#include "fakes/fake_process.h"

#include "os/process.h"

std::vector<int> fakeExitCodes;

void OsExitProcess(int code) { fakeExitCodes.push_back(code); }
