// Building observation messages (layout in hobWire.h).
#include "hyxuser/hobWire.h"

#include <cerrno>
#include <cstring>

#include "hyxsysinfo/kernelCall.h"
#include "misc/msgfmt.h"

int HobMsg_Build(void *buffer, uint32_t capacity, uint32_t *length, const char *format, va_list ap) {
  if (buffer == nullptr || length == nullptr || format == nullptr ||
      strnlen(format, kHobFormatMax + 1) > kHobFormatMax) {
    errno = EINVAL;
    return -1;
  }
  // Only the parentheses are looked for; what precedes "(" is not sent.
  const char *open = strchr(format, '(');
  const char *close = open != nullptr ? strchr(open + 1, ')') : nullptr;
  if (close == nullptr) {
    errno = EINVAL;
    return -1;
  }
  const char *text = close + 1;
  size_t idLength = static_cast<size_t>(close - open - 1);
  size_t textLength = strlen(text);
  if (idLength > kHobIdMax || textLength > kHobTextMax) {
    errno = EINVAL;
    return -1;
  }
  uint32_t idSize = HobMsg_FieldSize(idLength);
  uint32_t textSize = HobMsg_FieldSize(textLength);
  size_t fixed = sizeof(HobMsgHeader) + idSize + textSize;
  if (fixed > capacity) {
    errno = EINVAL;
    return -1;
  }

  char *bytes = static_cast<char *>(buffer);
  char *idField = bytes + sizeof(HobMsgHeader);
  char *textField = idField + idSize;
  memset(idField, 0, idSize + textSize);
  memcpy(idField, open + 1, idLength);
  memcpy(textField, text, textLength);

  // The records and string copies go into the rest of the buffer.
  char *argArea = textField + textSize;
  size_t argBytes = capacity - fixed;
  MsgFmt_Arg *args = nullptr;
  int argCount = 0;
  char *error = nullptr;
  if (!MsgFmt_GetArgsWithBuf(textField, ap, &args, &argCount, &error, argArea, &argBytes)) {
    errno = EBADMSG;
    return -1;
  }
  if (args != nullptr) MsgFmt_SwizzleArgs(args, argCount);

  HobMsgHeader header{};
  memcpy(header.magic, kHobMagic, sizeof header.magic);
  uint64_t uptime = 0;
  // A failed call leaves the field 0 (and errno as the gate set it).
  if (Kernel_Call(KERNEL_CALL_UPTIME, &uptime, uint64_t{0}) == HYX_OK) header.uptimeUs = uptime;
  header.length = static_cast<uint32_t>(fixed + argBytes);
  header.argCount = static_cast<uint32_t>(argCount);
  header.idSize = idSize;
  header.textSize = textSize;
  memcpy(bytes, &header, sizeof header);
  *length = header.length;
  return 0;
}
