// Directive parsing and the positional argument table.
#include "string/fmt_args.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// What each conversion letter takes without a length modifier: one table
// for the formatting pass and the positional scan.
struct LetterKinds {
  ArgKind kinds[256] = {};
  constexpr void Set(const char *letters, ArgKind kind) {
    for (; *letters != 0; letters++) kinds[static_cast<unsigned char>(*letters)] = kind;
  }
  constexpr ArgKind operator[](unsigned char c) const { return kinds[c]; }
};

constexpr LetterKinds kLetterKinds = [] {
  LetterKinds t;
  t.Set("diouxXc", ArgKind::kInt);
  t.Set("spn", ArgKind::kPointer);
  t.Set("eEfFgGaA", ArgKind::kDouble);
  return t;
}();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char *ParseNumber(const char *p, int *value, bool *overflow) {
  int64_t v = 0;
  for (; IsDigit(*p); p++) {
    v = v * 10 + (*p - '0');
    if (v > INT_MAX) {
      *overflow = true;
      v = INT_MAX;
    }
  }
  *value = static_cast<int>(v);
  return p;
}

// After a '*': "n$" names argument n, anything else takes the next one.
const char *ParseStar(const char *p, int *arg, bool *overflow) {
  if (*p >= '1' && *p <= '9') {
    int n;
    const char *q = ParseNumber(p, &n, overflow);
    if (*q == '$') {
      *arg = n;
      return q + 1;
    }
  }
  *arg = -1;
  return p;
}

const char *ParseLength(const char *p, FmtLength *length) {
  switch (*p) {
    case 'h':
      if (p[1] == 'h') {
        *length = FmtLength::kChar;
        return p + 2;
      }
      *length = FmtLength::kShort;
      return p + 1;
    case 'l':
      if (p[1] == 'l') {
        *length = FmtLength::kLongLong;
        return p + 2;
      }
      *length = FmtLength::kLong;
      return p + 1;
    case 'L':
    case 'q':
      *length = FmtLength::kQuad;
      return p + 1;
    case 'j':
      *length = FmtLength::kMax;
      return p + 1;
    case 'z':
    case 'Z':
      *length = FmtLength::kSize;
      return p + 1;
    case 't':
      *length = FmtLength::kPtrdiff;
      return p + 1;
    case 'I':
      if (p[1] == '6' && p[2] == '4') {
        *length = FmtLength::kLongLong;
        return p + 3;
      }
      if (p[1] == '3' && p[2] == '2') return p + 3;
      *length = FmtLength::kSize;
      return p + 1;
    default:
      return p;
  }
}

// D O U C S are the l forms of d o u c s.
void FoldLegacy(FmtSpec *s) {
  switch (s->conv) {
    case 'D':
    case 'O':
    case 'U':
    case 'C':
    case 'S':
      s->conv = static_cast<char>(s->conv | 0x20);
      s->length = FmtLength::kLong;
      break;
    default:
      break;
  }
}

const char *ParseFlags(const char *p, uint32_t *flags) {
  for (;; p++) {
    switch (*p) {
      case '-':
        *flags |= kFlagMinus;
        break;
      case '+':
        *flags |= kFlagPlus;
        break;
      case ' ':
        *flags |= kFlagSpace;
        break;
      case '#':
        *flags |= kFlagAlt;
        break;
      case '0':
        *flags |= kFlagZero;
        break;
      case '\'':
        *flags |= kFlagGroup;
        break;
      default:
        return p;
    }
  }
}

// Notes the kind each argument position is read as.
void NoteKind(uint8_t *kinds, int pos, ArgKind kind) { kinds[pos - 1] = static_cast<uint8_t>(kind); }

// Calls note(position, kind) for every argument the format reads, numbering
// sequential ones the way the formatting loop does.  Returns false on a
// position or width that does not fit.
template <typename Note>
bool ScanArguments(const char *format, Note note) {
  int next = 1;
  for (const char *p = format; (p = strchr(p, '%')) != nullptr;) {
    // A letter right after '%' or a one-digit "n$" needs no parsing.
    const char *q = p + 1;
    int pos = q[0] >= '1' && q[0] <= '9' && q[1] == '$' ? q[0] - '0' : 0;
    if (ArgKind plain = kLetterKinds[static_cast<unsigned char>(q[pos > 0 ? 2 : 0])];
        plain != ArgKind::kNone) {
      note(pos > 0 ? pos : next++, plain);
      p = q + (pos > 0 ? 3 : 1);
      continue;
    }
    FmtSpec s;
    p = FmtParseSpec(p + 1, &s);
    if (s.conv == 0) break;
    if (s.overflow) return false;
    if (s.widthArg != 0) note(s.widthArg > 0 ? s.widthArg : next++, ArgKind::kInt);
    if (s.precArg != 0) note(s.precArg > 0 ? s.precArg : next++, ArgKind::kInt);
    ArgKind kind = FmtArgKind(s.conv, s.length);
    if (kind != ArgKind::kNone) note(s.argPos > 0 ? s.argPos : next++, kind);
  }
  return true;
}

