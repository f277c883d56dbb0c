// One call that puts every fake of the OS seam, and the simulated module,
// back to its start: for tests that run the program's upper layers.
#pragma once

void ResetAllFakes();
