// Bytes printed so CR, LF, trailing blanks and non-ASCII stay visible to
// the Python side of the Wine tests.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>

inline std::string EscapeBytes(const unsigned char *bytes, int length) {
  std::string out;
  char hex[8];
  for (int i = 0; i < length; i++) {
    unsigned char c = bytes[i];
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out;
}

inline std::string EscapeText(const char *text) {
  return EscapeBytes((const unsigned char *)text, (int)std::strlen(text));
}
