// Byte helpers shared by hyxinfo's commands: hex dumps, hex text, and
// reading or writing a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Lines of 16 bytes: offset, hex, printable characters.
void HexDump(FILE *out, const uint8_t *bytes, size_t length);
// Two lower-case hex digits per byte.
std::string HexText(const uint8_t *bytes, size_t length);
// The whole of path ("-": standard input); false with a message on stderr.
bool ReadWholeFile(const char *path, std::vector<uint8_t> &bytes);
// Writes bytes to path ("-": standard output); false with a message on stderr.
bool WriteWholeFile(const char *path, const uint8_t *bytes, size_t length);

}  // namespace cli
