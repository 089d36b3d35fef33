// The out-of-line parts of the pieces fmt_internal.h shares: cutting a
// piece at the end of the caller's room, and reading the locale's items.
// Only the header is included here, so the header stands below every
// source that uses it.
#include "string/fmt_internal.h"

#include <langinfo.h>

#include <climits>
#include <clocale>
#include <cwchar>

void OutPutCut(FmtOut *o, const char *s, size_t n) {
  size_t room = OutRoom(o);
  size_t stored = n < room ? n : room;
  memcpy(o->cur, s, stored);
  o->cur += stored;
  o->lost += n - stored;
}

void OutPadCut(FmtOut *o, char c, size_t n) {
  size_t room = OutRoom(o);
  size_t stored = n < room ? n : room;
  memset(o->cur, c, stored);
  o->cur += stored;
  o->lost += n - stored;
}

// The decimal point of the current locale (the thread's own, if it has
// one).  nl_langinfo reads the same item localeconv reports without
// copying the whole of localeconv's record.
void FmtReadPoint(FmtLocale *l) {
  const char *point = nl_langinfo(RADIXCHAR);
  if (point == nullptr || point[0] == 0) point = ".";
  l->point = point;
  l->pointLen = point[1] == 0 ? 1 : strlen(point);
}

void FmtReadGrouping(FmtLocale *l) {
  const lconv *c = localeconv();
  l->separatorLen = 0;
  const char *sep = c->thousands_sep != nullptr ? c->thousands_sep : "";
  if (sep[0] != 0) {
    // The whole first character: a multi-byte separator must not be split.
    size_t n = 1;
    if (static_cast<unsigned char>(sep[0]) >= 0x80) {
      mbstate_t state{};
      n = mbrlen(sep, strlen(sep), &state);
      if (n == 0 || n > sizeof l->separator || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2))
        n = 1;
    }
    memcpy(l->separator, sep, n);
    l->separatorLen = n;
  }
  l->grouping = c->grouping != nullptr ? c->grouping : "";
  int i = 0;
  while (l->grouping[i] > 0 && l->grouping[i] != CHAR_MAX) i++;
  l->groupCount = i;
  l->groupRepeat = l->grouping[i] == 0;
  l->groupingLoaded = true;
}
