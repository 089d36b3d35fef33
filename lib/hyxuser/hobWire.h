// The observation message: what one notify puts on the observation daemon's
// stream.  All integers are little-endian (the host's order).
//
//   header (32 bytes) | id field | text field | argument records | strings
//
// The id and text fields are NUL-padded to the next multiple of 8 that
// leaves at least one NUL; the argument area is the array of 32-byte
// MsgFmt_Arg records followed by the copies of the string arguments, each
// with its NUL, back to back.  A string record's value holds the offset of
// its string from the start of the record array.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

struct HobMsgHeader {
  char magic[8];      // "HobMag1" and a NUL
  uint64_t uptimeUs;  // host uptime in microseconds when built; 0 if unknown
  uint32_t length;    // the whole message, header included
  uint32_t argCount;  // argument records
  uint32_t idSize;    // id field in bytes
  uint32_t textSize;  // text field in bytes
};
static_assert(sizeof(HobMsgHeader) == 32);

inline constexpr char kHobMagic[8] = "HobMag1";
inline constexpr uint32_t kHobMessageMax = 8192;  // the build buffer, so the longest message
inline constexpr size_t kHobFormatMax = 4352;
inline constexpr size_t kHobIdMax = 256;
inline constexpr size_t kHobTextMax = 4096;

// Field size for n bytes of text: the smallest multiple of 8 above n.
constexpr uint32_t HobMsg_FieldSize(size_t n) { return static_cast<uint32_t>((n + 8) & ~size_t{7}); }

// Builds one message into buffer (capacity bytes, 8-byte aligned) from a
// message-id format "...(id)text" and the arguments of text's conversions.
// Returns 0 and stores the length in *length, or -1 with errno: EINVAL for a
// bad format or one that cannot fit, EBADMSG when the arguments cannot be
// collected or do not fit.
int HobMsg_Build(void *buffer, uint32_t capacity, uint32_t *length, const char *format, va_list ap);
