// The message-format argument collector: a format walker, a specifier
// parser, and the collector that types every position and then copies the
// arguments out of the va_list.
#include "misc/msgfmt.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "misc/err.h"
#include "misc/util.h"
#include "string/str.h"

namespace {

constexpr int kMaxPositions = 4096;  // no caller passes more; bounds the array
constexpr int kBadFormat = -2;
constexpr int kNoMemory = -1;
constexpr char kConversions[] = "ACEFGSXacdefginopsux";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Contains(const char *set, char c) { return c != 0 && strchr(set, c) != nullptr; }

// Parses decimal digits into *value; false when they do not fit an int.
bool ParseInt(const char *&p, const char *end, int *value) {
  int64_t v = 0;
  for (; p < end && IsDigit(*p); p++) {
    v = v * 10 + (*p - '0');
    if (v > INT_MAX) return false;
  }
  *value = static_cast<int>(v);
  return true;
}

const char *FoldLength(const char *p, const char *end, char *lengthMod) {
  auto next = [&](int i) { return p + i < end ? p[i] : '\0'; };
  *lengthMod = '\0';
  switch (next(0)) {
    case 'h':
      *lengthMod = next(1) == 'h' ? 'H' : 'h';
      return p + (next(1) == 'h' ? 2 : 1);
    case 'l':
      *lengthMod = next(1) == 'l' ? 'L' : 'l';
      return p + (next(1) == 'l' ? 2 : 1);
    case 'q':
    case 'L':
      *lengthMod = 'L';
      return p + 1;
    case 'j':
    case 't':
      *lengthMod = next(0);
      return p + 1;
    case 'z':
    case 'Z':
      *lengthMod = 'z';
      return p + 1;
    case 'I':
      if (next(1) == '6' && next(2) == '4') {
        *lengthMod = 'L';
        return p + 3;
      }
      if (next(1) == '3' && next(2) == '2') return p + 3;
      *lengthMod = 'z';
      return p + 1;
    default:
      return p;
  }
}

// ---- The collector ------------------------------------------------------

struct Collector {
  MsgFmt_Arg *args;
  int numArgs;
  int maxArgs;
  char *error;
  char *bufStart;  // null in allocation mode
  char *bufCur;
  char *bufEnd;
};

char noRoomForError[1];  // the error text when a zero-byte buffer has no room for one

void ReleaseArray(Collector *c) {
  if (c->bufStart == nullptr)
    MsgFmt_FreeArgs(c->args, c->numArgs);
  else
    c->bufCur = c->bufStart;
  c->args = nullptr;
  c->numArgs = 0;
  c->maxArgs = 0;
}

__attribute__((format(printf, 2, 3))) void SetError(Collector *c, const char *format, ...) {
  ReleaseArray(c);
  va_list ap;
  va_start(ap, format);
  if (c->bufStart == nullptr) {
    c->error = Str_Vasprintf(nullptr, format, ap);
    VERIFY(c->error != nullptr);
  } else if (c->bufCur == c->bufEnd) {
    c->error = noRoomForError;
  } else {
    int r = Str_Vsnprintf(c->bufCur, c->bufEnd - c->bufCur, format, ap);
    c->error = c->bufCur;
    c->bufCur = r < 0 ? c->bufEnd : c->bufCur + r + 1;
  }
  va_end(ap);
}

// Room for n bytes at the cursor, or a malloc'ed block; null when neither.
void *Take(Collector *c, size_t n) {
  if (c->bufStart == nullptr) return malloc(n);
  if (static_cast<size_t>(c->bufEnd - c->bufCur) < n) return nullptr;
  void *p = c->bufCur;
  c->bufCur += n;
  return p;
}

bool Grow(Collector *c, int position) {
  if (position <= c->maxArgs) return true;
  if (position > kMaxPositions) return false;
  int capacity = position;
  MsgFmt_Arg *args;
  if (c->bufStart == nullptr) {
    capacity = position + c->maxArgs > 4 ? position + c->maxArgs : 4;
    args = static_cast<MsgFmt_Arg *>(realloc(c->args, sizeof(MsgFmt_Arg) * capacity));
    if (args == nullptr) return false;
  } else {
    if (static_cast<size_t>(c->bufEnd - c->bufStart) / sizeof(MsgFmt_Arg) < static_cast<size_t>(position))
      return false;
    args = reinterpret_cast<MsgFmt_Arg *>(c->bufStart);
    c->bufCur = c->bufStart + sizeof(MsgFmt_Arg) * position;
  }
  memset(args + c->maxArgs, 0, sizeof(MsgFmt_Arg) * (capacity - c->maxArgs));
  c->args = args;
  c->maxArgs = capacity;
  return true;
}

// Record type for a conversion and folded length, 0 when not supported.
uint32_t TypeOf(char conversion, char lengthMod) {
  bool wide = lengthMod == 'l' || lengthMod == 'L' || lengthMod == 'j';
  switch (conversion) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return (lengthMod == '\0' || lengthMod == 'H' || lengthMod == 'h') ? MSGFMT_ARG_INT32
                                                                         : MSGFMT_ARG_INT64;
    case 'c':
    case 'C':
      return MSGFMT_ARG_INT32;
    case 's':
      return wide ? MSGFMT_ARG_STRING32 : MSGFMT_ARG_STRING8;
    case 'S':
      return MSGFMT_ARG_STRING32;
    case 'p':
      return MSGFMT_ARG_PTR64;
    case 'e':
    case 'f':
    case 'g':
    case 'E':
    case 'F':
    case 'G':
    case 'a':
    case 'A':
      return (lengthMod == 'L' || lengthMod == 'j') ? MSGFMT_ARG_INVALID : MSGFMT_ARG_FLOAT64;
    default:
      return MSGFMT_ARG_INVALID;
  }
}

