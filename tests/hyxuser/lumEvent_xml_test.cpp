// libxml2 is opened at the first event.  In a process of its own, so that
// no earlier event has loaded it: while it is missing, or lacks one of the
// functions the client needs, every event fails before the throttle (no
// window is used and nothing reaches the daemon), and the first event once
// the real library is back loads it and is posted.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "daemon_records.h"
#include "hyxsim/hyxsim.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr uint64_t kMs = 1000000;

uint32_t Remaining() {
  uint32_t remaining = 12345;
  EXPECT_THAT(HyxuserLumEvent_GetThrottlingRemaining(&remaining), IsOk());
  return remaining;
}

TEST(LumEventWithoutLibxml2, FailsBeforeTheThrottleUntilTheLibraryIsThere) {
  HyxSim_PinMonotonicClock(1000000000 * kMs);
  const std::string real = std::string(hostPaths::kLibXml2) + ".real";
  ASSERT_EQ(rename(hostPaths::kLibXml2, real.c_str()), 0);

  // Missing.
  EXPECT_THAT(HyxuserLumEvent_Send("hyx.test.NoXml", 0, nullptr, 0), IsStatus(HYX_FAILURE));
  EXPECT_EQ(Remaining(), 0u);

  // There, but without xmlTextWriterEndElement: closed again and forgotten.
  ASSERT_EQ(symlink(HYX_XML_STANDIN, hostPaths::kLibXml2), 0);
  EXPECT_THAT(HyxuserLumEvent_Send("hyx.test.NoXml", 0, nullptr, 0), IsStatus(HYX_FAILURE));
  EXPECT_EQ(Remaining(), 0u);
  EXPECT_EQ(dlopen(HYX_XML_STANDIN, RTLD_LAZY | RTLD_NOLOAD), nullptr)
      << "the incomplete library stayed open";
  EXPECT_THAT(HyxuserLumEvent_Send("hyx.test.NoXml", 0, nullptr, 0), IsStatus(HYX_FAILURE));
  EXPECT_EQ(Remaining(), 0u);

  ASSERT_EQ(unlink(hostPaths::kLibXml2), 0);
  ASSERT_EQ(rename(real.c_str(), hostPaths::kLibXml2), 0);
  EXPECT_THAT(HyxuserLumEvent_Send("hyx.test.Xml", 0, nullptr, 0), IsOk());
  EXPECT_EQ(Remaining(), 300000u);

  std::vector<std::string> methods;
  for (const Json &r : ReadRecords(HYXSIM_MGMTD_RECORDS)) methods.push_back(r.value("method", "?"));
  EXPECT_EQ(methods, (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
}

}  // namespace
