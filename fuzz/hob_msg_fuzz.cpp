// Fuzzer for the observation message builder: any "...(id)text" format into
// a heap buffer of exactly the given capacity (so ASan sees any write past
// it), then the message is read back with a reader of its own and must be
// well formed: the header's sizes add up to the length, the fields are
// NUL-padded, every string offset lands inside the string data on a
// terminated string.  Every argument slot holds the address of a text valid
// both as a narrow and as a wide string, so any conversion may read it.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format_positions.h"
#include "hyxuser/hobWire.h"
#include "misc/msgfmt.h"

namespace {

const wchar_t kText[] = L"fuzz";

int Build(void *buffer, uint32_t capacity, uint32_t *length, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int result = HobMsg_Build(buffer, capacity, length, format, ap);
  va_end(ap);
  return result;
}

void Check(bool condition) {
  if (!condition) abort();
}

void CheckMessage(const uint8_t *m, uint32_t length, uint32_t capacity) {
  Check(length >= 32 && length <= capacity);
  HobMsgHeader h;
  memcpy(&h, m, sizeof h);
  Check(memcmp(h.magic, "HobMag1", 8) == 0 && h.length == length);
  Check(h.idSize % 8 == 0 && h.textSize % 8 == 0 && h.idSize > 0 && h.textSize > 0);
  uint64_t array = 32 + uint64_t{h.idSize} + h.textSize, data = array + uint64_t{h.argCount} * 32;
  Check(data <= length);
  Check(m[32 + h.idSize - 1] == 0 && m[32 + h.idSize + h.textSize - 1] == 0);
  for (uint32_t i = 0; i < h.argCount; ++i) {
    MsgFmt_Arg a;
    memcpy(&a, m + array + 32 * i, sizeof a);
    Check(a.type >= 1 && a.type <= 9 && a.precision == 0);
    if (a.type != MSGFMT_ARG_STRING8 && a.type != MSGFMT_ARG_STRING32) continue;
    uint32_t offset = a.v.unsigned32;
    Check(offset >= data - array && array + offset < length);
    if (a.type == MSGFMT_ARG_STRING8)
      Check(memchr(m + array + offset, 0, length - array - offset) != nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  uint32_t capacity = (data[0] | (data[1] << 8)) & 0x3fff;  // also capacities beyond the usual 8192
  std::string format(reinterpret_cast<const char *>(data + 2), size - 2);
  format = format.c_str();  // up to the first NUL
  const char *open = strchr(format.c_str(), '(');
  const char *close = open ? strchr(open + 1, ')') : nullptr;
  if (close != nullptr && fuzz::HighestPosition(close + 1) > 32) return 0;  // more arguments than are passed

  const void *p = kText;
  double d;
  memcpy(&d, &p, sizeof d);
  uint8_t *buffer = static_cast<uint8_t *>(aligned_alloc(16, (capacity + 15) & ~uint32_t{15}));
  uint32_t length = 0;
  errno = 0;
  int result = Build(buffer, capacity, &length, format.c_str(), p, p, p, p, p, p, p, p, p, p, p, p, p, p, p,
                     p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, d, d, d, d, d, d, d, d);
  if (result == 0)
    CheckMessage(buffer, length, capacity);
  else
    Check(errno == EINVAL || errno == EBADMSG);
  free(buffer);
  return 0;
}
