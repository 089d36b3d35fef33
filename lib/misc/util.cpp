// Safe allocation wrappers and the panic routine.
#include "misc/util.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

#define ALLOC_FAILURE "Unrecoverable memory allocation failure\n"

[[noreturn]] void PanicAt(int bugNumber, const char *file, int line) {
  if (bugNumber == -1) Panic("Unrecoverable memory allocation failure at %s:%d\n", file, line);
  Panic("Unrecoverable memory allocation failure at %s:%d.  Bug number: %d\n", file, line, bugNumber);
}

}  // namespace

void Panic(const char *format, ...) {
  (void)format;
  abort();
}

void *Util_SafeMalloc(size_t size) {
  void *p = malloc(size);
  if (p == nullptr && size != 0) Panic(ALLOC_FAILURE);
  return p;
}

void *Util_SafeCalloc(size_t count, size_t size) {
  void *p = calloc(count, size);
  if (p == nullptr && count != 0 && size != 0) Panic(ALLOC_FAILURE);
  return p;
}

char *Util_SafeStrdup(const char *text) {
  if (text == nullptr) return nullptr;
  char *p = strdup(text);
  if (p == nullptr) Panic(ALLOC_FAILURE);
  return p;
}

void *Util_SafeRealloc(void *pointer, size_t size) {
  void *p = realloc(pointer, size);
  if (p == nullptr && size != 0) Panic(ALLOC_FAILURE);
  return p;
}

char *Util_SafeStrndup(const char *text, size_t maximum) {
  if (text == nullptr) return nullptr;
  size_t length = strnlen(text, maximum);
  if (length == SIZE_MAX) Panic(ALLOC_FAILURE);
  char *p = static_cast<char *>(malloc(length + 1));
  if (p == nullptr) Panic(ALLOC_FAILURE);
  memcpy(p, text, length);
  p[length] = '\0';
  return p;
}

void *Util_SafeMallocAt(size_t size, int bugNumber, const char *file, int line) {
  void *p = malloc(size);
  if (p == nullptr && size != 0) PanicAt(bugNumber, file, line);
  return p;
}

void *Util_SafeCallocAt(size_t count, size_t size, int bugNumber, const char *file, int line) {
  void *p = calloc(count, size);
  if (p == nullptr && count != 0 && size != 0) PanicAt(bugNumber, file, line);
  return p;
}

char *Util_SafeStrdupAt(const char *text, int bugNumber, const char *file, int line) {
  if (text == nullptr) return nullptr;
  char *p = strdup(text);
  if (p == nullptr) PanicAt(bugNumber, file, line);
  return p;
}

void *Util_SafeReallocAt(void *pointer, size_t size, int bugNumber, const char *file, int line) {
  void *p = realloc(pointer, size);
  if (p == nullptr && size != 0) PanicAt(bugNumber, file, line);
  return p;
}
