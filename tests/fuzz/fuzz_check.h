// How a fuzz target reports a broken rule: a message, then an abort, so
// libFuzzer keeps the input that broke it.
#pragma once
#include <cstdio>
#include <cstdlib>

inline void FuzzCheck(bool ok, const char *target, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}
