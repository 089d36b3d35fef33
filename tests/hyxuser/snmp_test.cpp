// SNMP traps through the shipped library into the sandbox's spool, consumed
// by the sandbox's SNMP agent.  The throttle is driven by the simulator's
// clock control: the monotonic clock stands still and moves by exact
// amounts.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/hostPaths.h"
#include "daemon_records.h"
#include "hyxsim/hyxsim.h"
#include "hyxuser/hyxuser.h"
#include "run_command.h"

namespace {

constexpr uint64_t kMs = 1000000;
HYX_ReturnStatus S(HYX_ReturnStatus s) { return s; }

class Snmp : public testing::Test {
 protected:
  static void SetUpTestSuite() { HyxSim_PinMonotonicClock(1000000 * kMs); }
  // Every case starts with the throttle open and the small size limit.
  void SetUp() override {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    HyxuserSnmp_Configure(0);
  }
  uint32_t Remaining() {
    uint32_t remaining = 12345;
    EXPECT_EQ(HyxuserSnmp_GetThrottlingRemaining(&remaining), S(HYX_OK));
    return remaining;
  }
  // Agent records that arrived since the last call, once there are `count`.
  std::vector<Json> NewTraps(size_t count) {
    static size_t seen = 0;
    std::vector<Json> all = WaitForRecords(HYXSIM_SNMP_AGENT_RECORDS, seen + count);
    std::vector<Json> fresh(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
    seen = all.size();
    return fresh;
  }
};

std::vector<std::string> SpoolFiles() {
  std::vector<std::string> names;
  DIR *dir = opendir(hostPaths::kSnmpSpoolDir);
  while (struct dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

// Binding texts that bring the counted size (trap OID + binding OIDs and
// values) to exactly `total`.
std::string ValueForTotal(const char *trapOid, const char *bindingOid, size_t total) {
  return std::string(total - strlen(trapOid) - strlen(bindingOid), 'v');
}

TEST_F(Snmp, ATrapReachesTheAgentWithItsFileLaidOut) {
  const HyxuserSnmpVarBind bindings[] = {
      {"1.3.6.1.4.1.1234.2.1", 0, "-17"},     {"1.3.6.1.4.1.1234.2.2", 1, "text with | and spaces"},
      {"1.3.6.1.4.1.1234.2.3", 2, "1.3.6.1"}, {"1.3.6.1.4.1.1234.2.4", 3, "42"},
      {"1.3.6.1.4.1.1234.2.5", 4, "100"},     {"1.3.6.1.4.1.1234.2.6", 5, "a"},
      {"1.3.6.1.4.1.1234.2.7", 6, "b"},
  };
  time_t before = time(nullptr);
  ASSERT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.1234.1.0.7", bindings, 7), S(HYX_OK));
  time_t after = time(nullptr);
  std::vector<Json> traps = NewTraps(1);
  ASSERT_EQ(traps.size(), 1u);
  const Json &t = traps[0];
  ASSERT_FALSE(t.contains("error")) << t.dump();
  std::string file = t["file"];
  unsigned long long seconds = 0;
  char rest[64] = {};
  ASSERT_EQ(sscanf(file.c_str(), "%llu_%63s", &seconds, rest), 2) << file;
  EXPECT_STREQ(rest, "6_7_1234.trp");
  EXPECT_GE(seconds, static_cast<unsigned long long>(before));
  EXPECT_LE(seconds, static_cast<unsigned long long>(after));
  EXPECT_EQ(t["mode"], "0600");
  EXPECT_EQ(t["lines"],
            Json::array({".1.3.6.1.4.1.1234.1", "6", "7", ".1.3.6.1.4.1.1234.2.1|2|-17",
                         ".1.3.6.1.4.1.1234.2.2|4|text with | and spaces", ".1.3.6.1.4.1.1234.2.3|6|1.3.6.1",
                         ".1.3.6.1.4.1.1234.2.4|66|42", ".1.3.6.1.4.1.1234.2.5|67|100",
                         ".1.3.6.1.4.1.1234.2.6|40|a", ".1.3.6.1.4.1.1234.2.7|100|b", ";"}));
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(Snmp, TheSpecificTrapFollowsDotZeroDotOrTheLastDot) {
  struct Case {
    const char *oid;
    const char *enterpriseOid;
    const char *name;  // after the seconds
  } cases[] = {
      {"1.3.6.1.4.1.1234.1.7", "1.3.6.1.4.1.1234.1", "6_7_1234.trp"},
      {"1.3.6.1.4.1.99.0.5", "1.3.6.1.4.1.99", "6_5_99.trp"},
      {"1.3.6.1.4.1.99.3.0.4294967295", "1.3.6.1.4.1.99.3", "6_4294967295_99.trp"},
      {"1.3.6.1.4.1.0.0.1", "1.3.6.1.4.1.0", "6_1_0.trp"},
  };
  for (const Case &c : cases) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    ASSERT_EQ(HyxuserSnmp_SendTrap(c.oid, nullptr, 0), S(HYX_OK)) << c.oid;  // zero bindings
    std::vector<Json> traps = NewTraps(1);
    ASSERT_EQ(traps.size(), 1u);
    EXPECT_EQ(traps[0]["enterpriseOid"], c.enterpriseOid) << c.oid;
    std::string file = traps[0]["file"];
    EXPECT_EQ(file.substr(file.find('_') + 1), c.name) << c.oid;
    EXPECT_EQ(traps[0]["lines"].size(), 4u) << "three header lines and the terminator";
  }
}

TEST_F(Snmp, OidSyntax) {
  const std::string c128 = [] {
    std::string oid = "1";
    for (int i = 1; i < 128; ++i) oid += ".1";
    return oid;
  }();
  struct Case {
    std::string oid;
    bool valid;
  } cases[] = {
      {"1.3.6.1.4.1.9.0.0000000004294967295", true},    // 19 digits that fit
      {"1.3.6.1.4.1.9.0.4294967296", false},            // 10 digits that do not
      {"1.3.6.1.4.1.9.0.1000000000000000000", false},   // 19 digits that do not
      {"1.3.6.1.4.1.9.0.00000000000000000001", false},  // 20 digits
      {"1.3.6.1.4.1..9.1", false},
      {".1.3.6.1.4.1.9.1", false},
      {"1.3.6.1.4.1.9.1.", false},
      {"", false},
      {"1.3.6.1.4.1.9.x", false},
      {"1.3.6.1.4.1.9.+1", false},
      {"1.3.6.1.4.1.9. 1", false},
      {c128, true},
      {c128 + ".1", false},
  };
  for (const Case &c : cases) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    HYX_ReturnStatus status = HyxuserSnmp_SendTrap(c.oid.c_str(), nullptr, 0);
    if (c.valid) {
      // Past the syntax check: the throttle was taken.
      EXPECT_EQ(Remaining(), 10000u) << c.oid;
    } else {
      EXPECT_EQ(status, S(HYX_BAD_PARAM)) << c.oid;
      EXPECT_EQ(Remaining(), 0u) << c.oid;
    }
  }
  // The same rules for the bindings' OIDs, found only after the throttle.
  for (const Case &c : cases) {
    if (c.valid) continue;
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    HyxuserSnmpVarBind binding = {c.oid.c_str(), 1, "v"};
    EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", &binding, 1), S(HYX_FAILURE)) << c.oid;
  }
  NewTraps(1);  // the one valid trap above that made it
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_EQ(HyxuserSnmp_SendTrap(nullptr, nullptr, 0), S(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 1), S(HYX_BAD_PARAM));
  EXPECT_EQ(Remaining(), 10000u - 0) << "refused arguments take no window";
}

TEST_F(Snmp, BadBindingsFailAfterTheThrottleAndLeaveNoFile) {
  struct Case {
    HyxuserSnmpVarBind binding;
  } cases[] = {{{"1.3.6.1.2.1.1", 7, "v"}},
               {{nullptr, 1, "v"}},
               {{"1.3.6.1.2.1.1", 1, nullptr}},
               // A line feed would forge a binding line or end the file early.
               {{"1.3.6.1.2.1.1", 1, "a\n.1.3.6.1.2.1.2|4|forged"}},
               {{"1.3.6.1.2.1.1", 1, "a;\n"}},
               {{"1.3.6.1.2.1.1", 1, "\n"}}};
  for (const Case &c : cases) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", &c.binding, 1), S(HYX_FAILURE));
    EXPECT_EQ(Remaining(), 10000u);
    EXPECT_TRUE(SpoolFiles().empty());
  }
}

TEST_F(Snmp, TheThrottleWindowIsTenSeconds) {
  uint32_t period = 0;
  EXPECT_EQ(HyxuserSnmp_GetThrottlingPeriod(&period), S(HYX_OK));
  EXPECT_EQ(period, 10000u);
  EXPECT_EQ(HyxuserSnmp_GetThrottlingPeriod(nullptr), S(HYX_BAD_PARAM));
  EXPECT_EQ(HyxuserSnmp_GetThrottlingRemaining(nullptr), S(HYX_BAD_PARAM));

  EXPECT_EQ(Remaining(), 0u);
  ASSERT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_OK));
  EXPECT_EQ(Remaining(), 10000u);
  HyxSim_AdvanceMonotonicClock(1 * kMs);
  EXPECT_EQ(Remaining(), 9999u);
  HyxSim_AdvanceMonotonicClock(9998 * kMs);  // 9999 ms after the trap
  EXPECT_EQ(Remaining(), 1u);
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.2", nullptr, 0), S(HYX_LIMIT_EXCEEDED));
  HyxSim_AdvanceMonotonicClock(999999);  // still 9999 ms, to the millisecond
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.2", nullptr, 0), S(HYX_LIMIT_EXCEEDED));
  HyxSim_AdvanceMonotonicClock(1);  // 10000 ms
  EXPECT_EQ(Remaining(), 0u);
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.3", nullptr, 0), S(HYX_OK));
  std::vector<Json> traps = NewTraps(2);
  ASSERT_EQ(traps.size(), 2u);
  EXPECT_EQ(traps[0]["specific"], 1);
  EXPECT_EQ(traps[1]["specific"], 3);
}

