/* Calls every export of the shipped library that answers from the host's
 * system-information tree and prints what each returned, status and bytes,
 * one line per call: the same host must give the same lines whether the
 * library asks the kernel or a snapshot of it.  It asks about what the host
 * has: a snapshot holds no answer for an instance the host did not list.
 *
 *   hsi_roundtrip_probe           every export, on the example host's names
 *   hsi_roundtrip_probe uefi-get  HyxuserUefi_GetVariable of each variable,
 *                                 which asks for a value's size first */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hyxuser/hyxuser.h"

static void Line(const char *what, HYX_ReturnStatus status, const void *bytes, size_t length) {
  const uint8_t *b = (const uint8_t *)bytes;
  printf("%s 0x%08x ", what, status);
  for (size_t i = 0; i < length; i++) printf("%02x", b[i]);
  printf("\n");
}

static void Text(const char *what, HYX_ReturnStatus status, const char *text) {
  printf("%s 0x%08x %s\n", what, status, text ? text : "(null)");
}

static void Uefi(int withValues) {
  char **names = NULL;
  uint32_t count = 0;
  HYX_ReturnStatus status = HyxuserUefi_GetVariableList(&names, &count);
  printf("uefi-list 0x%08x %u\n", status, count);
  for (uint32_t i = 0; names && i < count; i++) {
    printf("uefi-name %s\n", names[i]);
    if (withValues) {
      uint32_t attributes = 0;
      uint64_t length = 0;
      void *data = NULL;
      char what[600];
      status = HyxuserUefi_GetVariable(names[i], &attributes, &length, &data);
      snprintf(what, sizeof what, "uefi-get %s attributes=%u", names[i], attributes);
      Line(what, status, data, (size_t)length);
      free(data);
    }
    free(names[i]);
  }
  free(names);
}

static void Storage(void) {
  const char *adapters[] = {"vmhba0", "vmhba2"};
  char what[256];
  for (size_t a = 0; a < sizeof adapters / sizeof *adapters; a++) {
    uint32_t bus = 0, slot = 0, function = 0;
    HYX_ReturnStatus status =
        HyxuserStorage_GetBusSlotFunctionForHyxkernelAdapterIdentifier(adapters[a], &bus, &slot, &function);
    printf("storage-pci %s 0x%08x %u %u %u\n", adapters[a], status, bus, slot, function);
    if (status == HYX_OK) {
      char name[64] = "";
      status =
          HyxuserStorage_MapBusSlotFuncToHyxkernelAdapterIdentifier(bus, slot, function, name, sizeof name);
      snprintf(what, sizeof what, "storage-adapter-at %u:%u.%u", bus, slot, function);
      Text(what, status, name);
    }
    char *uids[32] = {0};
    uint32_t count = 0;
    status = HyxuserStorage_GetActiveDeviceUIDsFromHyxkernelAdapterIdentifier(adapters[a], uids, 32, &count);
    printf("storage-active %s 0x%08x %u\n", adapters[a], status, count);
    for (uint32_t i = 0; i < count && i < 32; i++) {
      uint8_t nextgen = 0xff;
      status = HyxuserStorage_IsNextgenNvmeHyxkernelDeviceUID(uids[i], &nextgen);
      printf("storage-nextgen %s 0x%08x %u\n", uids[i], status, nextgen);
      uint8_t page[64];
      memset(page, 0xee, sizeof page);
      uint8_t *pageRef = page;
      status = HyxuserStorage_GetVPD83ForHyxkernelDeviceUID(uids[i], &pageRef, (int)sizeof page);
      snprintf(what, sizeof what, "storage-vpd83 %s", uids[i]);
      Line(what, status, page, sizeof page);
      char *names[16] = {0};
      uint32_t channels[16], targets[16], luns[16];
      uint32_t *c[16], *t[16], *l[16];
      for (int k = 0; k < 16; k++) c[k] = &channels[k], t[k] = &targets[k], l[k] = &luns[k];
      int paths = -1;
      status =
          HyxuserStorage_GetAllChannelsTargetsLunsForHyxkernelDeviceUID(uids[i], names, c, t, l, 16, &paths);
      printf("storage-paths %s 0x%08x %d", uids[i], status, paths);
      for (int k = 0; k < paths && k < 16; k++)
        printf(" %s:%u:%u:%u", names[k], channels[k], targets[k], luns[k]);
      printf("\n");
      for (int k = 0; k < 16; k++) free(names[k]);
      free(uids[i]);
    }
  }
}

static void Vm(void) {
  const uint32_t worlds[] = {527120, 526441, 526433};
  for (size_t w = 0; w < sizeof worlds / sizeof *worlds; w++) {
    char what[64];
    char uuid[128], path[1984];
    memset(uuid, 0, sizeof uuid);
    memset(path, 0, sizeof path);
    HYX_ReturnStatus status = HyxuserVM_MapWorldIdToUUIDAndPath(worlds[w], uuid, path);
    snprintf(what, sizeof what, "vm %u uuid", worlds[w]);
    Text(what, status, uuid);
    snprintf(what, sizeof what, "vm %u path", worlds[w]);
    Text(what, status, path);
    memset(uuid, 0, sizeof uuid);
    memset(path, 0, sizeof path);
    status = HyxuserVM_MapWorldIdToInstanceUUIDAndPath(worlds[w], uuid, path);
    snprintf(what, sizeof what, "vm-instance %u", worlds[w]);
    Line(what, status, uuid, sizeof uuid);
  }
}

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "uefi-get") == 0) {
    Uefi(1);
    return 0;
  }
  printf("verify 0x%08x\n", HyxuserCompat_VerifyHSISigniture());
  HyxuserSystemVersion version;
  memset(&version, 0xee, sizeof version);
  HYX_ReturnStatus status = HyxuserVersion_GetSystemVersion(&version);
  Line("version", status, &version, sizeof version);
  HyxuserUniqueSystemVersion unique;
  memset(&unique, 0xee, sizeof unique);
  status = HyxuserVersion_GetUniqueSystemVersion(&unique);
  Line("unique-version", status, &unique, sizeof unique);
  uint64_t uptime = 0;
  status = HyxuserUptime_GetUptime(&uptime);
  Line("uptime", status, &uptime, sizeof uptime);

  HyxuserPnicInfo nics[8];
  uint32_t count = 0;
  status = HyxuserNet_GetPnics(nics, 8, &count);
  Line("nics", status, nics, sizeof nics[0] * (count < 8 ? count : 8));
  HyxuserTcpipInterface interfaces[8];
  memset(interfaces, 0, sizeof interfaces);
  count = 0;
  status = HyxuserTcpip_GetInterfaces(interfaces, 8, &count);
  Line("interfaces", status, interfaces, sizeof interfaces[0] * (count < 8 ? count : 8));

  Uefi(0);
  Storage();
  HyxuserNvdDriverCapabilities capabilities;
  memset(&capabilities, 0, sizeof capabilities);
  status = HyxuserNVD_GetDriverCapabilities(&capabilities);
  Line("nvd-capabilities", status, &capabilities, sizeof capabilities);
  Vm();
  uint8_t uuid[16] = {0};
  status = HyxuserHXFS_GetHostUUID(uuid);
  Line("hxfs-host-uuid", status, uuid, sizeof uuid);
  return 0;
}
