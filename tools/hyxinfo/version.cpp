// hyxinfo version, hyxinfo uptime: the host kernel's product and build, and
// how long the host has been up.
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cinttypes>
#include <cstdio>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

int RunVersion(int argc, char **argv) {
  if (argc != 0) return cli::WrongCount(argc, argv, 0, "");
  HyxuserSystemVersion version;
  HYX_ReturnStatus status = HyxuserVersion_GetSystemVersion(&version);
  if (status != HYX_OK) return Fail("version", status);
  HyxuserUniqueSystemVersion unique;
  status = HyxuserVersion_GetUniqueSystemVersion(&unique);
  if (status != HYX_OK) return Fail("version", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("product", version.product, sizeof version.product);
    json.Field("productVersion", version.productVersion, sizeof version.productVersion);
    json.Field("buildVersion", version.buildVersion, sizeof version.buildVersion);
    json.Field("buildType", unique.buildType, sizeof unique.buildType);
    json.Field("buildDate", version.buildDate, sizeof version.buildDate);
    json.Field("buildTime", version.buildTime, sizeof version.buildTime);
    json.Field("releaseUpdate", unique.releaseUpdate, sizeof unique.releaseUpdate);
    json.Field("releasePatch", unique.releasePatch, sizeof unique.releasePatch);
    json.Field("build", version.build);
    json.EndObject();
    return 0;
  }
  printf("product:  %s %s\n", version.product, version.productVersion);
  printf("build:    %s (%s, %u)\n", version.buildVersion, unique.buildType, version.build);
  printf("built:    %s %s\n", version.buildDate, version.buildTime);
  printf("release:  update %s, patch %s\n", unique.releaseUpdate, unique.releasePatch);
  return 0;
}

int RunUptime(int argc, char **argv) {
  if (argc != 0) return cli::WrongCount(argc, argv, 0, "");
  uint64_t uptime = 0;
  HYX_ReturnStatus status = HyxuserUptime_GetUptime(&uptime);
  if (status != HYX_OK) return Fail("uptime", status);
  uint64_t seconds = uptime / 1000000;
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("microseconds", uptime);
    json.Field("seconds", seconds);
    json.EndObject();
    return 0;
  }
  printf("up %" PRIu64 " days, %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 " (%" PRIu64 ".%06" PRIu64 " s)\n",
         seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60, seconds, uptime % 1000000);
  return 0;
}

namespace {

constexpr Form kVersionForms[] = {
    {nullptr, "", "the host kernel's product and build",
     "{\"product\", \"productVersion\", \"buildVersion\", \"buildType\", \"buildDate\", \"buildTime\", "
     "\"releaseUpdate\", \"releasePatch\": text, \"build\": number}"},
};

}  // namespace

extern const Command kVersionCommand = MakeCommand("version", kVersionForms, RunVersion);

namespace {

constexpr Form kUptimeForms[] = {
    {nullptr, "", "time since the host started", "{\"microseconds\": number, \"seconds\": number}"},
};

}  // namespace

extern const Command kUptimeCommand = MakeCommand("uptime", kUptimeForms, RunUptime);

}  // namespace hyxinfo
