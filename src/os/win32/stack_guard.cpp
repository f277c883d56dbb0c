// Stack protection's guard value and its failure, instead of GCC's libssp's
// (whose fortified calls are still linked).
// libssp seeds the guard in a constructor through CryptAcquireContext,
// which loads the system's crypto provider, and that provider's own
// imports are looked for in the program's folder first: before WinMain
// could restrict the search. Seeded here as the Windows C runtime seeds
// its cookie, from clocks, ids and a stack address, with no library loaded.
#include <windows.h>

#include <cstdint>

extern "C" {
// Replaced before any protected function runs; never left at this value.
uintptr_t __stack_chk_guard = (uintptr_t)0x2B992DDFA23249D6ULL;

// The stack of the calling frame is overwritten: nothing on it, nor the
// trace that would walk it, can be trusted. End at once, with the status
// Windows reports for an overrun.
__attribute__((noreturn)) void __stack_chk_fail(void) {
  TerminateProcess(GetCurrentProcess(), 0xC0000409);  // STATUS_STACK_BUFFER_OVERRUN
  for (;;) {
  }
}

// A fortified call (_FORTIFY_SOURCE: libssp's __memcpy_chk and the like)
// found its destination too small. Defined here too, so that libssp's
// member with the guard seeding is never linked in for it.
__attribute__((noreturn)) void __chk_fail(void) { __stack_chk_fail(); }
}

// The first of the program's constructors, from the runtime's start-up,
// before any protected frame is live; itself unprotected, as the guard
// changes under it.
__attribute__((constructor(101), no_stack_protector)) static void SeedStackGuard() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  uint64_t seed = ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) ^ (uint64_t)counter.QuadPart;
  seed ^= (uint64_t)GetCurrentProcessId() << 32 ^ (uint64_t)GetCurrentThreadId() ^ GetTickCount64();
  seed ^= (uint64_t)(uintptr_t)&counter;
  if (seed != 0) __stack_chk_guard = (uintptr_t)seed;
}