// Copies a narrow or wide string (unit bytes per character) of `length`
// characters and a terminator; false when there is no room.
bool CopyString(Collector *c, MsgFmt_Arg *a, const void *s, size_t length, size_t unit) {
  char *copy = static_cast<char *>(Take(c, (length + 1) * unit));
  if (copy == nullptr) return false;
  memcpy(copy, s, length * unit);
  memset(copy + length * unit, 0, unit);
  a->v.ptr = copy;
  return true;
}

bool FetchString(Collector *c, MsgFmt_Arg *a, va_list *ap) {
  const char *s = va_arg(*ap, const char *);
  a->v.signed64 = 0;
  if (s == nullptr) return true;
  size_t length;
  if (a->precision >= 0) {  // the text need not be terminated within the precision
    const void *nul = memchr(s, '\0', a->precision);
    length = nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - s) : a->precision;
  } else {
    length = strlen(s);
  }
  if (!CopyString(c, a, s, length, 1)) return false;
  int number = Err_TextToErrno(s);
  if (number != -1) {
    a->type = MSGFMT_ARG_ERRNO;
    a->e.type = MSGFMT_ERROR_ERRNO;
    a->e.number = static_cast<uint32_t>(number);
  }
  return true;
}

bool FetchWideString(Collector *c, MsgFmt_Arg *a, va_list *ap) {
  const wchar_t *s = va_arg(*ap, const wchar_t *);
  a->v.signed64 = 0;
  if (s == nullptr) return true;
  size_t length;
  if (a->precision >= 0) {
    const wchar_t *nul = wmemchr(s, L'\0', a->precision);
    length = nul != nullptr ? static_cast<size_t>(nul - s) : a->precision;
  } else {
    length = wcslen(s);
  }
  return CopyString(c, a, s, length, sizeof(wchar_t));
}

// Takes position i's value off the va_list; false with the error set.
bool FetchArg(Collector *c, int i, va_list *ap) {
  MsgFmt_Arg *a = &c->args[i];
  bool ok = true;
  switch (a->type) {
    case MSGFMT_ARG_INT32:
      a->v.signed64 = static_cast<uint32_t>(va_arg(*ap, int));
      break;
    case MSGFMT_ARG_INT64:
      a->v.signed64 = va_arg(*ap, int64_t);
      break;
    case MSGFMT_ARG_PTR64:
      a->v.ptr = va_arg(*ap, void *);
      break;
    case MSGFMT_ARG_FLOAT64:
      a->v.float64 = va_arg(*ap, double);
      break;
    case MSGFMT_ARG_STRING8:
      ok = FetchString(c, a, ap);
      break;
    case MSGFMT_ARG_STRING32:
      ok = FetchWideString(c, a, ap);
      break;
    default:
      SetError(c, "MsgFmt_GetArgs: gap in arguments at position %d", i + 1);
      return false;
  }
  if (!ok) {
    SetError(c, "MsgFmt_GetArgs: out of memory");
    return false;
  }
  a->precision = 0;
  return true;
}

