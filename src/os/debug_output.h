// Debugger-output seam: where finished trace lines go.
#pragma once

void OsDebugOutput(const char *line);
