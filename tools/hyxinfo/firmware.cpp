// hyxinfo acpi, hyxinfo smbios: the host's firmware tables.
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

namespace {

// Takes "-o FILE" out of the arguments; false when -o lacks its file.
bool TakeOutputFile(int &argc, char **argv, const char *&file) {
  int kept = 0;
  for (int i = 0; i < argc; i++) {
    if (strcmp(argv[i], "-o") == 0) {
      if (i + 1 >= argc) return false;
      file = argv[++i];
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return true;
}

bool ParseUnsigned(const char *text, uint32_t &value) {
  char *end = nullptr;
  errno = 0;
  unsigned long long parsed = strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || parsed > UINT32_MAX || text[0] == '-') return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

// ---- SMBIOS structures ------------------------------------------------------

struct Structure {
  uint8_t type;
  const uint8_t *formatted;  // the formatted area, length bytes
  uint8_t length;
  std::vector<std::string> strings;

  const char *String(size_t offset) const {
    if (offset >= length) return "";
    uint8_t index = formatted[offset];
    return index >= 1 && index <= strings.size() ? strings[index - 1].c_str() : "";
  }
  unsigned Byte(size_t offset) const { return offset < length ? formatted[offset] : 0; }
  unsigned Word(size_t offset) const {
    return offset + 1 < length ? formatted[offset] | formatted[offset + 1] << 8 : 0;
  }
};

// The structure table, after the entry point when the block starts with one.
std::vector<Structure> ParseSmbios(const std::vector<uint8_t> &block) {
  size_t at = 0;
  if (block.size() >= 24 && memcmp(block.data(), "_SM3_", 5) == 0)
    at = block[6];
  else if (block.size() >= 31 && memcmp(block.data(), "_SM_", 4) == 0)
    at = block[5];
  std::vector<Structure> structures;
  while (at + 4 <= block.size()) {
    Structure s{block[at], &block[at], block[at + 1], {}};
    if (s.length < 4 || at + s.length > block.size()) break;
    size_t next = at + s.length;
    // Strings follow, each NUL-terminated; the set ends with another NUL.
    if (next < block.size() && block[next] == 0) {
      next += 2;  // no strings: two NULs
    } else {
      while (next < block.size() && block[next] != 0) {
        const char *text = reinterpret_cast<const char *>(&block[next]);
        size_t length = strnlen(text, block.size() - next);
        s.strings.emplace_back(text, length);
        next += length + 1;
      }
      next++;
    }
    // A set that stops at the end of the block: keep what is whole.
    if (next > block.size() + 1) break;
    structures.push_back(std::move(s));
    if (structures.back().type == 127) break;
    at = next;
  }
  return structures;
}

std::string Uuid(const Structure &s) {
  if (s.length < 24) return "";
  const uint8_t *u = s.formatted + 8;
  char text[40];
  // The first three fields are little-endian.
  snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[3],
           u[2], u[1], u[0], u[5], u[4], u[7], u[6], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
  return text;
}

unsigned Cores(const Structure &s) { return s.Byte(0x23); }

HYX_ReturnStatus ReadSmbios(std::vector<uint8_t> &block) {
  uint64_t length = 0;  // the kernel writes 32 bits of it
  HYX_ReturnStatus status = HyxuserSMBIOS_GetDataLen(&length);
  if (status != HYX_OK) return status;
  block.assign(static_cast<uint32_t>(length), 0);
  if (block.empty()) return HYX_OK;
  return HyxuserSMBIOS_GetData(block.data(), static_cast<uint32_t>(block.size()));
}

int PrintSummary(const std::vector<uint8_t> &block) {
  std::vector<Structure> structures = ParseSmbios(block);
  const Structure *bios = nullptr, *system = nullptr;
  std::vector<const Structure *> processors;
  for (const Structure &s : structures) {
    if (s.type == 0 && bios == nullptr) bios = &s;
    if (s.type == 1 && system == nullptr) system = &s;
    if (s.type == 4) processors.push_back(&s);
  }
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("length", uint64_t{block.size()});
    json.Key("bios");
    if (bios == nullptr) {
      json.Null();
    } else {
      json.BeginObject();
      json.Field("vendor", bios->String(4));
      json.Field("version", bios->String(5));
      json.Field("releaseDate", bios->String(8));
      json.EndObject();
    }
    json.Key("system");
    if (system == nullptr) {
      json.Null();
    } else {
      json.BeginObject();
      json.Field("manufacturer", system->String(4));
      json.Field("product", system->String(5));
      json.Field("version", system->String(6));
      json.Field("serial", system->String(7));
      json.Field("uuid", Uuid(*system).c_str());
      json.EndObject();
    }
    json.Key("processors");
    json.BeginArray();
    for (const Structure *p : processors) {
      json.BeginObject();
      json.Field("socket", p->String(4));
      json.Field("manufacturer", p->String(7));
      json.Field("version", p->String(0x10));
      json.Field("maxSpeedMHz", uint32_t{p->Word(0x14)});
      json.Field("currentSpeedMHz", uint32_t{p->Word(0x16)});
      json.Field("cores", uint32_t{Cores(*p)});
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return 0;
  }
  printf("SMBIOS data: %zu bytes, %zu structures\n", block.size(), structures.size());
  if (bios != nullptr) printf("BIOS:       %s %s (%s)\n", bios->String(4), bios->String(5), bios->String(8));
  if (system != nullptr)
    printf("System:     %s %s %s, serial %s, UUID %s\n", system->String(4), system->String(5),
           system->String(6), system->String(7), Uuid(*system).c_str());
  for (const Structure *p : processors)
    printf("Processor:  %s: %s %s, %u MHz (max %u MHz), %u cores\n", p->String(4), p->String(7),
           p->String(0x10), p->Word(0x16), p->Word(0x14), Cores(*p));
  return 0;
}

}  // namespace

int RunAcpi(int argc, char **argv) {
  const char *file = nullptr;
  if (!TakeOutputFile(argc, argv, file)) return UsageError("-o needs a FILE");
  if (argc < 1 || argc > 2) return cli::WrongCount(argc, argv, 2, "the table's signature SIG");
  const char *signature = argv[0];
  uint32_t instance = 0;
  if (strlen(signature) != 4) return UsageError("SIG is four characters, such as APIC: " + Shown(signature));
  if (argc == 2 && !ParseUnsigned(argv[1], instance))
    return UsageError("INSTANCE is a number from 0: " + Shown(argv[1]));
  uint64_t length = 0;  // the kernel writes 32 bits of it
  HYX_ReturnStatus status = HyxuserAcpi_GetTableLengthBySignature(signature, instance, &length);
  if (status != HYX_OK) return Fail("acpi", status);
  std::vector<uint8_t> table(static_cast<uint32_t>(length) ? static_cast<uint32_t>(length) : 1);
  status = HyxuserAcpi_GetTableBySignature(signature, instance, table.data(), table.size());
  if (status != HYX_OK) return Fail("acpi", status);
  table.resize(static_cast<uint32_t>(length));
  if (file != nullptr && !WriteWholeFile(file, table.data(), table.size())) return kFailed;
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("signature", signature);
    json.Field("instance", instance);
    json.Field("length", uint64_t{table.size()});
    if (file != nullptr)
      json.Field("file", file);
    else
      json.Field("bytes", HexText(table.data(), table.size()).c_str());
    json.EndObject();
  } else if (file == nullptr) {
    printf("%s instance %u: %zu bytes\n", signature, instance, table.size());
    HexDump(stdout, table.data(), table.size());
  }
  return 0;
}

int RunSmbios(int argc, char **argv) {
  const char *file = nullptr;
  if (!TakeOutputFile(argc, argv, file)) return UsageError("-o needs a FILE");
  if (argc > 1) return cli::WrongCount(argc, argv, 1, "");
  bool raw = argc == 1;
  if (raw && strcmp(argv[0], "raw") != 0) return UsageError("no action " + Shown(argv[0]));
  std::vector<uint8_t> block;
  HYX_ReturnStatus status = ReadSmbios(block);
  if (status != HYX_OK) return Fail("smbios", status);
  if (file != nullptr) {
    if (!WriteWholeFile(file, block.data(), block.size())) return kFailed;
    if (JsonOutput()) {
      JsonWriter json(Out());
      json.BeginObject();
      json.Field("length", uint64_t{block.size()});
      json.Field("file", file);
      json.EndObject();
    }
    return 0;
  }
  if (!raw) return PrintSummary(block);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("length", uint64_t{block.size()});
    json.Field("bytes", HexText(block.data(), block.size()).c_str());
    json.EndObject();
  } else {
    HexDump(stdout, block.data(), block.size());
  }
  return 0;
}

