// Off the Hyxkernel every Hyxkernel call number is unknown to the running
// kernel, which answers -ENOSYS: the exports that ask the kernel without the
// load-time gate say HYX_NOT_IMPLEMENTED with errno ENOSYS, never the raw
// Linux value, and leave their outputs alone.  Built twice: run on this
// machine's own kernel, and inside hyxsim on hosts that are not a Hyxkernel.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>

#include "hyxuser/hyxuser.h"

namespace {

TEST(OffHost, KernelCallsSayNotImplementedWithEnosys) {
  uint32_t attributes = 77;
  uint64_t length = 9;
  void *data = &length;
  HyxuserNvdDriverCapabilities capabilities;
  memset(&capabilities, 0xee, sizeof capabilities);
  struct Case {
    const char *what;
    std::function<HYX_ReturnStatus()> call;
  } cases[] = {
      {"uefi get",
       [&] {
         return HyxuserUefi_GetVariable("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c", &attributes,
                                        &length, &data);
       }},
      {"uefi set", [] { return HyxuserUefi_SetVariable("Any-0", 7, 1, "a"); }},
      {"uefi remove", [] { return HyxuserUefi_RemoveVariable("Any-0"); }},
      {"nvd capabilities", [&] { return HyxuserNVD_GetDriverCapabilities(&capabilities); }},
      {"adapter rescan", [] { return HyxuserStorage_RescanDeletePathsOnHyxkernelAdapter("vmhba2"); }},
      {"compat rescan", [] { return HyxuserCompat_RescanHyxkernelHba("vmhba2"); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    errno = 0;
    EXPECT_EQ(c.call(), static_cast<HYX_ReturnStatus>(HYX_NOT_IMPLEMENTED));
    EXPECT_EQ(errno, ENOSYS);
  }
  EXPECT_EQ(attributes, 77u);
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(data, &length);
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&capabilities);
  for (size_t i = 0; i < sizeof capabilities; i++) EXPECT_EQ(bytes[i], 0xee) << i;
}

}  // namespace
