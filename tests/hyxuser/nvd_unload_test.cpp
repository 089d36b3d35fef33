// The NVDIMM management device belongs to the library: however many threads
// make the first command at once, one descriptor stays open, and unloading
// the library closes it.  The library is loaded with dlopen here, so that it
// can be unloaded.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "common/hostPaths.h"
#include "hyxuser/hyxuser.h"

namespace {

int DeviceDescriptors() {
  int n = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (dirent *entry = readdir(dir)) {
    char link[300], target[256] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
    if (readlink(link, target, sizeof target - 1) > 0 && strcmp(target, hostPaths::kNvdManagementDevice) == 0)
      n++;
  }
  closedir(dir);
  return n;
}

TEST(NvdUnload, RacingFirstCommandsKeepOneDescriptorAndUnloadingClosesIt) {
  void *library = dlopen(HYX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using Passthrough = HYX_ReturnStatus (*)(HyxuserNvdPassthroughCommand *);
  auto passthrough = reinterpret_cast<Passthrough>(dlsym(library, "HyxuserNVD_PassthroughCommand"));
  ASSERT_NE(passthrough, nullptr);
  ASSERT_EQ(DeviceDescriptors(), 0);

  std::atomic<int> ready{0}, ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; i++)
    threads.emplace_back([&] {
      uint8_t in[8] = {}, out[8] = {};
      HyxuserNvdPassthroughCommand command{};
      command.pointer1 = in;
      command.pointer2 = out;
      command.word3 = 1;
      ready++;
      while (ready.load() < 8) {
      }
      if (passthrough(&command) == HYX_OK) ok++;
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(ok.load(), 8);
  EXPECT_EQ(DeviceDescriptors(), 1);

  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(DeviceDescriptors(), 0);
}

}  // namespace
