// The model kit: what every kernel model is written with.  One way to
// answer a call, to reach the caller's memory, to decode profile values, and
// to register calls, device-control requests and profile sections.  What a
// model may do while it answers (it runs inside the SIGSYS handler) is
// written in sim/README.md.
#pragma once

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"
#include "kernel.h"
#include "profileValues.h"

namespace hyxsim {

// ---- answers ---------------------------------------------------------------
// A Hyxkernel call answers a status and, in the error register, a negated
// errno (0 with HYX_OK).  The answers with the registers given in full,
// Answer(call, status, err) and AnswerLinux, are the dispatcher's
// (kernel.h).

// The errno the status table gives status (0 for HYX_OK and unknown codes).
int ErrnoOfStatus(uint32_t status);

// The status the kernel reports for a failed operation's errno.
uint32_t StatusOfErrno(int err);

// status with the errno of the status table.
void Answer(Call &call, uint32_t status);
// The status StatusOfErrno names, with err.
void AnswerErrno(Call &call, int err);
// A device-control request the model does not claim: done by Linux.
void PassToLinux(Call &call);

// ---- the caller's memory ---------------------------------------------------
// Blocks are copied whole, so packed and unaligned layouts are safe to read.
// Null addresses are the model's to refuse before it reads.

template <typename T>
T ReadBlock(uint64_t address) {
  T value;
  memcpy(&value, reinterpret_cast<const void *>(address), sizeof value);
  return value;
}

template <typename T>
void WriteBlock(uint64_t address, const T &value) {
  memcpy(reinterpret_cast<void *>(address), &value, sizeof value);
}

inline uint8_t *CallerBytes(uint64_t address) { return reinterpret_cast<uint8_t *>(address); }

// text cut to size bytes and terminated; nothing when buffer or size is 0.
void WriteText(uint64_t buffer, uint64_t size, const char *text);

// ---- registration ------------------------------------------------------------
// Every area registers from its Register*Models function (models.h), which
// runs once while the simulator starts, before the filter is installed.
// A call's own model goes in with RegisterModel (kernel.h).

// The model of device-control request `request`; only registered requests
// are trapped, every other one goes to Linux untouched.  The model receives
// the ioctl call (args[0] descriptor, args[1] request, args[2] argument).
void RegisterDeviceRequest(uint32_t request, Model model);

// The registered device-control requests, for the filter.
size_t DeviceRequests(uint32_t *requests, size_t capacity);

// Loads and checks the profile's top-level `name` section (section is null
// when the profile has none).  Returns false with the fault in error, which
// names the field.
using SectionLoader = bool (*)(const nlohmann::json *section, std::string &error);
void RegisterSection(const char *name, SectionLoader loader);

// Runs every section loader; a fault, or a top-level section nobody loads,
// ends the process with kRefusedStatus.
void LoadSections();

}  // namespace hyxsim
