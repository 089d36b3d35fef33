// Registration of the kernel models, one source per area of the kernel.
#pragma once

namespace hyxsim {

void RegisterModels();

// Per area; each registers its call numbers.
void RegisterSystemModels();   // uname, syscall-API checksum, device-control requests
void RegisterProcessModels();  // fork-exec and spawn
void RegisterHsiModels();      // the system-information server
void RegisterFirmwareModels(); // ACPI tables and SMBIOS data
void RegisterUptimeModels();   // the host's uptime

}  // namespace hyxsim
