// Allocation-failure policy of the support code: the "safe" wrappers never
// hand back null for a non-empty request; they end the process instead.
// Panic is also where every fatal consistency check of the support code ends.
#pragma once

#include <cstddef>

// Ends the process with abort.  The message is taken but not printed: the
// library writes nothing on its own.
[[noreturn]] void Panic(const char *format, ...) __attribute__((format(printf, 1, 2)));

void *Util_SafeMalloc(size_t size);
void *Util_SafeCalloc(size_t count, size_t size);
char *Util_SafeStrdup(const char *text);
void *Util_SafeRealloc(void *pointer, size_t size);
char *Util_SafeStrndup(const char *text, size_t maximum);

// Located variants: a failure names the caller's file and line, and the bug
// number unless it is -1.
void *Util_SafeMallocAt(size_t size, int bugNumber, const char *file, int line);
void *Util_SafeCallocAt(size_t count, size_t size, int bugNumber, const char *file, int line);
char *Util_SafeStrdupAt(const char *text, int bugNumber, const char *file, int line);
void *Util_SafeReallocAt(void *pointer, size_t size, int bugNumber, const char *file, int line);

#define VERIFY(cond)                                                               \
  do {                                                                             \
    if (__builtin_expect(!(cond), 0)) Panic("VERIFY %s:%d\n", __FILE__, __LINE__); \
  } while (0)
#define NOT_REACHED() Panic("NOT_REACHED %s:%d\n", __FILE__, __LINE__)
#define NOT_IMPLEMENTED() Panic("NOT_IMPLEMENTED %s:%d\n", __FILE__, __LINE__)
