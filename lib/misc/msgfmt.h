// Message-format arguments: a printf-style format and its variable
// arguments turned into an array of typed 32-byte records that can travel
// inside a message, strings copied along.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

enum : uint32_t {
  MSGFMT_ARG_INVALID = 0,  // no specifier used this position
  MSGFMT_ARG_INT32 = 1,
  MSGFMT_ARG_INT64 = 2,
  MSGFMT_ARG_PTR32 = 3,  // never produced
  MSGFMT_ARG_PTR64 = 4,
  MSGFMT_ARG_FLOAT64 = 5,
  MSGFMT_ARG_STRING8 = 6,
  MSGFMT_ARG_STRING16 = 7,  // never produced
  MSGFMT_ARG_STRING32 = 8,  // wide string, 4-byte characters
  MSGFMT_ARG_ERRNO = 9,     // narrow string that is a cached errno text
};

enum : uint32_t { MSGFMT_ERROR_NONE = 0, MSGFMT_ERROR_ERRNO = 1 };

// Flags reported by MsgFmt_ParseSpec.
enum : int {
  MSGFMT_FLAG_ALT = 0x01,
  MSGFMT_FLAG_ZERO = 0x02,
  MSGFMT_FLAG_MINUS = 0x04,
  MSGFMT_FLAG_SPACE = 0x08,
  MSGFMT_FLAG_PLUS = 0x10,
  MSGFMT_FLAG_QUOTE = 0x20,
};

// One argument; the layout is fixed (records are sent as they are).
struct MsgFmt_Arg {
  uint32_t type;
  uint32_t pad0;
  union {
    uint32_t unsigned32;  // type 1, zero-extended; the offset after swizzling
    int64_t signed64;
    void *ptr;
    double float64;
    char *string8;
    wchar_t *string32;
  } v;
  struct {
    uint32_t type;    // MSGFMT_ERROR_ERRNO for type 9
    uint32_t number;  // the errno for type 9
  } e;
  int32_t precision;  // scratch while collecting; 0 in a finished record
  uint32_t pad1;
};

static_assert(sizeof(MsgFmt_Arg) == 32, "records are 32 bytes on the wire");
static_assert(offsetof(MsgFmt_Arg, v) == 8 && offsetof(MsgFmt_Arg, e) == 16 &&
                  offsetof(MsgFmt_Arg, precision) == 24 && offsetof(MsgFmt_Arg, pad1) == 28,
              "record fields sit at their wire offsets");
static_assert(sizeof(wchar_t) == 4, "wide strings are copied as 4-byte characters");

// Literal text and specifier callbacks of MsgFmt_Parse; a negative result
// stops the walk and is returned.
typedef int MsgFmt_LitFunc(void *clientData, const char *text, int length);
typedef int MsgFmt_SpecFunc(void *clientData, const char *pos, unsigned int posSize, const char *type,
                            unsigned int typeSize);

// Walks the format; 0, a callback's negative status, or -2 for a bad format.
// Either callback may be null.
int MsgFmt_Parse(MsgFmt_LitFunc *litFunc, MsgFmt_SpecFunc *specFunc, void *clientData, const char *format);

// Splits the two texts of a specifier; lengthMod receives the folded length
// letter (H h L l j t z, or 0).  0 on success, -2 on a malformed specifier.
int MsgFmt_ParseSpec(const char *pos, unsigned int posSize, const char *type, unsigned int typeSize,
                     int *position, int *flags, int *width, int *precision, char *lengthMod,
                     char *conversion);

// The collector's specifier callback (clientData is its context).
int MsgFmtGetArg1(void *clientData, const char *pos, unsigned int posSize, const char *type,
                  unsigned int typeSize);

// Collects the arguments into a malloc'ed array (free with MsgFmt_FreeArgs).
// On failure returns false and stores a malloc'ed error text in *error.
bool MsgFmt_GetArgs(const char *format, va_list va, MsgFmt_Arg **args, int *numArgs, char **error);

// The same; with a buffer, the array, the string copies and any error text
// are placed in it, and *bufferSize (its size on entry) receives the bytes
// used.  The buffer must be aligned for MsgFmt_Arg.
bool MsgFmt_GetArgsWithBuf(const char *format, va_list va, MsgFmt_Arg **args, int *numArgs, char **error,
                           void *buffer, size_t *bufferSize);

// Replaces the string addresses of types 6 to 8 by their 32-bit offsets
// from the start of the array (0 for a null string).
void MsgFmt_SwizzleArgs(MsgFmt_Arg *args, int numArgs);

// Frees the string copies and the array (allocation mode only).
void MsgFmt_FreeArgs(MsgFmt_Arg *args, int numArgs);