// Many threads at once while the clock moves on under them, a millisecond
// per attempt, across the end of a window: exactly one trap passes when the
// window opens again, whichever thread read the clock first, and the time
// left is never 0 once that trap is through.  The trap OID is refused by the
// writer after the throttle, so nothing reaches the spool.
TEST_F(Snmp, OneTrapPassesPerWindowUnderContention) {
  constexpr int kSenders = 12, kReaders = 4, kRounds = 20;
  constexpr uint32_t kSteps = 13000;  // the window's end is crossed once
  const char *outside = "1.3.6.1.2.1.1";
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    ASSERT_EQ(HyxuserSnmp_SendTrap(outside, nullptr, 0), S(HYX_BAD_PARAM));
    std::atomic<uint32_t> steps{0};
    std::atomic<int> passed{0}, started{0}, sending{kSenders}, zeroAfterPass{0}, outOfRange{0};
    std::atomic<bool> passDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kSenders + kReaders; ++t) {
      threads.emplace_back([&, reader = t >= kSenders] {
        for (++started; started.load() < kSenders + kReaders;) std::this_thread::yield();
        // Senders move the clock, each before its own attempt.
        while (!reader && steps.fetch_add(1) < kSteps) {
          HyxSim_AdvanceMonotonicClock(1 * kMs);
          if (HyxuserSnmp_SendTrap(outside, nullptr, 0) != HYX_LIMIT_EXCEEDED) {
            ++passed;
            passDone = true;
          }
        }
        if (!reader) --sending;
        while (reader && sending.load() > 0) {
          bool after = passDone.load();
          uint32_t remaining = 0;
          if (HyxuserSnmp_GetThrottlingRemaining(&remaining) != HYX_OK || remaining > 10000) ++outOfRange;
          if (after && remaining == 0) ++zeroAfterPass;
        }
      });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(passed.load(), 1);
    EXPECT_EQ(zeroAfterPass.load(), 0);
    EXPECT_EQ(outOfRange.load(), 0);
  }
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(Snmp, ARefusedTrapStillStartsAWindow) {
  std::string long128 = "1.3.6.1.4.1.9", long127 = long128;
  while (long128.size() < 128) long128 += ".1";  // 129 characters
  while (long127.size() < 126) long127 += ".1";  // 127 characters
  ASSERT_EQ(long127.size(), 127u);
  struct Case {
    std::string oid;
    HYX_ReturnStatus status;
  } cases[] = {
      {"1.3.6.1.2.1.1.5", HYX_BAD_PARAM},         // not under the enterprises arc
      {"1.3.6.1.4.1.1234", HYX_BAD_PARAM},        // no specific-trap number
      {"1.3.6.1.4.1.1234.0.5.6", HYX_BAD_PARAM},  // more than a number after ".0."
      {long128, HYX_BAD_PARAM},
      {long127, HYX_OK},
  };
  for (const Case &c : cases) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    EXPECT_EQ(HyxuserSnmp_SendTrap(c.oid.c_str(), nullptr, 0), c.status) << c.oid;
    EXPECT_EQ(Remaining(), 10000u) << c.oid;
    EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_LIMIT_EXCEEDED)) << c.oid;
  }
  EXPECT_EQ(NewTraps(1).size(), 1u);
}