// Takes every position's value off a copy of va; false with the error set
// (which releases the array, so the count cannot tell).
bool FetchArgs(Collector *c, va_list va) {
  va_list ap;
  va_copy(ap, va);
  bool ok = true;
  for (int i = 0; ok && i < c->numArgs; i++) ok = FetchArg(c, i, &ap);
  va_end(ap);
  return ok;
}

bool Fail(Collector *c, MsgFmt_Arg **args, int *numArgs, char **error) {
  if (args != nullptr) *args = nullptr;
  if (numArgs != nullptr) *numArgs = 0;
  if (error != nullptr)
    *error = c->error;
  else if (c->bufStart == nullptr)
    free(c->error);
  return false;
}

}  // namespace

int MsgFmt_Parse(MsgFmt_LitFunc *litFunc, MsgFmt_SpecFunc *specFunc, void *clientData, const char *format) {
  enum { kUnknown, kPositional, kSequential } kind = kUnknown;
  int counter = 0;
  const char *p = format, *literal = format;
  auto flush = [&](const char *end) {
    return (litFunc != nullptr && end > literal)
               ? litFunc(clientData, literal, static_cast<int>(end - literal))
               : 0;
  };
  while (*p != 0) {
    if (*p++ != '%') continue;
    int r = flush(*p == '%' ? p : p - 1);  // "%%" is one literal '%'
    if (r < 0) return r;
    if (*p == '%') {
      literal = ++p;
      continue;
    }
    const char *pos = p, *q = p;
    while (IsDigit(*q)) q++;
    bool positional = *p >= '1' && *p <= '9' && *q == '$';
    if (kind == (positional ? kSequential : kPositional)) return kBadFormat;
    kind = positional ? kPositional : kSequential;
    char number[16];
    unsigned posSize;
    if (positional) {
      posSize = static_cast<unsigned>(q - p);
      p = q + 1;
    } else {
      posSize = static_cast<unsigned>(Str_Snprintf(number, sizeof number, "%d", ++counter));
      pos = number;
    }
    const char *type = p;
    while (Contains("0123456789.#- '+LlhzZtqjI", *p)) p++;
    if (!Contains(kConversions, *p)) return kBadFormat;
    p++;
    if (specFunc != nullptr &&
        (r = specFunc(clientData, pos, posSize, type, static_cast<unsigned>(p - type))) < 0)
      return r;
    literal = p;
  }
  int r = flush(p);
  return r < 0 ? r : 0;
}

int MsgFmt_ParseSpec(const char *pos, unsigned int posSize, const char *type, unsigned int typeSize,
                     int *position, int *flags, int *width, int *precision, char *lengthMod,
                     char *conversion) {
  const char *p = pos, *end = pos + posSize;
  if (posSize == 0 || !ParseInt(p, end, position) || p != end || *position < 1) return kBadFormat;
  p = type;
  end = type + typeSize;
  *flags = 0;
  for (const char *f; p < end && (f = strchr("#0- +'", *p)) != nullptr && *p != 0; p++)
    *flags |= 1 << (f - "#0- +'");
  if (!ParseInt(p, end, width)) return kBadFormat;
  *precision = -1;
  if (p < end && *p == '.') {
    p++;
    if (!ParseInt(p, end, precision)) return kBadFormat;
  }
  p = FoldLength(p, end, lengthMod);
  if (p + 1 != end) return kBadFormat;
  *conversion = *p;
  return 0;
}

