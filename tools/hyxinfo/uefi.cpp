// hyxinfo uefi: the host firmware's UEFI variables.
//
// --json shapes: the command table in hyxinfo.cpp.
// FILE "-" is standard input; ATTRS is a number (0x7 and 7 alike).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

namespace {

int List() {
  char **names = nullptr;
  uint32_t count = 0;
  HYX_ReturnStatus status = HyxuserUefi_GetVariableList(&names, &count);
  if (status != HYX_OK) return Fail("uefi list", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Key("variables");
    json.BeginArray();
    for (uint32_t i = 0; i < count; i++) json.String(names[i]);
    json.EndArray();
    json.EndObject();
  } else {
    for (uint32_t i = 0; i < count; i++) printf("%s\n", names[i]);
  }
  for (uint32_t i = 0; i < count; i++) free(names[i]);
  free(names);
  return 0;
}

int Get(const char *name) {
  uint32_t attributes = 0;
  uint64_t length = 0;
  void *data = nullptr;
  HYX_ReturnStatus status = HyxuserUefi_GetVariable(name, &attributes, &length, &data);
  if (status != HYX_OK) return Fail("uefi get", status);
  const auto *bytes = static_cast<const uint8_t *>(data);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("name", name);
    json.Field("attributes", attributes);
    json.Field("length", length);
    json.Field("data", HexText(bytes, length).c_str());
    json.EndObject();
  } else {
    printf("%s: attributes 0x%x, %llu bytes\n", name, attributes, static_cast<unsigned long long>(length));
    HexDump(stdout, bytes, length);
  }
  free(data);
  return 0;
}

int Set(const char *name, const char *attributesText, const char *file) {
  char *end = nullptr;
  errno = 0;
  unsigned long long attributes = strtoull(attributesText, &end, 0);
  if (errno != 0 || end == attributesText || *end != '\0' || attributes > UINT32_MAX ||
      attributesText[0] == '-')
    return UsageError("ATTRS is a number from 0 to 0xffffffff: " + Shown(attributesText));
  std::vector<uint8_t> contents;
  if (!ReadWholeFile(file, contents)) return kFailed;
  HYX_ReturnStatus status =
      HyxuserUefi_SetVariable(name, static_cast<uint32_t>(attributes), contents.size(), contents.data());
  if (status != HYX_OK) return Fail("uefi set", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("name", name);
    json.Field("attributes", static_cast<uint32_t>(attributes));
    json.Field("length", uint64_t{contents.size()});
    json.EndObject();
  } else {
    printf("%s: set, attributes 0x%llx, %zu bytes\n", name, attributes, contents.size());
  }
  return 0;
}

int Remove(const char *name) {
  HYX_ReturnStatus status = HyxuserUefi_RemoveVariable(name);
  if (status != HYX_OK) return Fail("uefi rm", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("name", name);
    json.Field("removed", true);
    json.EndObject();
  } else {
    printf("%s: removed\n", name);
  }
  return 0;
}

}  // namespace

int RunUefi(int argc, char **argv) {
  if (argc == 1 && strcmp(argv[0], "list") == 0) return List();
  if (argc == 2 && strcmp(argv[0], "get") == 0) return Get(argv[1]);
  if (argc == 4 && strcmp(argv[0], "set") == 0) return Set(argv[1], argv[2], argv[3]);
  if (argc == 2 && strcmp(argv[0], "rm") == 0) return Remove(argv[1]);
  if (argc == 0) return UsageError("missing the action: list, get, set or rm");
  if (strcmp(argv[0], "list") == 0) return cli::WrongCount(argc, argv, 1, "");
  if (strcmp(argv[0], "get") == 0 || strcmp(argv[0], "rm") == 0)
    return cli::WrongCount(argc, argv, 2, "the variable's NAME");
  if (strcmp(argv[0], "set") == 0) return cli::WrongCount(argc, argv, 4, "NAME ATTRS FILE");
  return UsageError("no action " + Shown(argv[0]));
}

namespace {

constexpr Form kUefiForms[] = {
    {"list", "", "names of the firmware's UEFI variables", "{\"variables\": [text, ...]}"},
    {"get", "NAME", "a variable's attributes and contents",
     "{\"name\": text, \"attributes\": number, \"length\": number, \"data\": hex text}"},
    {"set", "NAME ATTRS FILE", "write a variable (FILE - is stdin; empty contents delete)",
     "{\"name\": text, \"attributes\": number, \"length\": number}"},
    {"rm", "NAME", "delete a variable", "{\"name\": text, \"removed\": true}"},
};

}  // namespace

extern const Command kUefiCommand = MakeCommand("uefi", kUefiForms, RunUefi);

}  // namespace hyxinfo
