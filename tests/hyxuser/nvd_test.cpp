// NVDIMM passthrough and driver capabilities through the shipped library,
// against the simulated management device and its driver.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/hostPaths.h"
#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"
#include "test_host.h"

namespace {

constexpr uint64_t kIoctl = SYS_ioctl, kHsiGet = KERNEL_CALL_HSI_GET;

bool OnEdges() { return OnProfile("edges"); }

// The descriptors open on the management device.
int DeviceDescriptors(int *last) {
  int n = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (dirent *entry = readdir(dir)) {
    char link[300], target[256] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
    if (readlink(link, target, sizeof target - 1) > 0 &&
        strcmp(target, hostPaths::kNvdManagementDevice) == 0) {
      n++;
      *last = atoi(entry->d_name);
    }
  }
  closedir(dir);
  return n;
}

struct Command {
  uint8_t in[16] = {1, 2, 3}, out[16] = {};
  HyxuserNvdPassthroughCommand record{};
  Command() {
    record.word0 = 0x10;
    record.word1 = 0x11;
    record.word2 = 0x12;
    record.pointer1 = in;
    record.resultHalf = 0xbeef;
    record.sentHalf = 0x5a5a;
    record.word3 = 0x13;
    record.pointer2 = out;
  }
};

// Watches the driver's request, then lets the driver answer it.
struct Watch {
  NvdPassthroughBlock block{};
  uint64_t request = 0;
  static void Handle(HyxSimCall *call, void *context) {
    auto *self = static_cast<Watch *>(context);
    self->request = call->args[1];
    memcpy(&self->block, reinterpret_cast<const void *>(call->args[2]), sizeof self->block);
    HyxSim_RunModel(call);
  }
};

TEST(NvdPassthrough, TheCommandReachesTheDriverInItsOrderAndTheResultComesBack) {
  if (OnEdges()) GTEST_SKIP();
  Command command;
  Watch watch;
  HyxSim_SetHandler(kIoctl, Watch::Handle, &watch);
  HYX_ReturnStatus status = HyxuserNVD_PassthroughCommand(&command.record);
  HyxSim_ClearHandlers();
  ASSERT_THAT(status, IsStatus(HYX_OK));
  EXPECT_EQ(watch.request, uint64_t{DEVICE_REQUEST_NVD_PASSTHROUGH});
  EXPECT_EQ(watch.block.pointer1, reinterpret_cast<uintptr_t>(command.in));
  EXPECT_EQ(watch.block.pointer2, reinterpret_cast<uintptr_t>(command.out));
  EXPECT_EQ(watch.block.word0, 0x10u);
  EXPECT_EQ(watch.block.word1, 0x11u);
  EXPECT_EQ(watch.block.word2, 0x12u);
  EXPECT_EQ(watch.block.word3, 0x13u);
  EXPECT_EQ(watch.block.resultHalf, 0xbeefu);
  EXPECT_EQ(watch.block.sentHalf, 0x5a5au);
  EXPECT_EQ(watch.block.zero, 0u);
  // The driver's result half-word (the profile's 0x00a5) is written back.
  EXPECT_EQ(command.record.resultHalf, 0x00a5u);
  EXPECT_EQ(command.record.sentHalf, 0x5a5au);
  EXPECT_EQ(command.record.word3, 0x13u);

  // One descriptor, close-on-exec, kept across calls.
  int fd = -1;
  ASSERT_THAT(HyxuserNVD_PassthroughCommand(&command.record), IsStatus(HYX_OK));
  ASSERT_EQ(DeviceDescriptors(&fd), 1);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

namespace {

// Copies the driver's block as raw bytes, then lets the driver answer.
struct RawWatch {
  uint8_t block[40] = {};
  static void Handle(HyxSimCall *call, void *context) {
    auto *self = static_cast<RawWatch *>(context);
    memcpy(self->block, reinterpret_cast<const void *>(call->args[2]), sizeof self->block);
    HyxSim_RunModel(call);
  }
};

template <typename T>
T At(const uint8_t *bytes, size_t offset) {
  T value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

template <typename T>
void PutAt(uint8_t *bytes, size_t offset, T value) {
  memcpy(bytes + offset, &value, sizeof value);
}

}  // namespace

// The caller's 36-byte record and the driver's block, each written and read
// at the byte offsets of their layouts rather than through the structures
// the library and the simulator share.
TEST(NvdPassthrough, TheRecordAndTheBlockAtTheirByteOffsets) {
  if (OnEdges()) GTEST_SKIP();
  uint8_t in[16] = {1}, out[16] = {};
  alignas(8) uint8_t record[36] = {};
  PutAt<uint32_t>(record, 0, 0xa0a0a0a0);                         // word0
  PutAt<uint32_t>(record, 4, 0xa1a1a1a1);                         // word1
  PutAt<uint32_t>(record, 8, 0xa2a2a2a2);                         // word2
  PutAt<uint64_t>(record, 12, reinterpret_cast<uintptr_t>(in));   // pointer1
  PutAt<uint16_t>(record, 20, 0xbeef);                            // resultHalf
  PutAt<uint16_t>(record, 22, 0x5a5a);                            // sentHalf
  PutAt<uint32_t>(record, 24, 0xa3a3a3a3);                        // word3
  PutAt<uint64_t>(record, 28, reinterpret_cast<uintptr_t>(out));  // pointer2
  RawWatch watch;
  HyxSim_SetHandler(kIoctl, RawWatch::Handle, &watch);
  HYX_ReturnStatus status =
      HyxuserNVD_PassthroughCommand(reinterpret_cast<HyxuserNvdPassthroughCommand *>(record));
  HyxSim_ClearHandlers();
  ASSERT_THAT(status, IsStatus(HYX_OK));
  EXPECT_EQ(At<uint64_t>(watch.block, 0), reinterpret_cast<uintptr_t>(in));
  EXPECT_EQ(At<uint64_t>(watch.block, 8), reinterpret_cast<uintptr_t>(out));
  EXPECT_EQ(At<uint32_t>(watch.block, 16), 0xa2a2a2a2u);
  EXPECT_EQ(At<uint32_t>(watch.block, 20), 0xa3a3a3a3u);
  EXPECT_EQ(At<uint32_t>(watch.block, 24), 0xa1a1a1a1u);
  EXPECT_EQ(At<uint32_t>(watch.block, 28), 0xa0a0a0a0u);
  EXPECT_EQ(At<uint16_t>(watch.block, 32), 0xbeefu);
  EXPECT_EQ(At<uint16_t>(watch.block, 34), 0x5a5au);
  EXPECT_EQ(watch.block[36], 0u);
  // The 32 bits at block offset 32, as the driver left them (its result
  // half-word is the profile's 0x00a5), come back at record offset 20.
  EXPECT_EQ(At<uint16_t>(record, 20), 0x00a5u);
  EXPECT_EQ(At<uint16_t>(record, 22), 0x5a5au);
  EXPECT_EQ(At<uint32_t>(record, 24), 0xa3a3a3a3u);
  EXPECT_EQ(At<uint32_t>(record, 0), 0xa0a0a0a0u);
}

TEST(NvdPassthrough, ArgumentsAreCheckedBeforeTheDriverIsAsked) {
  HyxSim_ResetCounts();
  Command nullFirst, zeroWord, nullSecond;
  nullFirst.record.pointer1 = nullptr;
  zeroWord.record.word3 = 0;
  nullSecond.record.pointer2 = nullptr;
  for (Command *c : {&nullFirst, &zeroWord, &nullSecond}) {
    EXPECT_THAT(HyxuserNVD_PassthroughCommand(&c->record), IsStatus(HYX_BAD_PARAM));
    EXPECT_EQ(c->record.resultHalf, 0xbeefu);
  }
  EXPECT_THAT(HyxuserNVD_PassthroughCommand(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(kIoctl), 0u);
}

TEST(NvdPassthrough, DriverErrorsBecomeStatuses) {
  if (OnEdges()) {
    // The driver of this host fails every command with EIO.
    Command command;
    EXPECT_THAT(HyxuserNVD_PassthroughCommand(&command.record), IsStatus(HYX_IO_ERROR));
    EXPECT_EQ(command.record.resultHalf, 0xbeefu);
    return;
  }
  struct Case {
    int err;
    HYX_ReturnStatus status;
  } cases[] = {{EPERM, HYX_NO_PERMISSION}, {ENOENT, HYX_NOT_FOUND},       {EIO, HYX_IO_ERROR},
               {ENOMEM, HYX_NO_MEMORY},    {EFAULT, HYX_INVALID_ADDRESS}, {EBUSY, HYX_BUSY},
               {EEXIST, HYX_EXISTS},       {EINVAL, HYX_BAD_PARAM},       {EFBIG, HYX_LIMIT_EXCEEDED},
               {EROFS, HYX_READ_ONLY},     {ENOSYS, HYX_NOT_SUPPORTED},   {ENOSPC, HYX_FAILURE},
               {EBADF, HYX_FAILURE}};
  // A device-control request answers -errno in the whole result register.
  struct Fail {
    static void Handle(HyxSimCall *call, void *context) {
      call->status = static_cast<uint64_t>(-static_cast<int64_t>(*static_cast<const int *>(context)));
    }
  };
  for (const Case &c : cases) {
    HyxSim_SetHandler(kIoctl, Fail::Handle, const_cast<int *>(&c.err));
    Command command;
    EXPECT_THAT(HyxuserNVD_PassthroughCommand(&command.record), IsStatus(c.status)) << c.err;
    EXPECT_EQ(command.record.resultHalf, 0xbeefu) << c.err;
  }
  HyxSim_ClearHandlers();
}

TEST(NvdCapabilities, TheDriversCapabilitiesWithoutBlockNamespaces) {
  HyxuserNvdDriverCapabilities caps;
  ASSERT_THAT(HyxuserNVD_GetDriverCapabilities(&caps), IsStatus(HYX_OK));
  EXPECT_EQ(caps.maxNamespaces, 32u);
  EXPECT_EQ(caps.minNamespaceSize, 16777216u);
  // Bits 0 to 5 and 15; the driver's bit 18 (block namespaces) is dropped.
  EXPECT_EQ(caps.supportedFeatures, 0x803fu);

  const uint8_t all[16] = {7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
  // The get block holds the buffer's address: script the bytes there.
  struct Answer {
    static void Handle(HyxSimCall *call, void *context) {
      uint64_t address;
      memcpy(&address, reinterpret_cast<const char *>(call->args[5]) + 4, sizeof address);
      memcpy(reinterpret_cast<void *>(address), context, 16);
      call->status = 0;
      call->error = 0;
    }
  };
  HyxSim_SetHandler(kHsiGet, Answer::Handle, const_cast<uint8_t *>(all));
  ASSERT_THAT(HyxuserNVD_GetDriverCapabilities(&caps), IsStatus(HYX_OK));
  EXPECT_EQ(caps.maxNamespaces, 7u);
  EXPECT_EQ(caps.minNamespaceSize, 1u);
  EXPECT_EQ(caps.supportedFeatures, 0x1bffffu);

  HyxSim_ScriptAnswer(kHsiGet, HYX_NOT_FOUND, -ENOENT, nullptr, 0, 0);
  memset(&caps, 0xab, sizeof caps);
  EXPECT_THAT(HyxuserNVD_GetDriverCapabilities(&caps), IsStatus(HYX_NOT_FOUND));
  EXPECT_EQ(caps.maxNamespaces, 0xababababu);
  HyxSim_ClearHandlers();
  EXPECT_THAT(HyxuserNVD_GetDriverCapabilities(nullptr), IsStatus(HYX_BAD_PARAM));
}

}  // namespace