int MsgFmtGetArg1(void *clientData, const char *pos, unsigned int posSize, const char *type,
                  unsigned int typeSize) {
  Collector *c = static_cast<Collector *>(clientData);
  int position, flags, width, precision;
  char lengthMod, conversion;
  int status = MsgFmt_ParseSpec(pos, posSize, type, typeSize, &position, &flags, &width, &precision,
                                &lengthMod, &conversion);
  if (status != 0) {
    SetError(c, "MsgFmtGetArg1: bad specifier, status %d, pos \"%.*s\", type \"%.*s\"", status, int(posSize),
             pos, int(typeSize), type);
    return status;
  }
  if (!Contains(kConversions, conversion)) {
    SetError(c, "MsgFmtGetArg1: bad specifier, status %d, pos \"%.*s\", type \"%.*s\"", kBadFormat,
             int(posSize), pos, int(typeSize), type);
    return kBadFormat;
  }
  if (!Grow(c, position)) {
    SetError(c, "MsgFmtGetArg1: out of memory at arg %d", position);
    return kNoMemory;
  }
  if (position > c->numArgs) c->numArgs = position;
  uint32_t argType = TypeOf(conversion, lengthMod);
  if (conversion == 'n') {
    SetError(c, "MsgFmtGetArg1: %%n not supported, pos \"%.*s\", type \"%.*s\"", int(posSize), pos,
             int(typeSize), type);
    return kBadFormat;
  }
  if (argType == MSGFMT_ARG_INVALID) {
    SetError(c, "MsgFmtGetArg1: %%%c%c not supported, pos \"%.*s\", type \"%.*s\"", lengthMod, conversion,
             int(posSize), pos, int(typeSize), type);
    return kBadFormat;
  }
  MsgFmt_Arg *a = &c->args[position - 1];
  if (a->type != MSGFMT_ARG_INVALID && a->type != argType) {
    SetError(
        c,
        "MsgFmtGetArg1: incompatible specifiers for argument %d, old type %d, new type %d, pos \"%.*s\", "
        "type \"%.*s\"",
        position, int(a->type), int(argType), int(posSize), pos, int(typeSize), type);
    return kBadFormat;
  }
  a->type = argType;
  if (conversion == 's' || conversion == 'S') a->precision = precision;
  return 0;
}

bool MsgFmt_GetArgs(const char *format, va_list va, MsgFmt_Arg **args, int *numArgs, char **error) {
  return MsgFmt_GetArgsWithBuf(format, va, args, numArgs, error, nullptr, nullptr);
}

bool MsgFmt_GetArgsWithBuf(const char *format, va_list va, MsgFmt_Arg **args, int *numArgs, char **error,
                           void *buffer, size_t *bufferSize) {
  Collector c{nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
  if (buffer != nullptr) {
    c.bufStart = c.bufCur = static_cast<char *>(buffer);
    c.bufEnd = c.bufStart + (bufferSize != nullptr ? *bufferSize : 0);
  }
  int r = MsgFmt_Parse(nullptr, MsgFmtGetArg1, &c, format);
  if (r < 0) {
    if (c.error != nullptr) return Fail(&c, args, numArgs, error);
    if (r == kBadFormat)
      SetError(&c, "MsgFmt_GetArgs: error in format string");
    else if (r == kNoMemory)
      SetError(&c, "MsgFmt_GetArgs: out of memory");
    else
      SetError(&c, "MsgFmt_GetArgs: error %d", r);
    return Fail(&c, args, numArgs, error);
  }
  if (!FetchArgs(&c, va)) return Fail(&c, args, numArgs, error);
  if (args != nullptr)
    *args = c.args;
  else if (c.bufStart == nullptr)
    MsgFmt_FreeArgs(c.args, c.numArgs);
  if (numArgs != nullptr) *numArgs = c.numArgs;
  if (bufferSize != nullptr)
    *bufferSize = c.bufStart != nullptr ? static_cast<size_t>(c.bufCur - c.bufStart) : 0;
  if (error != nullptr) *error = nullptr;
  return true;
}

void MsgFmt_SwizzleArgs(MsgFmt_Arg *args, int numArgs) {
  for (int i = 0; i < numArgs; i++) {
    MsgFmt_Arg *a = &args[i];
    if (a->type < MSGFMT_ARG_STRING8 || a->type > MSGFMT_ARG_STRING32) continue;
    uint32_t offset =
        a->v.ptr != nullptr
            ? static_cast<uint32_t>(static_cast<char *>(a->v.ptr) - reinterpret_cast<char *>(args))
            : 0;
    memcpy(&a->v, &offset, sizeof offset);
  }
}

void MsgFmt_FreeArgs(MsgFmt_Arg *args, int numArgs) {
  if (args == nullptr) return;
  for (int i = 0; i < numArgs; i++)
    if (args[i].type >= MSGFMT_ARG_STRING8 && args[i].type <= MSGFMT_ARG_ERRNO) free(args[i].v.ptr);
  free(args);
}
