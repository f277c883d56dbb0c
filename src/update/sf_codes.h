// The assignment's result codes, and the header size they go with (one
// name for it, the wire contract's): below both the header's judgement and
// the exchange that uses it, so neither depends on the other.
#pragma once

#include "module_interface.h"

// Results of an assignment.
enum SFLibResult : int {
  SFLIB_OK = 0,
  SFLIB_NO_DATA = 3,          // no device, no data, or a negative length
  SFLIB_LINK_FAILED = 5,      // the update-mode link did not open; nothing sent
  SFLIB_FILE_NOT_OPENED = 10,
  SFLIB_FILE_SHORT = 11,      // fewer bytes than its length, or no length
  SFLIB_NO_BUFFER = 12,       // not allocated, or too large to hold
  SFLIB_REJECTED = 14,        // short write, "ERROR" reply, or result code 2
  SFLIB_REJECTED_4 = 16,
  SFLIB_REJECTED_3 = 17,
  SFLIB_REJECTED_OTHER = 18,  // any other result code, a wrong magic, no reply
};
