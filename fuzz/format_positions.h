// The highest argument position a message format names, so that a fuzz
// target passes no fewer arguments than the format reads.
#pragma once

#include "misc/msgfmt.h"

namespace fuzz {

inline int HighestPosition(const char *format) {
  int highest = 0;
  auto note = [](void *context, const char *pos, unsigned posSize, const char *type, unsigned typeSize) {
    int position, flags, width, precision;
    char length, conversion;
    int *max = static_cast<int *>(context);
    if (MsgFmt_ParseSpec(pos, posSize, type, typeSize, &position, &flags, &width, &precision, &length,
                         &conversion) == 0 &&
        position > *max)
      *max = position;
    return 0;
  };
  MsgFmt_Parse(nullptr, note, &highest, format);
  return highest;
}

}  // namespace fuzz
