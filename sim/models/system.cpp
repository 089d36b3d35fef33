// The kernel's identity (uname, syscall-API checksum) and the device-control
// requests that no simulated device claims.
#include <sys/syscall.h>
#include <sys/utsname.h>

#include <cstring>

#include "../kernel.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

void Uname(Call &call) {
  auto *names = reinterpret_cast<struct utsname *>(call.args[0]);
  if (names == nullptr) {
    call.status = static_cast<uint64_t>(-EFAULT);
    return;
  }
  memcpy(names, &CurrentProfile().names, sizeof *names);
  call.status = 0;
}

void SyscallApiChecksum(Call &call) {
  auto *out = reinterpret_cast<uint32_t *>(call.args[0]);
  if (out == nullptr) {
    call.status = 0x0bad0026;  // HYX_INVALID_ADDRESS
    call.error = static_cast<uint64_t>(-EFAULT);
    return;
  }
  *out = CurrentProfile().syscallApiChecksum;
  call.status = 0;
}

// A request on a descriptor the host does not own behaves as on Linux.
void Ioctl(Call &call) {
  call.status = static_cast<uint64_t>(
      RawSyscall(__NR_ioctl, static_cast<long>(call.args[0]), static_cast<long>(call.args[1] | kOwnCallTag),
                 static_cast<long>(call.args[2])));
}

}  // namespace

void RegisterSystemModels() {
  RegisterModel(__NR_uname, Uname);
  RegisterModel(__NR_ioctl, Ioctl);
  if (CurrentProfile().hyxkernel) RegisterModel(2048, SyscallApiChecksum);
}

void RegisterModels() {
  RegisterSystemModels();
  RegisterProcessModels();
  RegisterHsiModels();
  RegisterFirmwareModels();
  RegisterUptimeModels();
}

}  // namespace hyxsim
