// The message-format argument collector: record types and layout, string
// copies, buffer mode, and every error text.
#include "misc/msgfmt.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "misc/err.h"

namespace {

struct Result {
  bool ok;
  MsgFmt_Arg *args;
  int count;
  std::string error;
};

// Allocation mode; the caller frees result.args with MsgFmt_FreeArgs.
Result Collect(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Result r{false, nullptr, -1, ""};
  char *error = nullptr;
  r.ok = MsgFmt_GetArgs(format, ap, &r.args, &r.count, &error);
  va_end(ap);
  if (error != nullptr) r.error = error;
  free(error);
  return r;
}

// Buffer mode into `buffer`; *size is updated as the collector says.
Result CollectIn(void *buffer, size_t *size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Result r{false, nullptr, -1, ""};
  char *error = nullptr;
  r.ok = MsgFmt_GetArgsWithBuf(format, ap, &r.args, &r.count, &error, buffer, size);
  va_end(ap);
  if (error != nullptr) r.error = error;
  return r;
}

std::string ErrorOf(const char *format) {
  Result r = Collect(format, "s", "s", "s");  // valid for every type read before a gap
  EXPECT_FALSE(r.ok) << format;
  return r.error;
}

TEST(MsgFmt, RecordsByPositionAndType) {
  Result r = Collect("%2$s %1$d", -5, "text");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.count, 2);
  EXPECT_EQ(r.args[0].type, MSGFMT_ARG_INT32);
  EXPECT_EQ(r.args[0].v.signed64, 0xfffffffbLL);  // low four bytes, upper four zero
  EXPECT_EQ(r.args[1].type, MSGFMT_ARG_STRING8);
  EXPECT_STREQ(r.args[1].v.string8, "text");
  MsgFmt_FreeArgs(r.args, r.count);

  int x;
  r = Collect("%d %ld %lld %zu %hhd %p %f %c %C %x %lx %s %S %ls %g", 1, 2L, 3LL, size_t(4), 5, &x, 6.5, 'c',
              L'C', 7, 8L, "s", L"S", L"ls", 9.5);
  ASSERT_TRUE(r.ok) << r.error;
  const uint32_t types[] = {1, 2, 2, 2, 1, 4, 5, 1, 1, 1, 2, 6, 8, 8, 5};
  ASSERT_EQ(r.count, 15);
  for (int i = 0; i < 15; i++) {
    EXPECT_EQ(r.args[i].type, types[i]) << i;
    EXPECT_EQ(r.args[i].precision, 0) << i;
    EXPECT_EQ(r.args[i].e.type | r.args[i].e.number | r.args[i].pad0 | r.args[i].pad1, 0u) << i;
  }
  EXPECT_EQ(r.args[2].v.signed64, 3);
  EXPECT_EQ(r.args[5].v.ptr, &x);
  EXPECT_EQ(r.args[6].v.float64, 6.5);
  EXPECT_STREQ(reinterpret_cast<wchar_t *>(r.args[13].v.string32), L"ls");
  MsgFmt_FreeArgs(r.args, r.count);
}

TEST(MsgFmt, RecordLayoutIsTheWireLayout) {
  Result r = Collect("%lld", 0x1122334455667788LL);
  ASSERT_TRUE(r.ok);
  unsigned char bytes[32];
  memcpy(bytes, r.args, 32);
  const unsigned char expected[32] = {2, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(memcmp(bytes, expected, 32), 0);
  MsgFmt_FreeArgs(r.args, r.count);
}

TEST(MsgFmt, StringCopiesHonourPrecisionAndNulls) {
  const char unterminated[3] = {'x', 'y', 'z'};
  Result r = Collect("%.3s|%s|%ls|%.2ls|%.9s|%.3s", "abcdef", static_cast<char *>(nullptr), L"wide", L"wide",
                     "ab", unterminated);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_STREQ(r.args[0].v.string8, "abc");
  EXPECT_EQ(r.args[1].v.signed64, 0);
  EXPECT_EQ(memcmp(r.args[2].v.string32, L"wide", 5 * sizeof(wchar_t)), 0);  // with its 4-byte terminator
  EXPECT_EQ(memcmp(r.args[3].v.string32, L"wi", 3 * sizeof(wchar_t)), 0);
  EXPECT_STREQ(r.args[4].v.string8, "ab");
  EXPECT_STREQ(r.args[5].v.string8, "xyz");
  MsgFmt_FreeArgs(r.args, r.count);
}

TEST(MsgFmt, CachedErrnoTextsTravelAsTheirNumber) {
  const char *text = Err_ErrnoToText(ENOENT);
  std::string copy = text;
  Result r = Collect("%s %s", text, copy.c_str());
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.args[0].type, MSGFMT_ARG_ERRNO);
  EXPECT_EQ(r.args[0].e.type, MSGFMT_ERROR_ERRNO);
  EXPECT_EQ(r.args[0].e.number, uint32_t(ENOENT));
  EXPECT_NE(r.args[0].v.string8, text);
  EXPECT_STREQ(r.args[0].v.string8, text);
  EXPECT_EQ(r.args[1].type, MSGFMT_ARG_STRING8);  // an equal text elsewhere is a plain string
  MsgFmt_FreeArgs(r.args, r.count);
}

