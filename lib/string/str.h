// Bounded string functions over the library's formatting engine.  A text
// that does not fit is reported by a negative result (or, for Str_Strcpy,
// ends the process); a cut never leaves a partial UTF-8 character.
#pragma once

#include <cstdarg>
#include <cstddef>

// Formats into buffer; returns the length, or -1 when the text did not fit
// in size - 1 bytes (the buffer then holds a NUL-terminated prefix that ends
// on a whole UTF-8 character) or could not be formatted.
int Str_Vsnprintf(char *buffer, size_t size, const char *format, va_list ap);
int Str_Snprintf(char *buffer, size_t size, const char *format, ...);

// A malloc'ed formatted text (the caller frees it), or null on failure.
// *length, when given, receives its length.
char *Str_Vasprintf(size_t *length, const char *format, va_list ap);

// Copies source with its NUL; ends the process when it does not fit in
// maximum bytes.
char *Str_Strcpy(char *destination, const char *source, size_t maximum);

// Offset of the first NUL within maximum bytes, or maximum.
size_t Str_Strlen(const char *text, size_t maximum);
