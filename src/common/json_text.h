// JSON text built up in a growing buffer: strings come in the program's
// code page (Windows-1252) and go out as escaped UTF-8, whatever bytes
// they hold.
#pragma once
#include <cstddef>
#include <cstdint>

struct JsonText {
  char *bytes;      // terminated; nullptr until the first append
  size_t length;
  size_t capacity;
  int failed;       // an allocation failed: the text is incomplete
};

void JsonTextInit(JsonText *json);
void JsonTextFree(JsonText *json);

// Structural text (braces, commas, names already quoted), as it stands.
void JsonAppendRaw(JsonText *json, const char *text);
void JsonAppendInt(JsonText *json, long long value);

// A quoted string from Windows-1252 bytes; nullptr writes null. The
// second form takes a length, so a NUL byte is data too.
void JsonAppendString(JsonText *json, const char *text);
void JsonAppendStringBytes(JsonText *json, const char *bytes, size_t length);

// The Unicode code point of one Windows-1252 byte. The five bytes the
// code page leaves unassigned map to the C1 controls of the same value,
// as Windows' own conversion does, so every byte has a character.
uint32_t Cp1252ToUnicode(unsigned char byte);