TEST_F(Snmp, SizeLimits) {
  const char *trap = "1.3.6.1.4.1.9.0.1", *oid = "1.3.6.1.4.1.9.2.1";
  struct Case {
    uint32_t flags;
    size_t total;
    HYX_ReturnStatus status;
  } cases[] = {{0, 1472, HYX_OK},
               {0, 1473, HYX_RESULT_TOO_LARGE},
               {1, 65507, HYX_OK},
               {1, 65508, HYX_RESULT_TOO_LARGE}};
  for (const Case &c : cases) {
    HyxSim_AdvanceMonotonicClock(10000 * kMs);
    HyxuserSnmp_Configure(c.flags);
    std::string value = ValueForTotal(trap, oid, c.total);
    HyxuserSnmpVarBind binding = {oid, 1, value.c_str()};
    EXPECT_EQ(HyxuserSnmp_SendTrap(trap, &binding, 1), c.status) << c.total;
    if (c.status == HYX_OK) {
      std::vector<Json> traps = NewTraps(1);
      ASSERT_EQ(traps.size(), 1u);
      EXPECT_EQ(traps[0]["bindings"][0]["value"], value);
    }
    EXPECT_TRUE(SpoolFiles().empty()) << c.total;
  }
  // Counted over every binding.
  HyxSim_AdvanceMonotonicClock(10000 * kMs);
  HyxuserSnmp_Configure(0);
  std::string half = ValueForTotal("", oid, 736);
  HyxuserSnmpVarBind two[] = {{oid, 1, half.c_str()}, {oid, 1, half.c_str()}};
  EXPECT_EQ(HyxuserSnmp_SendTrap(trap, two, 2), S(HYX_RESULT_TOO_LARGE));
}

