// hyxinfo storage: what the library tells of a named storage adapter.
// The kernel's lists of adapters and devices are not exported: hyxhsi
// shows them.
//
// --json shapes: the forms below.
#include <cstdio>
#include <cstring>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {
namespace {

int Pci(const char *adapter) {
  uint32_t bus = 0, slot = 0, function = 0;
  HYX_ReturnStatus status =
      HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(adapter, &bus, &slot, &function);
  if (status != HYX_OK) return Fail(Shown(adapter), status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("adapter", adapter);
    json.Field("bus", bus), json.Field("slot", slot), json.Field("function", function);
    json.EndObject();
  } else {
    printf("%s 0000:%02x:%02x.%x\n", adapter, bus, slot, function);
  }
  return 0;
}

}  // namespace

int RunStorage(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[0], "pci") == 0) return Pci(argv[1]);
  if (argc == 0) return UsageError("missing the action: pci");
  if (strcmp(argv[0], "pci") == 0) return cli::WrongCount(argc, argv, 2, "the ADAPTER");
  if (strcmp(argv[0], "adapters") == 0 || strcmp(argv[0], "devices") == 0 || strcmp(argv[0], "paths") == 0)
    return UsageError("the kernel's lists are hyxhsi's: hyxhsi storage " + std::string(argv[0]));
  return UsageError("no action " + Shown(argv[0]));
}

namespace {

constexpr Form kStorageForms[] = {
    {"pci", "ADAPTER", "an adapter's PCI location",
     "{\"adapter\": text, \"bus\": number, \"slot\": number, \"function\": number}"},
};

}  // namespace

extern const Command kStorageCommand = MakeCommand("storage", kStorageForms, RunStorage);

}  // namespace hyxinfo
