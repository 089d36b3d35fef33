// The HXFS file system's requests on descriptors inside a volume: the
// attribute query (where the volume lies: its first device and its start on
// it) and the lock query (the lock time the profile gives).  A descriptor
// outside every volume is not the file system's: ENOTTY, as Linux answers a
// request a file does not know.  The volumes themselves (directories and
// device images) are laid out by hyxsim from the same profile section.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"
#include "../volumes.h"

namespace hyxsim {
namespace {

std::vector<VolumeSpec> volumes;  // read once at start, then only looked at

bool LoadVolumes(const nlohmann::json *section, std::string &error) {
  return ParseVolumes(section, volumes, error);
}

// The volume whose directory holds the file open at fd.
const VolumeSpec *VolumeOf(uint64_t fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", static_cast<int>(fd));
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return nullptr;
  path[n] = '\0';
  std::string file = path;
  for (const VolumeSpec &v : volumes) {
    std::string dir = v.Directory();
    if (file == dir || file.compare(0, dir.size() + 1, dir + "/") == 0) return &v;
  }
  return nullptr;
}

void GetAttributes(Call &call) {
  const VolumeSpec *volume = VolumeOf(call.args[0]);
  if (volume == nullptr) return AnswerLinux(call, -ENOTTY);
  uint64_t reply = call.args[2];
  if (reply == 0) return AnswerLinux(call, -EFAULT);
  // The file system answers only a request that carries 32 in the u64 at
  // byte 1633 of the reply buffer.  The offsets are spelled out here, as
  // the driver reads them, rather than taken from the library's header.
  if (ReadBlock<uint64_t>(reply + 1633) != 32) return AnswerLinux(call, -EINVAL);
  WriteBlock(reply + HXFS_ATTR_VOLUME_START, volume->start);
  WriteText(reply + HXFS_ATTR_DEVICE_NAME, HXFS_ATTR_REPLY_SIZE - HXFS_ATTR_DEVICE_NAME,
            volume->device.c_str());
  AnswerLinux(call, 0);
}

void QueryLock(Call &call) {
  const VolumeSpec *volume = VolumeOf(call.args[0]);
  if (volume == nullptr) return AnswerLinux(call, -ENOTTY);
  uint64_t address = call.args[2];
  if (address == 0) return AnswerLinux(call, -EFAULT);
  // The 14-byte block as the driver reads it: the flag byte at 0 and again
  // at 1, the lock time (u64 at 2) sent as 0 and the status (u32 at 10)
  // sent as HYX_FAILURE; any other block is refused.
  auto block = ReadBlock<std::array<uint8_t, 14>>(address);
  uint64_t sentTime;
  uint32_t sentStatus;
  memcpy(&sentTime, block.data() + 2, sizeof sentTime);
  memcpy(&sentStatus, block.data() + 10, sizeof sentStatus);
  if (block[0] != block[1] || sentTime != 0 || sentStatus != HYX_FAILURE) return AnswerLinux(call, -EINVAL);
  memcpy(block.data() + 2, &volume->lockTime, sizeof volume->lockTime);
  memcpy(block.data() + 10, &volume->lockStatus, sizeof volume->lockStatus);
  WriteBlock(address, block);
  AnswerLinux(call, 0);
}

}  // namespace

void RegisterHxfsModels() {
  RegisterSection("volumes", LoadVolumes);
  if (!CurrentProfile().hyxkernel) return;
  RegisterDeviceRequest(IOCTLCMD_HXFS_FS_GET_ATTR, GetAttributes);
  RegisterDeviceRequest(DEVICE_REQUEST_HXFS_LOCK_QUERY, QueryLock);
}

}  // namespace hyxsim