void FetchArguments(FmtArgs *a, const uint8_t *kinds) {
  va_list ap;
  va_copy(ap, a->original);
  for (int i = 0; i < a->count; i++) {
    FmtArgValue &v = a->table[i];
    switch (static_cast<ArgKind>(kinds[i])) {
      case ArgKind::kInt64:
        v.i = va_arg(ap, int64_t);
        break;
      case ArgKind::kDouble:
        v.d = va_arg(ap, double);
        break;
      case ArgKind::kLongDouble:
        v.ld = va_arg(ap, long double);
        break;
      case ArgKind::kPointer:
        v.p = va_arg(ap, void *);
        break;
      default:
        v.i = va_arg(ap, int);
        break;  // an int, or a position nothing names
    }
  }
  va_end(ap);
}

}  // namespace

const char *FmtParseSpec(const char *p, FmtSpec *s) {
  *s = FmtSpec{0, 0, -1, 0, 0, 0, FmtLength::kNone, 0, false};
  if (*p >= '1' && *p <= '9') {
    int n;
    const char *q = ParseNumber(p, &n, &s->overflow);
    if (*q == '$') {
      s->argPos = n;
      p = q + 1;
    }
  }
  p = ParseFlags(p, &s->flags);
  if (*p == '*')
    p = ParseStar(p + 1, &s->widthArg, &s->overflow);
  else if (IsDigit(*p))
    p = ParseNumber(p, &s->width, &s->overflow);
  if (*p == '.') {
    p++;
    s->prec = 0;
    if (*p == '*')
      p = ParseStar(p + 1, &s->precArg, &s->overflow);
    else
      p = ParseNumber(p, &s->prec, &s->overflow);
  }
  p = ParseLength(p, &s->length);
  s->conv = *p;
  if (*p != 0) p++;
  FoldLegacy(s);
  return p;
}

ArgKind FmtArgKind(char conv, FmtLength length) {
  ArgKind kind = kLetterKinds[static_cast<unsigned char>(conv)];
  bool wide = length != FmtLength::kNone && length != FmtLength::kChar && length != FmtLength::kShort;
  if (kind == ArgKind::kInt && wide && conv != 'c') return ArgKind::kInt64;
  if (kind == ArgKind::kDouble && length == FmtLength::kQuad) return ArgKind::kLongDouble;
  return kind;
}

// One scan notes the kinds of the first kInlineArgs positions; a format
// naming more positions is scanned again into heap arrays.
bool FmtBuildArgTable(FmtArgs *a) {
  uint8_t inlineKinds[kInlineArgs] = {};
  int highest = 0;
  if (!ScanArguments(a->format,
                     [&](int pos, ArgKind kind) {
                       if (pos <= kInlineArgs) NoteKind(inlineKinds, pos, kind);
                       if (pos > highest) highest = pos;
                     }) ||
      highest > kMaxArgs) {
    errno = EOVERFLOW;
    return false;
  }
  if (highest <= kInlineArgs) {
    a->table = a->inlineTable;
    a->count = highest;
    FetchArguments(a, inlineKinds);
    return true;
  }
  uint8_t *kinds = static_cast<uint8_t *>(calloc(highest, 1));
  FmtArgValue *table = static_cast<FmtArgValue *>(malloc(sizeof(FmtArgValue) * highest));
  if (kinds == nullptr || table == nullptr) {
    free(kinds);
    free(table);
    errno = ENOMEM;
    return false;
  }
  ScanArguments(a->format, [&](int pos, ArgKind kind) { NoteKind(kinds, pos, kind); });
  a->table = table;
  a->count = highest;
  FetchArguments(a, kinds);
  free(kinds);
  return true;
}

void FmtReleaseArgTable(FmtArgs *a) {
  if (a->table != a->inlineTable) free(a->table);
  a->table = nullptr;
}
