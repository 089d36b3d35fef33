// UTF-8 helpers shared by the bounded formatter and the errno-text cache.
#pragma once

#include <bit>
#include <cstddef>

// The length to keep of text[0, length) so that it does not end inside a
// UTF-8 sequence: the last non-continuation byte (searching back to index 0)
// must be ASCII or a lead byte announcing exactly the bytes that follow it,
// else the text is cut at that byte.
inline size_t Utf8CompleteLength(const char *text, size_t length) {
  if (length == 0) return 0;
  size_t i = length - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) i--;
  unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return length;
  int ones = std::countl_one(lead);
  return (ones >= 2 && static_cast<size_t>(ones) == length - i) ? length : i;
}
