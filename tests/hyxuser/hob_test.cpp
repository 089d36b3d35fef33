// Observations through the shipped library to the sandbox's observation
// daemon, which decodes every message with its own reader.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/hostPaths.h"
#include "daemon_records.h"
#include "hyxuser/hyxuser.h"
#include "run_command.h"
#include "test_host.h"

namespace {

HYX_ReturnStatus S(HYX_ReturnStatus s) { return s; }

bool OnHyxkernelHost() { return !OnProfile("plain-linux"); }

// The records that arrived since the last call, once there are `count`.
std::vector<Json> NewRecords(size_t count) {
  static size_t seen = 0;
  std::vector<Json> all = WaitForRecords(HYXSIM_HOBD_RECORDS, seen + count);
  std::vector<Json> fresh(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
  seen = all.size();
  return fresh;
}

HyxuserHobContext Context(uint32_t severity, const std::string &component = "tester",
                          const std::string &kb = "KB-1") {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  context.severity = severity;
  memcpy(context.component, component.data(), std::min(component.size(), sizeof context.component));
  memcpy(context.kb, kb.data(), std::min(kb.size(), sizeof context.kb));
  return context;
}

std::string Rendered(const std::string &component, const std::string &kb, const std::string &text) {
  return component + " reported an observation with KB (" + kb + "). Message is :" + text;
}

// A message that surely went through: what came before it has been recorded.
Json Sentinel() {
  HyxuserHobContext context = Context(1);
  EXPECT_EQ(HyxuserHob_Notify(&context, "sentinel"), S(HYX_OK));
  std::vector<Json> records = NewRecords(1);
  EXPECT_EQ(records.size(), 1u);
  return records.empty() ? Json() : records.back();
}

TEST(HobNotify, EachSeverityGivesItsIdAndTheWholeLayout) {
  struct Case {
    uint32_t severity;
    const char *id;
    uint32_t idSize;
  } cases[] = {{1, "hob.user.external.info", 24},
               {2, "hob.user.external.warning", 32},
               {3, "hob.user.external.error", 24}};
  for (const Case &c : cases) {
    HyxuserHobContext context = Context(c.severity, "disk-monitor", "KB 2081");
    ASSERT_EQ(HyxuserHob_Notify(&context, "%d of %s are %s", 3, "8 paths", "down"), S(HYX_OK));
    std::vector<Json> records = NewRecords(1);
    ASSERT_EQ(records.size(), 1u);
    const Json &r = records[0];
    ASSERT_FALSE(r.contains("error")) << r.dump();
    const std::string text = "3 of 8 paths are down";
    EXPECT_EQ(r["id"], c.id);
    EXPECT_EQ(r["idSize"], c.idSize);
    EXPECT_EQ(r["textSize"], 56u);
    EXPECT_EQ(r["text"], "%s reported an observation with KB (%s). Message is :%s");
    EXPECT_EQ(r["argCount"], 3u);
    EXPECT_EQ(r["args"][0]["offset"], 96u);  // right behind the three records
    EXPECT_EQ(r["length"],
              32 + c.idSize + 56 + 96 + strlen("disk-monitor") + strlen("KB 2081") + text.size() + 3);
    EXPECT_EQ(r["message"], Rendered("disk-monitor", "KB 2081", text));
    if (OnHyxkernelHost())
      EXPECT_GE(r["uptimeUs"].get<uint64_t>(), 825785982u);
    else
      EXPECT_EQ(r["uptimeUs"], 0u);  // the kernel lacks the uptime call
  }
}

TEST(HobNotify, FieldBoundsAreExact) {
  const std::string c31(31, 'c'), k511(511, 'k'), t511(511, 't');
  HyxuserHobContext longest = Context(2, c31, k511);
  ASSERT_EQ(HyxuserHob_Notify(&longest, "%s", t511.c_str()), S(HYX_OK));
  std::vector<Json> records = NewRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["message"], Rendered(c31, k511, t511));
  uint64_t lastConnection = records[0]["connection"];

  // Refused before any connection is made.
  const std::string t512(512, 't');
  struct Case {
    HyxuserHobContext context;
    std::string text;
    HYX_ReturnStatus status;
  } cases[] = {
      {Context(2, std::string(32, 'c')), "x", HYX_NAME_TOO_LONG},
      {Context(2, "c", std::string(512, 'k')), "x", HYX_LIMIT_EXCEEDED},
      {Context(2, "", "kb"), "x", HYX_BAD_PARAM},
      {Context(2, "c", ""), "x", HYX_BAD_PARAM},
      {Context(2), t512, HYX_LIMIT_EXCEEDED},
  };
  for (Case &c : cases) {
    errno = 0;
    EXPECT_EQ(HyxuserHob_Notify(&c.context, "%s", c.text.c_str()), c.status);
    int expected = 0;
    HyxuserStatus_CodeToErrno(c.status, &expected);
    EXPECT_EQ(errno, expected);
  }
  EXPECT_EQ(HyxuserHob_Notify(nullptr, "x"), S(HYX_BAD_PARAM));
  HyxuserHobContext good = Context(2);
  const char *volatile noFormat = nullptr;
  errno = 0;
  EXPECT_EQ(HyxuserHob_Notify(&good, noFormat), S(HYX_BAD_PARAM));
  EXPECT_EQ(errno, EINVAL);

  Json next = Sentinel();
  EXPECT_EQ(next["connection"], lastConnection + 1) << "a refused notify connected";
}

TEST(HobNotify, OtherSeveritiesConnectSendNothingAndAreRefused) {
  uint64_t before = Sentinel()["connection"];
  for (uint32_t severity : {0u, 4u, 0xffffffffu}) {
    HyxuserHobContext context = Context(severity);
    errno = 0;
    EXPECT_EQ(HyxuserHob_Notify(&context, "never sent"), S(HYX_BAD_PARAM));
    EXPECT_EQ(errno, EINVAL);
  }
  Json next = Sentinel();
  EXPECT_EQ(next["message"], Rendered("tester", "KB-1", "sentinel")) << "something else was sent";
  EXPECT_EQ(next["connection"], before + 4) << "each refused severity connects and disconnects once";
}

TEST(HobNotify, NoDaemonThenADaemon) {
  const std::string away = std::string(hostPaths::kObservationSocket) + ".away";
  ASSERT_EQ(rename(hostPaths::kObservationSocket, away.c_str()), 0);
  HyxuserHobContext context = Context(3);
  for (int i = 0; i < 2; ++i) {  // the failure leaves nothing behind to trip the next try
    errno = 0;
    EXPECT_EQ(HyxuserHob_Notify(&context, "nobody listens"), S(HYX_NO_CONNECT));
    int expected = 0;
    HyxuserStatus_CodeToErrno(HYX_NO_CONNECT, &expected);
    EXPECT_EQ(errno, expected);
  }
  ASSERT_EQ(rename(away.c_str(), hostPaths::kObservationSocket), 0);
  ASSERT_EQ(HyxuserHob_Notify(&context, "now someone does"), S(HYX_OK));
  std::vector<Json> records = NewRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["message"], Rendered("tester", "KB-1", "now someone does"));
}

