/* The NIC and interface records as a C11 compiler lays them out from the
 * public header: the byte offsets are part of the binary interface. */
#include <stddef.h>

#include "hyxuser/hyxuser.h"

_Static_assert(sizeof(HyxuserPnicInfo) == 148, "HyxuserPnicInfo size");
_Static_assert(offsetof(HyxuserPnicInfo, name) == 0, "name");
_Static_assert(offsetof(HyxuserPnicInfo, linkSpeed) == 128, "linkSpeed");
_Static_assert(offsetof(HyxuserPnicInfo, hwCapSupported) == 132, "hwCapSupported");
_Static_assert(offsetof(HyxuserPnicInfo, hwCapActivated) == 136, "hwCapActivated");
_Static_assert(offsetof(HyxuserPnicInfo, linkUp) == 140, "linkUp");
_Static_assert(offsetof(HyxuserPnicInfo, macAddress) == 141, "macAddress");
_Static_assert(offsetof(HyxuserPnicInfo, reserved147) == 147, "reserved147");

_Static_assert(sizeof(HyxuserTcpipInterface) == 168, "HyxuserTcpipInterface size");
_Static_assert(offsetof(HyxuserTcpipInterface, tsoMss) == 0, "tsoMss");
_Static_assert(offsetof(HyxuserTcpipInterface, mtu) == 8, "mtu");
_Static_assert(offsetof(HyxuserTcpipInterface, macAddress) == 16, "macAddress");
_Static_assert(offsetof(HyxuserTcpipInterface, reserved22) == 22, "reserved22");
_Static_assert(offsetof(HyxuserTcpipInterface, ipv4Address) == 24, "ipv4Address");
_Static_assert(offsetof(HyxuserTcpipInterface, ipv4Netmask) == 32, "ipv4Netmask");
_Static_assert(offsetof(HyxuserTcpipInterface, name) == 40, "name");

int main(void) { return 0; }
