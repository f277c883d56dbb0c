// Where the process may load DLLs from. An elevated program started from a
// folder anyone can write to (a Downloads folder) must never load a DLL
// that was put beside it: only Windows' own folder is searched.
#pragma once

// Limits every later load by name to System32, and takes the current
// folder out of the search. Returns nonzero when both took effect; on a
// system without the calls (Windows 7 without its loader update) it
// returns 0 and the loader's own order stays.
int OsRestrictDllSearch();
