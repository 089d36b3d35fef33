// The observation message as the builder lays it out, byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "hyxuser/hobWire.h"
#include "misc/err.h"
#include "misc/msgfmt.h"

namespace {

struct Built {
  int result;
  int err;
  uint32_t length;
  alignas(16) unsigned char bytes[kHobMessageMax];

  HobMsgHeader Header() const {
    HobMsgHeader h;
    memcpy(&h, bytes, sizeof h);
    return h;
  }
  const unsigned char *Args() const { return bytes + 32 + Header().idSize + Header().textSize; }
  MsgFmt_Arg Arg(int i) const {
    MsgFmt_Arg a;
    memcpy(&a, Args() + 32 * i, sizeof a);
    return a;
  }
};

Built Build(uint32_t capacity, const char *format, ...) {
  static Built built;
  memset(&built, 0xee, sizeof built);
  built.length = 0;
  va_list ap;
  va_start(ap, format);
  errno = 0;
  built.result = HobMsg_Build(built.bytes, capacity, &built.length, format, ap);
  built.err = errno;
  va_end(ap);
  return built;
}

TEST(HobWire, FieldSizesAlwaysLeaveANul) {
  EXPECT_EQ(HobMsg_FieldSize(0), 8u);
  EXPECT_EQ(HobMsg_FieldSize(7), 8u);
  EXPECT_EQ(HobMsg_FieldSize(8), 16u);
  EXPECT_EQ(HobMsg_FieldSize(22), 24u);
  EXPECT_EQ(HobMsg_FieldSize(24), 32u);
}

TEST(HobWire, AMessageLaidOutByteForByte) {
  const std::string id(24, 'i');
  const std::string format = "marker(" + id + ")%s=%d %s|%ls";
  Built b = Build(kHobMessageMax, format.c_str(), "key", -5, static_cast<const char *>(nullptr), L"w\u00e9");
  ASSERT_EQ(b.result, 0);
  HobMsgHeader h = b.Header();
  EXPECT_EQ(memcmp(h.magic, "HobMag1\0", 8), 0);
  EXPECT_EQ(h.idSize, 32u);
  EXPECT_EQ(h.textSize, 16u);  // "%s=%d %s|%ls": 12 bytes
  EXPECT_EQ(h.argCount, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(b.bytes + 32), 32), id + std::string(8, '\0'));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(b.bytes + 64), 16),
            "%s=%d %s|%ls" + std::string(4, '\0'));

  MsgFmt_Arg key = b.Arg(0), number = b.Arg(1), null = b.Arg(2), wide = b.Arg(3);
  EXPECT_EQ(key.type, MSGFMT_ARG_STRING8);
  EXPECT_EQ(key.v.unsigned32, 4u * 32);
  EXPECT_STREQ(reinterpret_cast<const char *>(b.Args() + 128), "key");
  EXPECT_EQ(number.type, MSGFMT_ARG_INT32);
  EXPECT_EQ(static_cast<int32_t>(number.v.unsigned32), -5);
  EXPECT_EQ(null.type, MSGFMT_ARG_STRING8);
  EXPECT_EQ(null.v.unsigned32, 0u);  // a null string copies nothing
  EXPECT_EQ(wide.type, MSGFMT_ARG_STRING32);
  EXPECT_EQ(wide.v.unsigned32, 4u * 32 + 4);
  const uint32_t wideText[] = {'w', 0xe9, 0};
  EXPECT_EQ(memcmp(b.Args() + 132, wideText, sizeof wideText), 0);
  EXPECT_EQ(h.length, 32u + 32 + 16 + 128 + 4 + 12);
  EXPECT_EQ(b.length, h.length);
}

TEST(HobWire, ACachedErrnoTextTravelsAsAnErrorRecord) {
  const char *text = Err_ErrnoToText(ENOENT);
  Built b = Build(kHobMessageMax, "(id)%s", text);
  ASSERT_EQ(b.result, 0);
  MsgFmt_Arg a = b.Arg(0);
  EXPECT_EQ(a.type, MSGFMT_ARG_ERRNO);
  EXPECT_EQ(a.e.type, MSGFMT_ERROR_ERRNO);
  EXPECT_EQ(a.e.number, static_cast<uint32_t>(ENOENT));
  EXPECT_STREQ(reinterpret_cast<const char *>(b.Args() + 32), text);
}

TEST(HobWire, BadFormatsAndCapacities) {
  const std::string id256 = "(" + std::string(256, 'i') + ")", id257 = "(" + std::string(257, 'i') + ")";
  const std::string text4096 = "()" + std::string(4096, 't'), text4097 = "()" + std::string(4097, 't');
  const std::string format4353 = std::string(4353 - 2, 'm') + "()";
  struct Case {
    const char *name;
    std::string format;
    uint32_t capacity;
    int err;  // 0: built
  } cases[] = {
      {"no parentheses", "plain text", kHobMessageMax, EINVAL},
      {"no closing parenthesis", "(id text", kHobMessageMax, EINVAL},
      {"closing before opening", ")id(", kHobMessageMax, EINVAL},
      {"id of 256 bytes", id256, kHobMessageMax, 0},
      {"id of 257 bytes", id257, kHobMessageMax, EINVAL},
      {"text of 4096 bytes", text4096, kHobMessageMax, 0},
      {"text of 4097 bytes", text4097, kHobMessageMax, EINVAL},
      {"format of 4353 bytes", format4353, kHobMessageMax, EINVAL},
      {"fields fill the capacity", "(id)text", 32 + 8 + 8, 0},
      {"fields exceed the capacity", "(id)text", 32 + 8 + 8 - 1, EINVAL},
      {"no room for the record", "(id)%d", 32 + 8 + 8 + 31, EBADMSG},
      {"a conversion the collector refuses", "(id)%n", kHobMessageMax, EBADMSG},
      {"a gap in positions", "(id)%2$d", kHobMessageMax, EBADMSG},
  };
  for (const Case &c : cases) {
    Built b = Build(c.capacity, c.format.c_str(), 1, 2);
    EXPECT_EQ(b.result, c.err ? -1 : 0) << c.name;
    if (c.err)
      EXPECT_EQ(b.err, c.err) << c.name;
    else
      EXPECT_LE(b.length, c.capacity) << c.name;
  }
  uint32_t length = 0;
  va_list none{};
  EXPECT_EQ(HobMsg_Build(nullptr, 100, &length, "(a)b", none), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(HobWire, StringsThatDoNotFitAreRefused) {
  const std::string big(8192, 's');
  Built b = Build(kHobMessageMax, "(id)%s", big.c_str());
  EXPECT_EQ(b.result, -1);
  EXPECT_EQ(b.err, EBADMSG);
  const std::string fits(8192 - 32 - 8 - 8 - 32 - 1, 's');
  b = Build(kHobMessageMax, "(id)%s", fits.c_str());
  ASSERT_EQ(b.result, 0);
  EXPECT_EQ(b.length, kHobMessageMax);
}

}  // namespace