TEST_F(Snmp, NoAgentOrNoSpoolIsNotReadyAndLeavesNoFile) {
  const std::string away = std::string(hostPaths::kSnmpControlSocket) + ".away";
  ASSERT_EQ(rename(hostPaths::kSnmpControlSocket, away.c_str()), 0);
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_NOT_READY));
  EXPECT_TRUE(SpoolFiles().empty());
  ASSERT_EQ(rename(away.c_str(), hostPaths::kSnmpControlSocket), 0);

  const std::string spoolAway = std::string(hostPaths::kSnmpSpoolDir) + ".away";
  ASSERT_EQ(rename(hostPaths::kSnmpSpoolDir, spoolAway.c_str()), 0);
  HyxSim_AdvanceMonotonicClock(10000 * kMs);
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_NOT_READY));
  EXPECT_EQ(Remaining(), 0u) << "an unwritable spool takes no window";
  ASSERT_EQ(rename(spoolAway.c_str(), hostPaths::kSnmpSpoolDir), 0);
}

// Names the next trap can take: the wall-clock seconds around now.
std::vector<std::string> NamesAroundNow(const char *extension) {
  std::vector<std::string> names;
  time_t now = time(nullptr);
  for (time_t s = now - 1; s <= now + 5; ++s)
    names.push_back(std::string(hostPaths::kSnmpSpoolDir) + "/" + std::to_string(s) + "_6_1_9." + extension);
  return names;
}

