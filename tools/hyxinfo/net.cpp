// hyxinfo nics, hyxinfo interfaces: the host's physical NICs and the
// interfaces of its default TCP/IP stack.
//
// --json shapes: the command table in hyxinfo.cpp.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxinfo.h"
#include "json.h"

namespace hyxinfo {

namespace {

std::string MacText(const uint8_t (&mac)[6]) {
  char text[18];
  snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
           mac[5]);
  return text;
}

// The address's four bytes as the kernel gave them (network order).
std::string Ipv4Text(uint64_t value) {
  uint32_t low = static_cast<uint32_t>(value);
  struct in_addr address;
  memcpy(&address, &low, sizeof address);
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "?";
}

// Asks for the count, then for that many records; again if the set grew
// in between.  Null (with status set) on failure.
template <typename Record>
Record *FetchAll(HYX_ReturnStatus (*get)(Record *, uint32_t, uint32_t *), uint32_t &count,
                 HYX_ReturnStatus &status) {
  for (int attempt = 0; attempt < 4; attempt++) {
    uint32_t wanted = 0;
    status = get(nullptr, 0, &wanted);
    if (status != HYX_OK) return nullptr;
    auto *records = static_cast<Record *>(calloc(wanted ? wanted : 1, sizeof(Record)));
    if (records == nullptr) {
      status = HYX_NO_MEMORY;
      return nullptr;
    }
    status = get(records, wanted, &count);
    if (status == HYX_OK && count <= wanted) return records;
    free(records);
    if (status != HYX_OK) return nullptr;
  }
  status = HYX_LIMIT_EXCEEDED;
  return nullptr;
}

}  // namespace

int RunNics(int argc, char **argv) {
  if (argc != 0) return cli::WrongCount(argc, argv, 0, "");
  uint32_t count = 0;
  HYX_ReturnStatus status;
  HyxuserPnicInfo *nics = FetchAll(HyxuserNet_GetPnics, count, status);
  if (nics == nullptr) return Fail("nics", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (uint32_t i = 0; i < count; i++) {
      const HyxuserPnicInfo &n = nics[i];
      json.BeginObject();
      json.Field("name", n.name, sizeof n.name);
      json.Field("linkUp", n.linkUp != 0);
      json.Field("linkSpeed", n.linkSpeed);
      json.Field("mac", MacText(n.macAddress).c_str());
      json.Field("hwCapSupported", n.hwCapSupported);
      json.Field("hwCapActivated", n.hwCapActivated);
      json.EndObject();
    }
    json.EndArray();
  } else {
    printf("%-16s %-5s %10s  %-17s  %-10s  %-10s\n", "NAME", "LINK", "SPEED", "MAC", "CAPS", "ACTIVE");
    for (uint32_t i = 0; i < count; i++) {
      const HyxuserPnicInfo &n = nics[i];
      char speed[16];
      snprintf(speed, sizeof speed, "%u Mb/s", n.linkSpeed);
      printf("%-16s %-5s %10s  %-17s  0x%08x  0x%08x\n", n.name, n.linkUp ? "up" : "down",
             n.linkUp ? speed : "-", MacText(n.macAddress).c_str(), n.hwCapSupported, n.hwCapActivated);
    }
  }
  free(nics);
  return 0;
}

int RunInterfaces(int argc, char **argv) {
  if (argc != 0) return cli::WrongCount(argc, argv, 0, "");
  uint32_t count = 0;
  HYX_ReturnStatus status;
  HyxuserTcpipInterface *interfaces = FetchAll(HyxuserTcpip_GetInterfaces, count, status);
  if (interfaces == nullptr) return Fail("interfaces", status);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (uint32_t i = 0; i < count; i++) {
      const HyxuserTcpipInterface &v = interfaces[i];
      json.BeginObject();
      json.Field("name", v.name, sizeof v.name);
      json.Field("mtu", v.mtu);
      json.Field("tsoMss", v.tsoMss);
      json.Field("mac", MacText(v.macAddress).c_str());
      json.Field("ipv4Address", Ipv4Text(v.ipv4Address).c_str());
      json.Field("ipv4Netmask", Ipv4Text(v.ipv4Netmask).c_str());
      json.EndObject();
    }
    json.EndArray();
  } else {
    printf("%-16s %6s %8s  %-17s  %-15s  %-15s\n", "NAME", "MTU", "TSO-MSS", "MAC", "IPV4", "NETMASK");
    for (uint32_t i = 0; i < count; i++) {
      const HyxuserTcpipInterface &v = interfaces[i];
      printf("%-16s %6llu %8llu  %-17s  %-15s  %-15s\n", v.name, static_cast<unsigned long long>(v.mtu),
             static_cast<unsigned long long>(v.tsoMss), MacText(v.macAddress).c_str(),
             Ipv4Text(v.ipv4Address).c_str(), Ipv4Text(v.ipv4Netmask).c_str());
    }
  }
  free(interfaces);
  return 0;
}

namespace {

constexpr Form kNicsForms[] = {
    {nullptr, "", "the physical NICs: link, speed, MAC, capabilities",
     "[{\"name\": text, \"linkUp\": bool, \"linkSpeed\": number (Mb/s), \"mac\": \"xx:xx:xx:xx:xx:xx\", "
     "\"hwCapSupported\": number, \"hwCapActivated\": number}, ...]"},
};

}  // namespace

extern const Command kNicsCommand = MakeCommand("nics", kNicsForms, RunNics);

namespace {

constexpr Form kInterfacesForms[] = {
    {nullptr, "", "the default TCP/IP stack's interfaces: MTU, MAC, IPv4",
     "[{\"name\": text, \"mtu\": number, \"tsoMss\": number, \"mac\": \"xx:xx:xx:xx:xx:xx\", "
     "\"ipv4Address\": \"a.b.c.d\", \"ipv4Netmask\": \"a.b.c.d\"}, ...]"},
};

}  // namespace

extern const Command kInterfacesCommand = MakeCommand("interfaces", kInterfacesForms, RunInterfaces);

}  // namespace hyxinfo
