// hyxinfo vm WORLDID: the virtual machine a kernel world belongs to.
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

int RunVm(int argc, char **argv) {
  if (argc != 1) return cli::WrongCount(argc, argv, 1, "the WORLDID");
  char *end = nullptr;
  errno = 0;
  unsigned long world = strtoul(argv[0], &end, 0);
  if (errno != 0 || end == argv[0] || *end != '\0' || world > 0xffffffffUL) {
    return UsageError("WORLDID is a number: " + Shown(argv[0]));
  }
  // The fields are filled as strncpy fills them: one more byte keeps a
  // full field terminated.
  char uuid[129] = {}, instance[129] = {}, path[1985] = {};
  HYX_ReturnStatus status = HyxuserVM_MapWorldIdToUUIDAndPath_0_24(static_cast<uint32_t>(world), uuid, path);
  if (status != HYX_OK) return Fail("vm", status);
  status = HyxuserVM_MapWorldIdToInstanceUUIDAndPath(static_cast<uint32_t>(world), instance, nullptr);
  if (status != HYX_OK) return Fail("vm", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("world", static_cast<uint64_t>(world));
    json.Field("uuid", uuid);
    json.Field("instanceUuid", instance);
    json.Field("configPath", path);
    json.EndObject();
  } else {
    printf("world:         %lu\nuuid:          %s\ninstance uuid: %s\nconfig path:   %s\n", world, uuid,
           instance, path);
  }
  return 0;
}

namespace {

constexpr Form kVmForms[] = {
    {nullptr, "WORLDID", "the virtual machine a world belongs to",
     "{\"world\": number, \"uuid\": text, \"instanceUuid\": text, \"configPath\": text}"},
};

}  // namespace

extern const Command kVmCommand = MakeCommand("vm", kVmForms, RunVm);

}  // namespace hyxinfo
