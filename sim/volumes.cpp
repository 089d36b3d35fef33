#include "volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/guard.h"
#include "common/hostPaths.h"
#include "hyxuser/hxfsVolume.h"
#include "hyxuser/hyxuser.h"
#include "profileValues.h"
#include "status/statusNames.h"

namespace hyxsim {
namespace {

// Default place of a volume on its device: past a partition table.
constexpr uint64_t kDefaultStart = 1 << 20;
// The image writer lays out slots the reader accepts the size of and, for
// the reader to refuse, slots too small or odd; larger ones (which the
// reader refuses as well) get a descriptor only.
constexpr uint32_t kMaxImageSlotSize = kHxfsMaxSlotSize;

bool StatusNamed(const std::string &name, uint32_t &out) {
  HYX_ReturnStatus code = 0;
  if (!Status_FromName(name.c_str(), &code)) return false;
  out = code;
  return true;
}

const char *DeviceDirNamed(const std::string &kind) {
  for (const char *dir : hostPaths::kHxfsDeviceDirs)
    if (kind == strrchr(dir, '/') + 1) return dir;
  return nullptr;
}

// The slot size the heartbeat region is laid out with.
uint32_t RegionSlotSize(const VolumeSpec &v) {
  return v.major >= kHxfsFirstSizedMajor ? v.slotSize : kHxfsFixedSlotSize;
}

bool HasRegion(const VolumeSpec &v) {
  return RegionSlotSize(v) >= kHxfsCopiedBytes && RegionSlotSize(v) <= kMaxImageSlotSize;
}

// "00:50:56:aa:bb:01", or anything DecodeBytes takes.
bool DecodeMac(const nlohmann::json &value, std::vector<uint8_t> &out, std::string &error) {
  if (value.is_string()) {
    const std::string &text = value.get_ref<const std::string &>();
    unsigned b[6];
    char tail;
    if (sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &tail) ==
        6) {
      out.assign(b, b + 6);
      return true;
    }
  }
  return DecodeBytes(value, out, error);
}

bool ParseHost(const nlohmann::json &item, const std::string &where, const VolumeSpec &volume,
               VolumeHost &host, std::string &error) {
  ProfileObject o(&item, where);
  host.slot = static_cast<uint32_t>(o.Number("slot", 0, UINT32_MAX));
  host.state = static_cast<uint32_t>(o.Number("state", 1, UINT32_MAX));
  host.stamp = o.Number("stamp", 0);
  host.uuid = o.Bytes("uuid");
  if (o.ok() && host.uuid.size() != kHxfsUuidSize) o.Fail("uuid", "takes 16 bytes");
  if (const nlohmann::json *mac = o.Raw("mac")) {
    std::string reason;
    if (!DecodeMac(*mac, host.mac, reason))
      o.Fail("mac", reason);
    else if (host.mac.size() != kHxfsMacSize)
      o.Fail("mac", "takes 6 bytes");
  } else {
    host.mac.assign(kHxfsMacSize, 0);
  }
  if (o.ok() && host.slot >= volume.slotsWritten) o.Fail("slot", "beyond the slots the image holds");
  if (!o.Done()) {
    error = o.Fault();
    return false;
  }
  return true;
}

bool ParseVolume(const nlohmann::json &item, const std::string &where, VolumeSpec &v, std::string &error) {
  ProfileObject o(&item, where);
  v.name = o.Text("name", "");
  if (o.ok() && (v.name.empty() || v.name.find('/') != std::string::npos || v.name == "." || v.name == ".."))
    o.Fail("name", "takes a file name");
  v.device = o.Text("device", v.name);
  if (o.ok() && (v.device.empty() || v.device.find('/') != std::string::npos))
    o.Fail("device", "takes a file name");
  std::string kind = o.Text("directory", "disks");
  if (kind == "none") {
    v.directory.clear();
  } else if (const char *dir = DeviceDirNamed(kind)) {
    v.directory = dir;
  } else {
    o.Fail("directory", "\"" + kind + "\" is no device directory");
  }
  v.start = o.Number("start", kDefaultStart, UINT64_MAX / 4);
  v.magic = static_cast<uint32_t>(o.Number("magic", HXFS_VOLUME_MAGIC, UINT32_MAX));
  v.major = static_cast<uint32_t>(o.Number("version", kHxfsFirstSizedMajor - 1, UINT32_MAX));
  bool sized = v.major >= kHxfsFirstSizedMajor;
  v.slotSize = static_cast<uint32_t>(o.Number("slotSize", sized ? 4096 : kHxfsFixedSlotSize, UINT32_MAX));
  v.slotCount = sized ? kHxfsSizedSlotCount : kHxfsFixedSlotCount;
  v.slotsWritten = static_cast<uint32_t>(o.Number("slots", v.slotCount, v.slotCount));
  v.imageSize = o.Number("imageSize", 0);
  v.lockTime = o.Number("lockTime", 0);
  std::string lockStatus = o.Text("lockStatus", "HYX_OK");
  if (o.ok() && !StatusNamed(lockStatus, v.lockStatus))
    o.Fail("lockStatus", "\"" + lockStatus + "\" is no status name");
  const nlohmann::json *hosts = o.Raw("hosts");
  if (o.ok() && hosts != nullptr) {
    if (!hosts->is_array()) {
      o.Fail("hosts", "takes a list");
    } else if (!hosts->empty() && !HasRegion(v)) {
      o.Fail("hosts", "need slots of 164 bytes to 64 KiB");
    } else {
      for (size_t i = 0; i < hosts->size(); ++i) {
        VolumeHost host;
        if (!ParseHost((*hosts)[i], where + ".hosts[" + std::to_string(i) + "]", v, host, error))
          return false;
        v.hosts.push_back(host);
      }
    }
  }
  if (!o.Done()) {
    error = o.Fault();
    return false;
  }
  return true;
}

bool Fail(std::string &error, const std::string &what) {
  error = what + ": " + strerror(errno);
  return false;
}

bool MakeDirs(const std::string &path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) return true;
  }
}

