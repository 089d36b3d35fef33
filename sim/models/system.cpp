// The kernel's identity (uname, syscall-API checksum), read from the
// profile's "kernel" section.
#include <sys/syscall.h>
#include <sys/utsname.h>

#include <cerrno>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

void Uname(Call &call) {
  if (call.args[0] == 0) return AnswerLinux(call, -EFAULT);
  WriteBlock(call.args[0], CurrentProfile().names);
  AnswerLinux(call, 0);
}

// x0 address of the u32 checksum.
void SyscallApiChecksum(Call &call) {
  if (call.args[0] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  WriteBlock(call.args[0], CurrentProfile().syscallApiChecksum);
  Answer(call, HYX_OK);
}

}  // namespace

void RegisterSystemModels() {
  RegisterModel(__NR_uname, Uname);
  if (CurrentProfile().hyxkernel) RegisterModel(KERNEL_CALL_SYSCALL_API_CHECKSUM, SyscallApiChecksum);
}

void RegisterModels() {
  RegisterSystemModels();
  RegisterDeviceModels();
  RegisterProcessModels();
  RegisterHsiModels();
  RegisterFirmwareModels();
  RegisterStorageModels();
  RegisterUptimeModels();
  RegisterHxfsModels();
}

}  // namespace hyxsim