TEST(MsgFmt, EveryErrorText) {
  const struct {
    const char *format;
    const char *error;
  } cases[] = {
      {"%s %1$s", "MsgFmt_GetArgs: error in format string"},
      {"%1$s %s", "MsgFmt_GetArgs: error in format string"},
      {"abc %", "MsgFmt_GetArgs: error in format string"},
      {"%*d", "MsgFmt_GetArgs: error in format string"},
      {"%y", "MsgFmt_GetArgs: error in format string"},
      {"%1$s %3$d", "MsgFmt_GetArgs: gap in arguments at position 2"},
      {"%1$d %1$s",
       "MsgFmtGetArg1: incompatible specifiers for argument 1, old type 1, new type 6, pos \"1\", type "
       "\"s\""},
      {"%n", "MsgFmtGetArg1: %n not supported, pos \"1\", type \"n\""},
      {"%d %5.2Lf", "MsgFmtGetArg1: %Lf not supported, pos \"2\", type \"5.2Lf\""},
      {"%jg", "MsgFmtGetArg1: %jg not supported, pos \"1\", type \"jg\""},
      {"%99999999999$d", "MsgFmtGetArg1: bad specifier, status -2, pos \"99999999999\", type \"d\""},
      {"%1.2.3d", "MsgFmtGetArg1: bad specifier, status -2, pos \"1\", type \"1.2.3d\""},
      {"%5000$d", "MsgFmtGetArg1: out of memory at arg 5000"},
  };
  for (const auto &c : cases) EXPECT_EQ(ErrorOf(c.format), c.error) << c.format;
}

TEST(MsgFmt, ParseSpecFoldsLengths) {
  const struct {
    const char *type;
    char length;
  } cases[] = {{"hhd", 'H'}, {"hd", 'h'}, {"lld", 'L'}, {"qd", 'L'}, {"Ld", 'L'}, {"I64d", 'L'}, {"ld", 'l'},
               {"jd", 'j'},  {"td", 't'}, {"zd", 'z'},  {"Zd", 'z'}, {"Id", 'z'}, {"I32d", 0},   {"d", 0}};
  for (const auto &c : cases) {
    int position, flags, width, precision;
    char length, conversion;
    ASSERT_EQ(MsgFmt_ParseSpec("12", 2, c.type, strlen(c.type), &position, &flags, &width, &precision,
                               &length, &conversion),
              0)
        << c.type;
    EXPECT_EQ(length, c.length) << c.type;
    EXPECT_EQ(conversion, 'd');
    EXPECT_EQ(position, 12);
  }
  int position, flags, width, precision;
  char length, conversion;
  ASSERT_EQ(
      MsgFmt_ParseSpec("3", 1, "#0- +'12.e", 10, &position, &flags, &width, &precision, &length, &conversion),
      0);
  EXPECT_EQ(flags, 0x3f);
  EXPECT_EQ(width, 12);
  EXPECT_EQ(precision, 0);
  EXPECT_EQ(conversion, 'e');
  ASSERT_EQ(MsgFmt_ParseSpec("1", 1, "s", 1, &position, &flags, &width, &precision, &length, &conversion), 0);
  EXPECT_EQ(precision, -1);
  for (const char *bad : {"", "hd d", "99999999999d", ".99999999999s"})
    EXPECT_EQ(MsgFmt_ParseSpec("1", 1, bad, strlen(bad), &position, &flags, &width, &precision, &length,
                               &conversion),
              -2)
        << bad;
  EXPECT_EQ(MsgFmt_ParseSpec("0", 1, "d", 1, &position, &flags, &width, &precision, &length, &conversion),
            -2);
  EXPECT_EQ(MsgFmt_ParseSpec("1x", 2, "d", 1, &position, &flags, &width, &precision, &length, &conversion),
            -2);
}