bool WriteAll(int fd, const void *data, size_t length, uint64_t offset) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  while (length > 0) {
    ssize_t n = pwrite(fd, p, length, static_cast<off_t>(offset));
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

template <typename T>
void Store(uint8_t *at, T value) {
  memcpy(at, &value, sizeof value);
}

}  // namespace

std::string VolumeSpec::Directory() const { return std::string(hostPaths::kHxfsVolumeRoot) + "/" + name; }

std::string VolumeSpec::DevicePath() const { return directory.empty() ? "" : directory + "/" + device; }

bool ParseVolumes(const nlohmann::json *section, std::vector<VolumeSpec> &volumes, std::string &error) {
  volumes.clear();
  if (section == nullptr) return true;
  if (!section->is_array()) {
    error = "volumes: takes a list";
    return false;
  }
  for (size_t i = 0; i < section->size(); ++i) {
    VolumeSpec v;
    if (!ParseVolume((*section)[i], "volumes[" + std::to_string(i) + "]", v, error)) return false;
    for (const VolumeSpec &other : volumes)
      if (other.name == v.name) {
        error = "volumes[" + std::to_string(i) + "].name: \"" + v.name + "\" is taken";
        return false;
      }
    volumes.push_back(std::move(v));
  }
  return true;
}

bool MakeVolume(const VolumeSpec &v, std::string &error) {
  if (!MakeDirs(v.Directory())) return Fail(error, "mkdir " + v.Directory());
  if (v.directory.empty()) return true;
  std::string path = v.DevicePath();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(error, "create " + path);
  guard::Fd image(fd);

  uint8_t descriptor[kHxfsDescriptorSize] = {};
  Store(descriptor + kHxfsDescriptorMagic, v.magic);
  Store(descriptor + kHxfsDescriptorMajor, v.major);
  Store(descriptor + kHxfsDescriptorSlotSize, v.slotSize);
  uint64_t end = v.start + kHxfsDescriptorOffset + sizeof descriptor;
  if (!WriteAll(fd, descriptor, sizeof descriptor, v.start + kHxfsDescriptorOffset))
    return Fail(error, "write " + path);

  if (HasRegion(v)) {
    const size_t slotSize = RegionSlotSize(v);
    std::vector<uint8_t> region(v.slotsWritten * slotSize, 0);
    for (uint32_t i = 0; i < v.slotsWritten; ++i) Store(region.data() + i * slotSize, HXFS_HB_SLOT_FREE);
    for (const VolumeHost &host : v.hosts) {
      uint8_t *slot = region.data() + host.slot * slotSize;
      Store(slot + kHxfsSlotState, host.state);
      memcpy(slot + kHxfsSlotMac, host.mac.data(), kHxfsMacSize);
      Store(slot + kHxfsSlotStamp, host.stamp);
      memcpy(slot + kHxfsSlotUuid, host.uuid.data(), kHxfsUuidSize);
    }
    if (!WriteAll(fd, region.data(), region.size(), v.start + kHxfsHeartbeatOffset))
      return Fail(error, "write " + path);
    end = v.start + kHxfsHeartbeatOffset + region.size();
  }
  if (ftruncate(fd, static_cast<off_t>(v.imageSize != 0 ? v.imageSize : end)) != 0)
    return Fail(error, "truncate " + path);
  return true;
}

}  // namespace hyxsim
