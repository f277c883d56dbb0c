// JSON text: escaping and the Windows-1252 to UTF-8 conversion.
#include "common/json_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const uint16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

uint32_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return cp1252High[byte - 0x80];
  return byte;
}

void JsonTextInit(JsonText *json) { *json = JsonText{nullptr, 0, 0, 0}; }

void JsonTextFree(JsonText *json) {
  std::free(json->bytes);
  JsonTextInit(json);
}

static void Append(JsonText *json, const char *bytes, size_t length) {
  if (json->failed) return;
  if (json->length + length + 1 > json->capacity) {
    size_t wanted = json->capacity > 0 ? json->capacity : 256;
    while (wanted < json->length + length + 1) wanted *= 2;
    char *grown = (char *)std::realloc(json->bytes, wanted);
    if (grown == nullptr) {
      json->failed = 1;
      return;
    }
    json->bytes = grown;
    json->capacity = wanted;
  }
  std::memcpy(json->bytes + json->length, bytes, length);
  json->length += length;
  json->bytes[json->length] = '\0';
}

void JsonAppendRaw(JsonText *json, const char *text) { Append(json, text, std::strlen(text)); }

void JsonAppendInt(JsonText *json, long long value) {
  char digits[24];
  int length = std::snprintf(digits, sizeof digits, "%lld", value);
  Append(json, digits, (size_t)length);
}

static void AppendUtf8(JsonText *json, uint32_t point) {
  char out[3];
  size_t length;
  if (point < 0x80) {
    out[0] = (char)point;
    length = 1;
  } else if (point < 0x800) {
    out[0] = (char)(0xC0 | (point >> 6));
    out[1] = (char)(0x80 | (point & 0x3F));
    length = 2;
  } else {  // the code page reaches no further than the basic plane
    out[0] = (char)(0xE0 | (point >> 12));
    out[1] = (char)(0x80 | ((point >> 6) & 0x3F));
    out[2] = (char)(0x80 | (point & 0x3F));
    length = 3;
  }
  Append(json, out, length);
}

// The two-character escapes JSON defines; every other control character
// takes the \u form.
static const char *ShortEscape(unsigned char byte) {
  switch (byte) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: return nullptr;
  }
}

void JsonAppendStringBytes(JsonText *json, const char *bytes, size_t length) {
  if (bytes == nullptr) {
    JsonAppendRaw(json, "null");
    return;
  }
  Append(json, "\"", 1);
  for (size_t i = 0; i < length; i++) {
    unsigned char byte = (unsigned char)bytes[i];
    const char *escape = ShortEscape(byte);
    if (escape != nullptr) {
      JsonAppendRaw(json, escape);
    } else if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", byte);
      Append(json, code, 6);
    } else {
      AppendUtf8(json, Cp1252ToUnicode(byte));
    }
  }
  Append(json, "\"", 1);
}

void JsonAppendString(JsonText *json, const char *text) {
  JsonAppendStringBytes(json, text, text != nullptr ? std::strlen(text) : 0);
}
