// Registration of the kernel models, one source per area of the kernel.
// Each area registers its calls, device-control requests and profile
// sections with the kit (kit.h); sim/README.md says how.
#pragma once

namespace hyxsim {

void RegisterModels();

// Per area.
void RegisterSystemModels();    // uname, syscall-API checksum
void RegisterDeviceModels();    // device-control requests of the host's drivers
void RegisterProcessModels();   // fork-exec and spawn
void RegisterHsiModels();       // the system-information server
void RegisterFirmwareModels();  // ACPI tables and SMBIOS data
void RegisterStorageModels();   // the adapter rescan
void RegisterUptimeModels();    // the host's uptime
void RegisterHxfsModels();      // the HXFS attribute and lock queries, the "volumes" section

}  // namespace hyxsim
