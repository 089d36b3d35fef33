// Conversion directives and the arguments they consume: read in order
// from the va_list, or, once a format names positions (%n$, *n$), from a
// table filled by one scan of the whole format.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "string/fmt_internal.h"

enum class ArgKind : uint8_t { kNone, kInt, kInt64, kDouble, kLongDouble, kPointer };

union FmtArgValue {
  int64_t i;
  double d;
  long double ld;
  void *p;
};

constexpr int kInlineArgs = 32;
constexpr int kMaxArgs = 4096;  // highest position a format may name

struct FmtArgs {
  va_list ap;
  va_list original;  // untouched copy for the positional scan
  const char *format;
  FmtArgValue *table;  // null until a position is named
  int next;            // next sequential argument, from 1
  int count;           // entries in table
  FmtArgValue inlineTable[kInlineArgs];
};

// Parses the conversion directive after a '%'; returns where it ends.
const char *FmtParseSpec(const char *p, FmtSpec *directive);

// What the conversion takes from the argument list.
ArgKind FmtArgKind(char conv, FmtLength length);

// Switches args to positional mode; false (errno set) for a position above
// kMaxArgs or when memory cannot be had.
bool FmtBuildArgTable(FmtArgs *args);
void FmtReleaseArgTable(FmtArgs *args);

inline bool FmtUsesPositions(const FmtSpec *s) { return s->argPos > 0 || s->widthArg > 0 || s->precArg > 0; }

inline const FmtArgValue *FmtTableEntry(FmtArgs *a, int pos) {
  static constexpr FmtArgValue kMissing{0};
  int index = pos > 0 ? pos : a->next++;
  return index <= a->count ? &a->table[index - 1] : &kMissing;
}

inline int64_t FmtArgInteger(FmtArgs *a, int pos, ArgKind kind) {
  if (a->table != nullptr) return FmtTableEntry(a, pos)->i;
  a->next++;
  return kind == ArgKind::kInt ? va_arg(a->ap, int) : va_arg(a->ap, int64_t);
}

inline void *FmtArgPointer(FmtArgs *a, int pos) {
  if (a->table != nullptr) return FmtTableEntry(a, pos)->p;
  a->next++;
  return va_arg(a->ap, void *);
}

inline double FmtArgDouble(FmtArgs *a, int pos) {
  if (a->table != nullptr) return FmtTableEntry(a, pos)->d;
  a->next++;
  return va_arg(a->ap, double);
}

inline long double FmtArgLongDouble(FmtArgs *a, int pos) {
  if (a->table != nullptr) return FmtTableEntry(a, pos)->ld;
  a->next++;
  return va_arg(a->ap, long double);
}
