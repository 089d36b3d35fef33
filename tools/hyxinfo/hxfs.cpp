// hyxinfo hxfs: the hosts that heartbeat on an HXFS volume, and whether a
// path lies on one.
//
//   hxfs hosts PATH   one line per held heartbeat slot, in slot order
//   hxfs is PATH      whether PATH is on an HXFS volume
//
// --json shapes: the command table in hyxinfo.cpp.
#include <cstdio>
#include <cstring>
#include <optional>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

namespace {

constexpr size_t kUuidSize = 16;
constexpr size_t kMacSize = 6;
// An iterator begins with its entries, one per slot at this stride; the
// slot of a record is where its entry lies.
constexpr size_t kEntryStride = 512;

struct Host {
  size_t slot;
  uint8_t uuid[kUuidSize];
  uint8_t mac[kMacSize];
  uint32_t state;
  uint64_t stamp;
};

void FormatUuid(const uint8_t *uuid, char *out) {
  char *p = out;
  for (size_t i = 0; i < kUuidSize; i++) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    p += sprintf(p, "%02x", uuid[i]);
  }
}

void FormatMac(const uint8_t *mac, char *out) {
  sprintf(out, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

HYX_ReturnStatus ReadHost(HxfsHostIter *iter, HxfsHostInfo *info, Host &host) {
  host.slot =
      static_cast<size_t>(reinterpret_cast<const char *>(info) - reinterpret_cast<const char *>(iter)) /
      kEntryStride;
  HYX_ReturnStatus status = HyxuserHXFS_GetHostInfoUUID(info, host.uuid);
  if (status == HYX_OK) status = HyxuserHXFS_GetMacAddr(info, host.mac);
  if (status == HYX_OK) status = HyxuserHXFS_GetHostInfoState(info, &host.state);
  if (status == HYX_OK) status = HyxuserHXFS_GetHostInfoTimeStamp(info, &host.stamp);
  return status;
}

int Hosts(const char *path) {
  HxfsHostIter *iter = nullptr;
  HYX_ReturnStatus status = HyxuserHXFS_ActiveHostIterBegin(path, &iter);
  if (status != HYX_OK) return Fail(path, status);
  uint8_t self[kUuidSize];
  bool knowSelf = HyxuserHXFS_GetHostUUID(self) == HYX_OK;

  std::optional<JsonWriter> json;
  if (JsonOutput()) {
    json.emplace(Out());
    json->BeginObject();
    json->Field("volume", path);
    json->Key("hosts");
    json->BeginArray();
  } else {
    printf("%-5s %-36s %-17s %-10s %s\n", "SLOT", "UUID", "MAC", "STATE", "TIMESTAMP");
  }
  HxfsHostInfo *info = nullptr;
  while (status == HYX_OK && (status = HyxuserHXFS_ActiveHostIterNext(iter, &info)) == HYX_OK) {
    Host host;
    if ((status = ReadHost(iter, info, host)) != HYX_OK) break;
    char uuid[40], mac[20];
    FormatUuid(host.uuid, uuid);
    FormatMac(host.mac, mac);
    bool thisHost = knowSelf && memcmp(self, host.uuid, kUuidSize) == 0;
    if (json) {
      json->BeginObject();
      json->Field("slot", static_cast<uint64_t>(host.slot));
      json->Field("uuid", uuid);
      json->Field("mac", mac);
      json->Field("state", host.state);
      json->Field("timestamp", host.stamp);
      json->Field("thisHost", thisHost);
      json->EndObject();
    } else {
      printf("%-5zu %-36s %-17s 0x%08x %llu%s\n", host.slot, uuid, mac, host.state,
             static_cast<unsigned long long>(host.stamp), thisHost ? "  (this host)" : "");
    }
  }
  if (json) {
    json->EndArray();
    json->EndObject();
    json.reset();
  }
  HyxuserHXFS_ActiveHostIterEnd(&iter);
  return status == HYX_NOT_FOUND ? 0 : Fail(path, status);
}

int Is(const char *path) {
  uint32_t isHxfs = 0;
  HYX_ReturnStatus status = HyxuserHXFS_IsHXFSVolume(path, &isHxfs);
  if (status != HYX_OK) return Fail(path, status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("path", path);
    json.Field("hxfs", isHxfs != 0);
    json.EndObject();
  } else {
    printf("%s: %s\n", path, isHxfs ? "HXFS volume" : "not an HXFS volume");
  }
  return 0;
}

}  // namespace

int RunHxfs(int argc, char **argv) {
  if (argc == 0) return UsageError("missing the action: hosts or is");
  if (strcmp(argv[0], "hosts") != 0 && strcmp(argv[0], "is") != 0)
    return UsageError("no action " + Shown(argv[0]));
  if (argc != 2) return cli::WrongCount(argc, argv, 2, "a PATH on the volume");
  if (strcmp(argv[0], "hosts") == 0) return Hosts(argv[1]);
  return Is(argv[1]);
}

namespace {

constexpr Form kHxfsForms[] = {
    {"hosts", "PATH", "the hosts heartbeating on the HXFS volume holding PATH",
     "{\"volume\": text, \"hosts\": [{\"slot\": number, \"uuid\": text, \"mac\": text, \"state\": number, "
     "\"timestamp\": number, \"thisHost\": bool}, ...]}"},
    {"is", "PATH", "whether PATH lies on an HXFS volume", "{\"path\": text, \"hxfs\": bool}"},
};

}  // namespace

extern const Command kHxfsCommand = MakeCommand("hxfs", kHxfsForms, RunHxfs);

}  // namespace hyxinfo