TEST(HobNotify, ConcurrentNotifiesNeverInterleave) {
  constexpr int kThreads = 8, kEach = 60;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      // Texts of different lengths, so a torn write could not line up.
      HyxuserHobContext context = Context(1 + t % 3, "thread" + std::to_string(t));
      for (int i = 0; i < kEach; ++i) {
        std::string pad(static_cast<size_t>((t * 37 + i * 11) % 300), 'x');
        EXPECT_EQ(HyxuserHob_Notify(&context, "n=%d %s", i, pad.c_str()), S(HYX_OK));
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  std::vector<Json> records = NewRecords(kThreads * kEach);
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kEach));
  std::set<std::string> messages;
  for (const Json &r : records) {
    ASSERT_FALSE(r.contains("error")) << r.dump();
    messages.insert(r["message"].get<std::string>());
  }
  EXPECT_EQ(messages.size(), static_cast<size_t>(kThreads * kEach));
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i) {
      std::string pad(static_cast<size_t>((t * 37 + i * 11) % 300), 'x');
      EXPECT_TRUE(messages.count(
          Rendered("thread" + std::to_string(t), "KB-1", "n=" + std::to_string(i) + " " + pad)));
    }
}

TEST(HobNotify, HyxinfoNotifyAndItsFailures) {
  CommandOutcome sent =
      RunCommand(std::string(HYXINFO_PATH) +
                 " notify --severity warning --component cli --kb 'KB 7' 'disk 3 is %s' 2>&1");
  EXPECT_EQ(sent.status, 0) << sent.output;
  std::vector<Json> records = NewRecords(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["id"], "hob.user.external.warning");
  EXPECT_EQ(records[0]["message"], Rendered("cli", "KB 7", "disk 3 is %s"));  // the text is not a format

  CommandOutcome tooLong = RunCommand(std::string(HYXINFO_PATH) + " notify --severity info --component " +
                                      std::string(32, 'c') + " --kb K text 2>&1");
  EXPECT_EQ(WEXITSTATUS(tooLong.status), 1);
  EXPECT_NE(tooLong.output.find("HYX_NAME_TOO_LONG"), std::string::npos) << tooLong.output;
  CommandOutcome badSeverity =
      RunCommand(std::string(HYXINFO_PATH) + " notify --severity 4 --component c --kb K text 2>&1");
  EXPECT_NE(badSeverity.output.find("HYX_BAD_PARAM"), std::string::npos) << badSeverity.output;
}

}  // namespace
