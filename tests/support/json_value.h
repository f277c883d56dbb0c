// A strict JSON reader for tests and fuzz targets: reads back what the
// program wrote, and refuses anything RFC 8259 does not allow (raw control
// characters, bad escapes, invalid UTF-8, trailing text).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's value, UTF-8
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  // in order, as written

  // The member's value; a shared null when there is none.
  const JsonValue &operator[](const std::string &name) const {
    static const JsonValue none;
    for (const auto &member : members)
      if (member.first == name) return member.second;
    return none;
  }
  bool Has(const std::string &name) const {
    for (const auto &member : members)
      if (member.first == name) return true;
    return false;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string &text) : s_(text) {}

  bool Read(JsonValue *out) {
    pos_ = 0;
    Space();
    if (!Value(out, 0)) return false;
    Space();
    return pos_ == s_.size();
  }

 private:
  const std::string &s_;
  size_t pos_ = 0;

  int Peek() const { return pos_ < s_.size() ? (unsigned char)s_[pos_] : -1; }
  void Space() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') pos_++;
  }
  bool Literal(const char *word) {
    size_t n = std::char_traits<char>::length(word);
    if (s_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }
  bool Value(JsonValue *out, int depth) {
    if (depth > 64) return false;
    switch (Peek()) {
      case '{': return ObjectValue(out, depth);
      case '[': return ArrayValue(out, depth);
      case '"': out->kind = JsonValue::String; return StringValue(&out->text);
      case 't': out->kind = JsonValue::Bool; out->boolean = true; return Literal("true");
      case 'f': out->kind = JsonValue::Bool; return Literal("false");
      case 'n': out->kind = JsonValue::Null; return Literal("null");
      default: out->kind = JsonValue::Number; return NumberValue(&out->number);
    }
  }
  bool ObjectValue(JsonValue *out, int depth) {
    out->kind = JsonValue::Object;
    pos_++;
    Space();
    if (Peek() == '}') return pos_++, true;
    for (;;) {
      std::string name;
      Space();
      if (Peek() != '"' || !StringValue(&name)) return false;
      Space();
      if (Peek() != ':') return false;
      pos_++;
      Space();
      JsonValue value;
      if (!Value(&value, depth + 1)) return false;
      out->members.emplace_back(name, value);
      Space();
      if (Peek() == ',') { pos_++; continue; }
      if (Peek() == '}') return pos_++, true;
      return false;
    }
  }
  bool ArrayValue(JsonValue *out, int depth) {
    out->kind = JsonValue::Array;
    pos_++;
    Space();
    if (Peek() == ']') return pos_++, true;
    for (;;) {
      Space();
      JsonValue value;
      if (!Value(&value, depth + 1)) return false;
      out->items.push_back(value);
      Space();
      if (Peek() == ',') { pos_++; continue; }
      if (Peek() == ']') return pos_++, true;
      return false;
    }
  }
  bool NumberValue(double *out) {
    size_t start = pos_;
    if (Peek() == '-') pos_++;
    if (Peek() == '0') pos_++;
    else if (Peek() >= '1' && Peek() <= '9') while (Peek() >= '0' && Peek() <= '9') pos_++;
    else return false;
    if (Peek() == '.') {
      pos_++;
      if (!(Peek() >= '0' && Peek() <= '9')) return false;
      while (Peek() >= '0' && Peek() <= '9') pos_++;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      pos_++;
      if (Peek() == '+' || Peek() == '-') pos_++;
      if (!(Peek() >= '0' && Peek() <= '9')) return false;
      while (Peek() >= '0' && Peek() <= '9') pos_++;
    }
    *out = std::stod(s_.substr(start, pos_ - start));
    return true;
  }
  static void PutUtf8(std::string *out, uint32_t c) {
    if (c < 0x80) { *out += (char)c; return; }
    if (c < 0x800) { *out += (char)(0xC0 | (c >> 6)); *out += (char)(0x80 | (c & 0x3F)); return; }
    if (c < 0x10000) {
      *out += (char)(0xE0 | (c >> 12)); *out += (char)(0x80 | ((c >> 6) & 0x3F));
      *out += (char)(0x80 | (c & 0x3F)); return;
    }
    *out += (char)(0xF0 | (c >> 18)); *out += (char)(0x80 | ((c >> 12) & 0x3F));
    *out += (char)(0x80 | ((c >> 6) & 0x3F)); *out += (char)(0x80 | (c & 0x3F));
  }
  bool Hex4(uint32_t *out) {
    *out = 0;
    for (int i = 0; i < 4; i++) {
      int c = Peek();
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      *out = *out * 16 + (uint32_t)digit;
      pos_++;
    }
    return true;
  }
  // One UTF-8 sequence, shortest form, no surrogates, at most U+10FFFF.
  bool RawUtf8(std::string *out) {
    int lead = Peek();
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) return false;
    uint32_t c = extra == 0 ? (uint32_t)lead : (uint32_t)lead & (0x3F >> extra);
    for (int i = 1; i <= extra; i++) {
      if (pos_ + (size_t)i >= s_.size()) return false;
      unsigned char next = (unsigned char)s_[pos_ + (size_t)i];
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out->append(s_, pos_, (size_t)extra + 1);
    pos_ += (size_t)extra + 1;
    return true;
  }
  bool StringValue(std::string *out) {
    pos_++;
    for (;;) {
      int c = Peek();
      if (c < 0) return false;
      if (c == '"') return pos_++, true;
      if (c < 0x20) return false;
      if (c != '\\') {
        if (!RawUtf8(out)) return false;
        continue;
      }
      pos_++;
      int e = Peek();
      pos_++;
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          uint32_t code;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF) {
            uint32_t low;
            if (!Literal("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
          }
          PutUtf8(out, code);
          break;
        }
        default: return false;
      }
    }
  }
};

inline bool ParseJson(const std::string &text, JsonValue *out) { return JsonReader(text).Read(out); }