// Collects what MsgFmt_Parse reports.
int Literal(void *data, const char *text, int length) {
  static_cast<std::string *>(data)->append("L[").append(text, length).append("]");
  return 0;
}
int Spec(void *data, const char *pos, unsigned posSize, const char *type, unsigned typeSize) {
  static_cast<std::string *>(data)
      ->append("S[")
      .append(pos, posSize)
      .append("|")
      .append(type, typeSize)
      .append("]");
  return 0;
}

TEST(MsgFmt, ParseWalksLiteralsAndSpecifiers) {
  std::string seen;
  EXPECT_EQ(MsgFmt_Parse(Literal, Spec, &seen, "a%%b%-5.2lfc%I64d"), 0);
  EXPECT_EQ(seen, "L[a%]L[b]S[1|-5.2lf]L[c]S[2|I64d]");
  seen.clear();
  EXPECT_EQ(MsgFmt_Parse(Literal, Spec, &seen, "%2$s=%1$'d"), 0);
  EXPECT_EQ(seen, "S[2|s]L[=]S[1|'d]");
  EXPECT_EQ(MsgFmt_Parse(nullptr, nullptr, nullptr, "%0$d"), -2);  // a position starts with 1 to 9
  EXPECT_EQ(
      MsgFmt_Parse(
          nullptr, [](void *, const char *, unsigned, const char *, unsigned) { return -7; }, nullptr, "x%d"),
      -7);
}

TEST(MsgFmt, BufferModePlacesEverythingInTheBuffer) {
  alignas(MsgFmt_Arg) char buffer[256];
  size_t size = sizeof buffer;
  uint64_t allocations = AllocFail_Count();
  Result r = CollectIn(buffer, &size, "%s %d %ls", "hello", 7, L"w");
  EXPECT_EQ(AllocFail_Count() - allocations, 0u) << "buffer mode allocates nothing";
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(static_cast<void *>(r.args), static_cast<void *>(buffer));
  EXPECT_EQ(size, 3 * sizeof(MsgFmt_Arg) + 6 + 2 * sizeof(wchar_t));
  EXPECT_EQ(r.args[0].v.string8, buffer + 96);
  EXPECT_STREQ(r.args[0].v.string8, "hello");

  MsgFmt_SwizzleArgs(r.args, r.count);
  uint32_t offset;
  memcpy(&offset, &r.args[0].v, sizeof offset);
  EXPECT_EQ(offset, 96u);
  memcpy(&offset, &r.args[2].v, sizeof offset);
  EXPECT_EQ(offset, 102u);
  EXPECT_EQ(r.args[1].v.signed64, 7);  // not a string: unchanged
}

TEST(MsgFmt, BufferTooSmallFailsWithoutAllocating) {
  alignas(MsgFmt_Arg) char buffer[80];
  const uint64_t allocations = AllocFail_Count();
  size_t size = 70;  // the two records fit, the string does not
  Result r = CollectIn(buffer, &size, "%d %s", 1, "a string too long for what is left");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "MsgFmt_GetArgs: out of memory");
  EXPECT_EQ(r.error.c_str() != nullptr, true);
  size = 40;  // not even the records
  r = CollectIn(buffer, &size, "%d %s", 1, "x");
  EXPECT_EQ(r.error, "MsgFmtGetArg1: out of memory at arg 2");
  size = 10;  // the error text itself is cut to the buffer
  r = CollectIn(buffer, &size, "%d %s", 1, "x");
  EXPECT_EQ(r.error, "MsgFmtGet");
  size = sizeof(MsgFmt_Arg) + 2;  // the first argument's own text does not fit
  r = CollectIn(buffer, &size, "%s", "longer");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "MsgFmt_GetArgs: out of memory");
  size = 0;
  r = CollectIn(buffer, &size, "%d", 1);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(AllocFail_Count() - allocations, 0u) << "not even for the error text";
}

TEST(MsgFmt, ArgumentsOutNullReleasesTheArray) {
  char *error = reinterpret_cast<char *>(1);
  int count = 0;
  auto run = [&](const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    bool ok = MsgFmt_GetArgs(format, ap, nullptr, &count, &error);
    va_end(ap);
    return ok;
  };
  EXPECT_TRUE(run("%s %s", "a", "b"));  // the leak checker sees the copies released
  EXPECT_EQ(count, 2);
  EXPECT_EQ(error, nullptr);
  Result r = Collect("no arguments");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.args, nullptr);
}

}  // namespace
