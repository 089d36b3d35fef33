// hyxinfo nvd caps: the NVDIMM driver's capabilities.
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cstdio>
#include <cstring>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {
namespace {

// The driver's feature bits, by position.
constexpr const char *kFeatureNames[] = {
    "GET_PLATFORM_CAP_FLAG",
    "GET_TOPOLOGY_FLAG",
    "GET_INTERLEAVE_FLAG",
    "GET_DIMM_DETAILS_FLAG",
    "GET_NAMESPACES_FLAG",
    "GET_NS_DETAILS_FLAG",
    "GET_BOOT_STATUS_FLAG",
    "CREATE_NAMESPACE_FLAG",
    "RENAME_NAMESPACE_FLAG",
    "GROW_NAMESPACE_FLAG",
    "SHRINK_NAMESPACE_FLAG",
    "DELETE_NAMESPACE_FLAG",
    "ENABLE_NAMESPACE_FLAG",
    "DISABLE_NAMESPACE_FLAG",
    "RUN_DIAGNOSTIC_FLAG",
    "SEND_PASSTHRU_FLAG",
    "SEND_DSM",
    "APP_DIRECT_NAMESPACES_FLAG",
    "BLOCK_NAMESPACES_FLAG",
    "MEMORY_PAGE_ALLOCATION",
    "ADDRESS_SCRUB_DATA",
};

}  // namespace

int RunNvd(int argc, char **argv) {
  if (argc == 0) return UsageError("missing the action: caps");
  if (strcmp(argv[0], "caps") != 0) return UsageError("no action " + Shown(argv[0]));
  if (argc != 1) return cli::WrongCount(argc, argv, 1, "");
  HyxuserNvdDriverCapabilities caps;
  HYX_ReturnStatus status = HyxuserNVD_GetDriverCapabilities(&caps);
  if (status != HYX_OK) return Fail("nvd caps", status);
  uint32_t features = caps.supportedFeatures;
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("maxNamespaces", static_cast<uint32_t>(caps.maxNamespaces));
    json.Field("minNamespaceSize", static_cast<uint64_t>(caps.minNamespaceSize));
    json.Field("supportedFeatures", features);
    json.Key("features");
    json.BeginArray();
    for (size_t bit = 0; bit < sizeof kFeatureNames / sizeof kFeatureNames[0]; bit++)
      if (features & (1u << bit)) json.String(kFeatureNames[bit]);
    json.EndArray();
    json.EndObject();
    return 0;
  }
  printf("max namespaces:     %u\nmin namespace size: %llu\nfeatures:           0x%06x\n",
         static_cast<uint32_t>(caps.maxNamespaces), static_cast<unsigned long long>(caps.minNamespaceSize),
         features);
  for (size_t bit = 0; bit < sizeof kFeatureNames / sizeof kFeatureNames[0]; bit++)
    if (features & (1u << bit)) printf("  %s\n", kFeatureNames[bit]);
  return 0;
}

namespace {

constexpr Form kNvdForms[] = {
    {"caps", "", "the NVDIMM driver's capabilities",
     "{\"maxNamespaces\": number, \"minNamespaceSize\": number, \"supportedFeatures\": number, "
     "\"features\": [names of the bits set]}"},
};

}  // namespace

extern const Command kNvdCommand = MakeCommand("nvd", kNvdForms, RunNvd);

}  // namespace hyxinfo
