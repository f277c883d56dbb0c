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

// The events the callback receives, as numbers the protocol fixes.
enum SFProgressEvent : unsigned {
  // The update-mode link's steps as it opens, each reported as it begins;
  // each package opens the link anew.
  SF_EVENT_LINK_STEP_0 = 0,
  SF_EVENT_LINK_STEP_1 = 1,
  SF_EVENT_LINK_STEP_2 = 2,
  SF_EVENT_LOAD_FILE = 4,  // before a package file is loaded
  // When the chunks start (no pair) and after acknowledged chunks (with a
  // pair).
  SF_EVENT_TRANSFER = 7,
  // The wait for the module to update its firmware. No sender reports it
  // today; a receiver still understands it.
  SF_EVENT_WAITING = 9,
};

// Called on the worker thread with an SFProgressEvent; cannot stop a
// transfer.
typedef void (*SFProgressCallback)(unsigned stage, const SFProgressPair *pair);
