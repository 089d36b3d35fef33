// The library's own printf engine: C99 conversions plus positional
// arguments, the ' flag, the q L Z I I64 I32 modifiers, the legacy D O U C S
// conversions, wide strings to UTF-8 and upper-case %p without 0x.  Floating
// conversions are correctly rounded for double and long double; the decimal
// point and grouping come from the current locale.
#pragma once

#include <cstdarg>
#include <cstddef>

// With *outbuf set, writes at most bufSize - 1 bytes and a NUL there (nothing
// when bufSize is 0).  With *outbuf null, stores a malloc'ed text of the
// needed size through outbuf.  Returns the full length of the text without
// the NUL, or -1 with errno set (EOVERFLOW: longer than INT_MAX or a width
// that does not fit; EILSEQ: a wide character the locale cannot encode;
// ENOMEM).  After a failure the buffer holds the text up to the failure.
int bsd_vsnprintf(char **outbuf, size_t bufSize, const char *format, va_list ap);
