// Bounded string functions.
#include "string/str.h"

#include <cstring>

#include "misc/utf8.h"
#include "misc/util.h"
#include "string/bsd_vsnprintf.h"

int Str_Vsnprintf(char *buffer, size_t size, const char *format, va_list ap) {
  char *out = buffer;
  int r = bsd_vsnprintf(&out, size, format, ap);
  if (r >= 0 && static_cast<size_t>(r) < size) return r;
  if (size == 0) return -1;
  // Cut, or failed part way with a NUL-terminated prefix: drop a character
  // the end may have split.
  size_t kept = r >= 0 ? size - 1 : strnlen(buffer, size - 1);
  buffer[Utf8CompleteLength(buffer, kept)] = '\0';
  return -1;
}

int Str_Snprintf(char *buffer, size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = Str_Vsnprintf(buffer, size, format, ap);
  va_end(ap);
  return r;
}

char *Str_Vasprintf(size_t *length, const char *format, va_list ap) {
  char *text = nullptr;
  int r = bsd_vsnprintf(&text, 0, format, ap);
  if (r < 0) return nullptr;
  if (length != nullptr) *length = static_cast<size_t>(r);
  return text;
}

char *Str_Strcpy(char *destination, const char *source, size_t maximum) {
  size_t length = strlen(source);
  if (length >= maximum) Panic("%s:%d Buffer too small\n", __FILE__, __LINE__);
  return static_cast<char *>(memcpy(destination, source, length + 1));
}

size_t Str_Strlen(const char *text, size_t maximum) {
  const void *nul = memchr(text, '\0', maximum);
  return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text) : maximum;
}
