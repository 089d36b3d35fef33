// The host's fixed file-system paths and local endpoints.  The library uses
// them as compiled in; hyxsim's sandbox lays out the same paths, so both
// read them from here.
#pragma once

#include <cstdint>

namespace hostPaths {

// Present only on a mock-up host.
inline constexpr char kMockupMarker[] = "/etc/norvex/mgmtd/mockupCalyxHost.txt";
inline constexpr char kMgmtdConfigDir[] = "/etc/norvex/mgmtd";

// Local daemons.
inline constexpr char kRunDir[] = "/var/run/norvex";
inline constexpr char kObservationSocket[] = "/var/run/norvex/hobd-user-ctx.sock";
inline constexpr char kSnmpSpoolDir[] = "/var/spool/snmp";
inline constexpr char kSnmpControlSocket[] = "/var/run/snmp.ctl";
inline constexpr char kMgmtdAddress[] = "127.0.0.1";
inline constexpr uint16_t kMgmtdPort = 8307;

// Devices.
inline constexpr char kNvdManagementDevice[] = "/dev/char/hyxdriver/nvdManagement";
inline constexpr char kHxfsDeviceRoot[] = "/hxfs/devices";
// Searched in this order when a volume's device is looked up by name.
inline constexpr const char *kHxfsDeviceDirs[] = {
    "/hxfs/devices/disks", "/hxfs/devices/file",    "/hxfs/devices/ramdisk",     "/hxfs/devices/deltadisks",
    "/hxfs/devices/cdrom", "/hxfs/devices/genscsi", "/hxfs/devices/multiextent",
};
// Where mounted HXFS volumes appear, one directory each.
inline constexpr char kHxfsVolumeRoot[] = "/hxfs/volumes";

// Libraries opened at run time, by absolute path only.
inline constexpr char kLibXml2[] = "/lib64/libxml2.so.2";
inline constexpr char kLibPam[] = "/lib64/libpam.so.0";

// The shell of system() and popen().
inline constexpr char kShell[] = "/bin/sh";

}  // namespace hostPaths
