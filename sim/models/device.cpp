// Device-control requests that belong to the host's drivers.  Each request
// is a model of its own; requests nobody registers are never trapped.
//
// The file-system attribute and lock queries are the HXFS model's
// (hxfs.cpp).
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"
#include "common/hostPaths.h"

namespace hyxsim {
namespace {

// The kernel takes the socket off the caller's hands; nothing the simulator
// needs to keep.  A descriptor that is not open is EBADF, one that is not a
// socket ENOTTY (as for any request a descriptor does not know).
void RelinquishSocket(Call &call) {
  struct stat st;
  if (fstat(static_cast<int>(call.args[0]), &st) != 0) return AnswerLinux(call, -errno);
  AnswerLinux(call, S_ISSOCK(st.st_mode) ? 0 : -ENOTTY);
}

// The NVDIMM driver, as the profile's "nvdimm" section describes it.
struct NvdDriver {
  uint16_t result = 0;  // what a command leaves in the block's result half-word
  int error = 0;        // the errno every command fails with; 0: none
};

NvdDriver &TheNvdDriver() {
  static auto *driver = new NvdDriver;  // never destroyed: calls may come during exit
  return *driver;
}

// "nvdimm": {"result": N (16 bits), "errno": N}
bool LoadNvdimm(const nlohmann::json *section, std::string &error) {
  ProfileObject nvdimm(section, "nvdimm");
  TheNvdDriver().result = static_cast<uint16_t>(nvdimm.Number("result", 0, UINT16_MAX));
  TheNvdDriver().error = static_cast<int>(nvdimm.Number("errno", 0, 4095));
  if (!nvdimm.Done()) error = nvdimm.Fault();
  return nvdimm.ok();
}

// Whether fd is open on the NVDIMM management device.
bool IsNvdManagementDevice(int fd) {
  struct stat opened, device;
  return fstat(fd, &opened) == 0 && stat(hostPaths::kNvdManagementDevice, &device) == 0 &&
         opened.st_dev == device.st_dev && opened.st_ino == device.st_ino;
}

// The driver reads the command block, runs the command and leaves its
// result in the block.  The request number is a plain one other
// descriptors may know too (a file's block map): those go to Linux.
void NvdPassthrough(Call &call) {
  if (!IsNvdManagementDevice(static_cast<int>(call.args[0]))) return PassToLinux(call);
  if (call.args[2] == 0) return AnswerLinux(call, -EFAULT);
  auto block = ReadBlock<NvdPassthroughBlock>(call.args[2]);
  if (block.pointer1 == 0 || block.pointer2 == 0) return AnswerLinux(call, -EFAULT);
  if (block.word3 == 0 || block.zero != 0) return AnswerLinux(call, -EINVAL);
  const NvdDriver &driver = TheNvdDriver();
  if (driver.error != 0) return AnswerLinux(call, -driver.error);
  block.resultHalf = driver.result;
  WriteBlock(call.args[2], block);
  AnswerLinux(call, 0);
}

}  // namespace

void RegisterDeviceModels() {
  RegisterSection("nvdimm", LoadNvdimm);
  if (!CurrentProfile().hyxkernel) return;
  RegisterDeviceRequest(DEVICE_REQUEST_RELINQUISH_SOCKET, RelinquishSocket);
  RegisterDeviceRequest(DEVICE_REQUEST_NVD_PASSTHROUGH, NvdPassthrough);
}

}  // namespace hyxsim