namespace {

constexpr Form kAcpiForms[] = {
    {nullptr, "SIG [INSTANCE]", "an ACPI table as a hex dump",
     "{\"signature\": text, \"instance\": number, \"length\": number, \"bytes\": hex text}"},
    {nullptr, "SIG [INSTANCE] -o FILE", "an ACPI table's bytes to FILE",
     "{\"signature\": text, \"instance\": number, \"length\": number, \"file\": text}"},
};

}  // namespace

extern const Command kAcpiCommand = MakeCommand("acpi", kAcpiForms, RunAcpi);

namespace {

constexpr Form kSmbiosForms[] = {
    {nullptr, "", "the BIOS, system and processor structures",
     "{\"length\": number, \"bios\": null or {\"vendor\", \"version\", \"releaseDate\"}, \"system\": null or "
     "{\"manufacturer\", \"product\", \"version\", \"serial\", \"uuid\"}, \"processors\": [{\"socket\", "
     "\"manufacturer\", \"version\", \"maxSpeedMHz\", \"currentSpeedMHz\", \"cores\"}]}"},
    {nullptr, "-o FILE", "the raw SMBIOS data block to FILE", "{\"length\": number, \"file\": text}"},
    {"raw", "", "hex dump of the SMBIOS data block", "{\"length\": number, \"bytes\": hex text}"},
};

}  // namespace

extern const Command kSmbiosCommand = MakeCommand("smbios", kSmbiosForms, RunSmbios);

}  // namespace hyxinfo
