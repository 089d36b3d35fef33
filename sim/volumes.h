// The host's HXFS volumes as the profile's "volumes" section describes
// them.  hyxsim reads the section to lay each volume out in its sandbox (a
// directory under hostPaths::kHxfsVolumeRoot, a sparse device image in one
// of the device directories); the simulated kernel reads it to answer the
// file system's attribute and lock requests for descriptors inside a volume.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hyxsim {

struct VolumeHost {
  uint32_t slot = 0;
  uint32_t state = 1;
  std::vector<uint8_t> uuid;  // 16 bytes
  std::vector<uint8_t> mac;   // 6 bytes
  uint64_t stamp = 0;
};

struct VolumeSpec {
  std::string name;       // the volume's directory is kHxfsVolumeRoot/name
  std::string device;     // the device image's file name
  std::string directory;  // the device directory it lies in ("" for none)
  uint64_t start = 0;     // where the volume starts on its device
  uint32_t magic = 0;
  uint32_t major = 0;
  uint32_t slotSize = 0;      // written into the descriptor (major 24 and up)
  uint32_t slotCount = 0;     // slots the geometry has
  uint32_t slotsWritten = 0;  // slots the image holds (fewer: the region ends early)
  uint64_t imageSize = 0;     // 0: as long as the records need
  uint64_t lockTime = 0;      // answered by the lock query, in microseconds of uptime
  uint32_t lockStatus = 0;    // the file system's status in that answer
  std::vector<VolumeHost> hosts;

  std::string Directory() const;   // kHxfsVolumeRoot/name
  std::string DevicePath() const;  // "" when the device lies in no directory
};

// Parses the section (null: no volumes); false with the faulty field named.
bool ParseVolumes(const nlohmann::json *section, std::vector<VolumeSpec> &volumes, std::string &error);

// Makes the volume's directory and its device image (descriptor and
// heartbeat region at their offsets, the rest a hole).  false with the
// reason in error.
bool MakeVolume(const VolumeSpec &volume, std::string &error);

}  // namespace hyxsim