TEST_F(Snmp, APlantedLinkIsNeverFollowed) {
  const char *victim = "/tmp/snmp-victim";
  unlink(victim);
  std::vector<std::string> links = NamesAroundNow("tmp");
  for (const std::string &link : links) ASSERT_EQ(symlink(victim, link.c_str()), 0);
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_FAILURE));
  struct stat st;
  EXPECT_NE(lstat(victim, &st), 0) << "the link was followed";
  for (const std::string &link : links) {
    EXPECT_EQ(lstat(link.c_str(), &st), 0) << link << " was removed";
    unlink(link.c_str());
  }
  EXPECT_TRUE(SpoolFiles().empty());
}

TEST_F(Snmp, ANameCollisionFailsWithoutClobberingTheOtherTrap) {
  std::vector<std::string> others = NamesAroundNow("trp");
  for (const std::string &other : others) {
    FILE *f = fopen(other.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("another trap\n", f);
    fclose(f);
  }
  EXPECT_EQ(HyxuserSnmp_SendTrap("1.3.6.1.4.1.9.1", nullptr, 0), S(HYX_FAILURE));
  for (const std::string &other : others) {
    FILE *f = fopen(other.c_str(), "r");
    ASSERT_NE(f, nullptr) << other;
    char line[64] = {};
    EXPECT_NE(fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "another trap\n") << other;
    fclose(f);
    unlink(other.c_str());
  }
  EXPECT_TRUE(SpoolFiles().empty()) << "the temporary file stayed";
}

TEST_F(Snmp, HyxinfoTrapAndItsFailures) {
  CommandOutcome sent =
      RunCommand(std::string(HYXINFO_PATH) +
                 " trap 1.3.6.1.4.1.1234.1.0.7 1.3.6.1.2.1.1.5.0:string:host:a 1.3.6.1.2.1.1.3.0:5:77 2>&1");
  EXPECT_EQ(sent.status, 0) << sent.output;
  std::vector<Json> traps = NewTraps(1);
  ASSERT_EQ(traps.size(), 1u);
  EXPECT_EQ(traps[0]["lines"], Json::array({".1.3.6.1.4.1.1234.1", "6", "7", ".1.3.6.1.2.1.1.5.0|4|host:a",
                                            ".1.3.6.1.2.1.1.3.0|40|77", ";"}));
  CommandOutcome refused = RunCommand(std::string(HYXINFO_PATH) + " trap 1.3.6.1.2.1.1 2>&1");
  EXPECT_EQ(WEXITSTATUS(refused.status), 1);
  EXPECT_NE(refused.output.find("HYX_BAD_PARAM"), std::string::npos) << refused.output;
}

}  // namespace
