// Reads and writes values at byte offsets of a record or buffer, as the
// kernel sees them: no alignment assumed, host byte order.
#pragma once

#include <cstddef>
#include <cstring>

template <typename T>
T At(const void *base, size_t offset) {
  T value;
  memcpy(&value, static_cast<const unsigned char *>(base) + offset, sizeof value);
  return value;
}

template <typename T>
void PutAt(void *base, size_t offset, T value) {
  memcpy(static_cast<unsigned char *>(base) + offset, &value, sizeof value);
}
