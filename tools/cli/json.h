// A small streaming JSON writer for the tools' --json output: one value per
// command, keys and texts escaped, written as it goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

class JsonWriter {
 public:
  explicit JsonWriter(FILE *out) : out_(out) {}
  JsonWriter(const JsonWriter &) = delete;
  JsonWriter &operator=(const JsonWriter &) = delete;
  // The document ends with a newline.
  ~JsonWriter() { fputc('\n', out_); }

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(const char *key) {
    Separate();
    Text(key, std::char_traits<char>::length(key));
    fputc(':', out_);
    afterKey_ = true;
  }
  void String(const char *text) { String(text, std::char_traits<char>::length(text)); }
  // Bytes of a fixed field: cut at the first NUL.
  void String(const char *text, size_t size) {
    size_t n = 0;
    while (n < size && text[n] != '\0') n++;
    Separate();
    Text(text, n);
  }
  void Number(int64_t v) {
    Separate();
    fprintf(out_, "%lld", static_cast<long long>(v));
  }
  void Unsigned(uint64_t v) {
    Separate();
    fprintf(out_, "%llu", static_cast<unsigned long long>(v));
  }
  void Bool(bool v) {
    Separate();
    fputs(v ? "true" : "false", out_);
  }
  void Null() {
    Separate();
    fputs("null", out_);
  }

  // key: value in one call.
  void Field(const char *key, const char *text) { Key(key), String(text); }
  void Field(const char *key, const char *text, size_t size) { Key(key), String(text, size); }
  void Field(const char *key, int64_t v) { Key(key), Number(v); }
  void Field(const char *key, uint64_t v) { Key(key), Unsigned(v); }
  void Field(const char *key, uint32_t v) { Key(key), Unsigned(v); }
  void Field(const char *key, int32_t v) { Key(key), Number(v); }
  void Field(const char *key, bool v) { Key(key), Bool(v); }

 private:
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) fputc(',', out_);
      first_.back() = false;
    }
  }
  void Open(char c) {
    Separate();
    fputc(c, out_);
    first_.push_back(true);
  }
  void Close(char c) {
    first_.pop_back();
    fputc(c, out_);
  }
  void Text(const char *s, size_t n) {
    fputc('"', out_);
    for (size_t i = 0; i < n; i++) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '"' || c == '\\') {
        fputc('\\', out_);
        fputc(c, out_);
      } else if (c < 0x20) {
        fprintf(out_, "\\u%04x", c);
      } else {
        fputc(c, out_);
      }
    }
    fputc('"', out_);
  }

  FILE *out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

}  // namespace cli
