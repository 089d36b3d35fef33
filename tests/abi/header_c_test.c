/*
 * The public header as a strict C11 program sees it: it must compile with
 * -std=c11 -D_POSIX_C_SOURCE=200809L -Wpedantic -Wstrict-prototypes -Werror,
 * and every record it declares must have the layout the kernel reads.
 */
#include <stddef.h>

#include "hyxuser/hyxuser.h"

#define LAYOUT(type, field, offset) \
  _Static_assert(offsetof(type, field) == (offset), #type "." #field " is at " #offset)

_Static_assert(sizeof(HYX_ReturnStatus) == 4, "statuses are 32 bits");

_Static_assert(sizeof(HyxuserSpawnAttr) == 64, "HyxuserSpawnAttr is 64 bytes");
LAYOUT(HyxuserSpawnAttr, flags, 0);
LAYOUT(HyxuserSpawnAttr, pgid, 4);
LAYOUT(HyxuserSpawnAttr, workingDirFd, 8);
LAYOUT(HyxuserSpawnAttr, uid, 12);
LAYOUT(HyxuserSpawnAttr, gid, 16);
LAYOUT(HyxuserSpawnAttr, reserved20, 20);
LAYOUT(HyxuserSpawnAttr, securityDomain, 24);
LAYOUT(HyxuserSpawnAttr, reserved28, 28);
LAYOUT(HyxuserSpawnAttr, sigDefault, 32);
LAYOUT(HyxuserSpawnAttr, sigMask, 40);
LAYOUT(HyxuserSpawnAttr, resourceGroup, 48);
LAYOUT(HyxuserSpawnAttr, memMB, 56);

_Static_assert(sizeof(HyxuserSpawnFileAction) == 24, "HyxuserSpawnFileAction is 24 bytes");
LAYOUT(HyxuserSpawnFileAction, kind, 0);
LAYOUT(HyxuserSpawnFileAction, fd, 4);
LAYOUT(HyxuserSpawnFileAction, arg.path, 8);
LAYOUT(HyxuserSpawnFileAction, arg.sourceFd, 8);
LAYOUT(HyxuserSpawnFileAction, openFlags, 16);
LAYOUT(HyxuserSpawnFileAction, mode, 20);

_Static_assert(sizeof(HyxuserSpawnFileActions) == 16, "HyxuserSpawnFileActions is 16 bytes");
LAYOUT(HyxuserSpawnFileActions, capacity, 0);
LAYOUT(HyxuserSpawnFileActions, count, 4);
LAYOUT(HyxuserSpawnFileActions, entries, 8);
_Static_assert(sizeof(HyxuserLumEventArg) == 16, "HyxuserLumEventArg is 16 bytes");
LAYOUT(HyxuserLumEventArg, key, 0);
LAYOUT(HyxuserLumEventArg, value, 8);

_Static_assert(sizeof(HyxuserPOpenHandle) == 8, "HyxuserPOpenHandle is 8 bytes");
LAYOUT(HyxuserPOpenHandle, pid, 0);
LAYOUT(HyxuserPOpenHandle, fd, 4);

_Static_assert(sizeof(HyxuserSystemVersion) == 164, "HyxuserSystemVersion is 164 bytes");
LAYOUT(HyxuserSystemVersion, product, 0);
LAYOUT(HyxuserSystemVersion, productVersion, 32);
LAYOUT(HyxuserSystemVersion, buildVersion, 64);
LAYOUT(HyxuserSystemVersion, buildDate, 96);
LAYOUT(HyxuserSystemVersion, buildTime, 128);
LAYOUT(HyxuserSystemVersion, build, 160);

_Static_assert(sizeof(HyxuserUniqueSystemVersion) == 228, "HyxuserUniqueSystemVersion is 228 bytes");
LAYOUT(HyxuserUniqueSystemVersion, product, 0);
LAYOUT(HyxuserUniqueSystemVersion, productVersion, 32);
LAYOUT(HyxuserUniqueSystemVersion, buildType, 64);
LAYOUT(HyxuserUniqueSystemVersion, buildDate, 96);
LAYOUT(HyxuserUniqueSystemVersion, buildTime, 128);
LAYOUT(HyxuserUniqueSystemVersion, releaseUpdate, 160);
LAYOUT(HyxuserUniqueSystemVersion, releasePatch, 192);
LAYOUT(HyxuserUniqueSystemVersion, build, 224);

_Static_assert(sizeof(HyxuserPnicInfo) == 148, "HyxuserPnicInfo is 148 bytes");
LAYOUT(HyxuserPnicInfo, name, 0);
LAYOUT(HyxuserPnicInfo, linkSpeed, 128);
LAYOUT(HyxuserPnicInfo, hwCapSupported, 132);
LAYOUT(HyxuserPnicInfo, hwCapActivated, 136);
LAYOUT(HyxuserPnicInfo, linkUp, 140);
LAYOUT(HyxuserPnicInfo, macAddress, 141);
LAYOUT(HyxuserPnicInfo, reserved147, 147);

_Static_assert(sizeof(HyxuserTcpipInterface) == 168, "HyxuserTcpipInterface is 168 bytes");
LAYOUT(HyxuserTcpipInterface, tsoMss, 0);
LAYOUT(HyxuserTcpipInterface, mtu, 8);
LAYOUT(HyxuserTcpipInterface, macAddress, 16);
LAYOUT(HyxuserTcpipInterface, reserved22, 22);
LAYOUT(HyxuserTcpipInterface, ipv4Address, 24);
LAYOUT(HyxuserTcpipInterface, ipv4Netmask, 32);
LAYOUT(HyxuserTcpipInterface, name, 40);

_Static_assert(sizeof(HyxuserNvdPassthroughCommand) == 36, "HyxuserNvdPassthroughCommand is 36 bytes");
LAYOUT(HyxuserNvdPassthroughCommand, word0, 0);
LAYOUT(HyxuserNvdPassthroughCommand, word1, 4);
LAYOUT(HyxuserNvdPassthroughCommand, word2, 8);
LAYOUT(HyxuserNvdPassthroughCommand, pointer1, 12);
LAYOUT(HyxuserNvdPassthroughCommand, resultHalf, 20);
LAYOUT(HyxuserNvdPassthroughCommand, sentHalf, 22);
LAYOUT(HyxuserNvdPassthroughCommand, word3, 24);
LAYOUT(HyxuserNvdPassthroughCommand, pointer2, 28);

_Static_assert(sizeof(HyxuserNvdDriverCapabilities) == 16, "HyxuserNvdDriverCapabilities is 16 bytes");
LAYOUT(HyxuserNvdDriverCapabilities, maxNamespaces, 0);
LAYOUT(HyxuserNvdDriverCapabilities, minNamespaceSize, 4);
LAYOUT(HyxuserNvdDriverCapabilities, supportedFeatures, 12);

/* The status constants and the flag macros are usable in constant
 * expressions. */
_Static_assert(HYX_OK == 0 && HYX_BAD_PARAM > HYX_FAILURE, "status constants");
_Static_assert(HYXUSER_SPAWN_SETRP == 0x100u && HYXUSER_SPAWN_SETMEMMB == 0x200u, "spawn flags");

int main(void) {
  /* A C caller of the shipped library, calling as C callers do. */
  int family = 0;
  if (HyxuserSocket_NativeSocketFamily(&family) != HYX_OK || family != 26) return 1;
  if (HyxuserMSR_GetValue(0x10u) != HYX_UNSUPPORTED_CPU) return 2;
  /* Old callers pass the I/O resource management entries their arguments. */
  if (HyxuserIORM_SCSIGetWorldStats(0, (void *)0) != HYX_NOT_IMPLEMENTED) return 3;
  if (HyxuserIORM_NFSSetActiveState("volume", 1) != HYX_OK) return 4;
  HyxuserIORM_DeviceListFree((void *)0);
  if (HyxuserCompat_MapLinuxHbaToHyxkernelHba("vmhba0", (char *)0) != HYX_NOT_IMPLEMENTED) return 5;
  return 0;
}
