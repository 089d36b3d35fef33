// Fuzzer for the message-format collector: any format, in allocation mode
// or into a heap buffer of exactly the given size, so that ASan sees any
// read or write past it.  Every argument slot holds the address of a text
// that is valid both as a narrow and as a wide string, so whatever type the
// format gives a position, reading it is safe.
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "format_positions.h"
#include "misc/err.h"
#include "misc/msgfmt.h"

namespace {

constexpr int kArgs = 32;
const wchar_t kText[] = L"fuzz";

bool Collect(const char *format, void *buffer, size_t *size, MsgFmt_Arg **args, int *count, char **error,
             ...) {
  va_list ap;
  va_start(ap, error);
  bool ok = MsgFmt_GetArgsWithBuf(format, ap, args, count, error, buffer, size);
  va_end(ap);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  bool bufferMode = data[0] & 1;
  size_t bufferSize = (data[1] | (data[2] << 8)) & 0xfff;
  std::string format(reinterpret_cast<const char *>(data + 3), size - 3);
  format = format.c_str();                                      // up to the first NUL
  if (fuzz::HighestPosition(format.c_str()) > kArgs) return 0;  // more arguments than are passed

  const void *p = kText;
  double d;
  memcpy(&d, &p, sizeof d);
  char *buffer =
      bufferMode ? static_cast<char *>(aligned_alloc(16, (bufferSize + 15) & ~size_t(15))) : nullptr;
  size_t used = bufferSize;
  MsgFmt_Arg *args = nullptr;
  int count = 0;
  char *error = nullptr;
  // Err_ErrnoToText's texts are recognised: make one of them the argument
  // when no conversion can read it as a wide string.
  if (format.size() > 2 && format[0] == 'E' && format.find_first_of("lSLjqI") == std::string::npos)
    p = Err_ErrnoToText(format[1]);
  bool ok = Collect(format.c_str(), bufferMode ? buffer : nullptr, &used, &args, &count, &error, p, p, p, p,
                    p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, d, d,
                    d, d, d, d, d, d);
  if (ok && bufferMode) {
    if (used > bufferSize) abort();
    MsgFmt_SwizzleArgs(args, count);
  }
  if (!ok && error == nullptr) abort();
  if (!bufferMode) {
    if (ok) MsgFmt_FreeArgs(args, count);
    free(error);
  }
  free(buffer);
  return 0;
}
