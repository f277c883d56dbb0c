// What the update protocol reports while a package goes out: a stage, and
// after acknowledged chunks the byte counts. The progress dialog turns
// these into its bars and its rate line.
#pragma once
#include <cstdint>

// Valid only during the call that receives it.
struct SFProgressPair {
  int32_t acknowledged;  // bytes the module has acknowledged so far
  int32_t total;         // the package's length
};

// Stages: 0, 1, 2 while the update-mode link opens; 4 before a package
// file is loaded; 7 when the chunks start (no pair) and after acknowledged
// chunks (with a pair). Called on the worker thread; cannot stop a transfer.
typedef void (*SFProgressCallback)(unsigned stage, const SFProgressPair *pair);
