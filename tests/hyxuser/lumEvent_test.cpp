// Events through the shipped library to the sandbox's management daemon,
// which parses every request with its own HTTP reader and XML parser and
// records it.  The throttle and the session's age are moved by the
// simulator's clock control, never by waiting.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "alloc_fail.h"
#include "common/hostPaths.h"
#include "daemon_records.h"
#include "hyxsim/hyxsim.h"
#include "hyxuser/hyxuser.h"
#include "run_command.h"
#include "status_matchers.h"

namespace {

constexpr uint64_t kMs = 1000000;
constexpr char kXsi[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kXsd[] = "http://www.w3.org/2001/XMLSchema";

void SetFaults(const std::string &lines) { std::ofstream(HYXSIM_MGMTD_FAULTS, std::ios::trunc) << lines; }

// The daemon records one line per request before it answers, so the
// records of a finished call are all there.
std::vector<Json> NewRecords() {
  static size_t seen = 0;
  std::vector<Json> all = ReadRecords(HYXSIM_MGMTD_RECORDS);
  std::vector<Json> fresh(all.begin() + static_cast<long>(std::min(seen, all.size())), all.end());
  seen = all.size();
  return fresh;
}

std::vector<std::string> Methods(const std::vector<Json> &records) {
  std::vector<std::string> methods;
  for (const Json &r : records) methods.push_back(r.value("method", "?"));
  return methods;
}

const Json *Child(const Json &element, const std::string &name) {
  if (!element.contains("children")) return nullptr;
  for (const Json &c : element["children"])
    if (c["name"] == name) return &c;
  return nullptr;
}

// The library's connections to the management daemon.
std::vector<int> SessionSockets() {
  std::vector<int> fds;
  DIR *dir = opendir("/proc/self/fd");
  while (struct dirent *entry = readdir(dir)) {
    int fd = atoi(entry->d_name);
    struct sockaddr_in peer {};
    socklen_t length = sizeof peer;
    if (entry->d_name[0] != '.' && getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
        peer.sin_family == AF_INET && ntohs(peer.sin_port) == hostPaths::kMgmtdPort)
      fds.push_back(fd);
  }
  closedir(dir);
  return fds;
}

class LumEvent : public testing::Test {
 protected:
  static void SetUpTestSuite() { HyxSim_PinMonotonicClock(1000000000 * kMs); }
  // Every case starts with the throttle open and no faults.
  void SetUp() override {
    SetFaults("");
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    NewRecords();
  }
  // Past the session's reuse limit: the next event logs in again.
  void ExpireSession() { HyxSim_AdvanceMonotonicClock(961000 * kMs); }
  HYX_ReturnStatus Send(uint32_t severity = 0, const HyxuserLumEventArg *args = nullptr, uint64_t count = 0) {
    return HyxuserLumEvent_Send("hyx.test.Event", severity, args, count);
  }
  uint32_t Remaining() {
    uint32_t remaining = 12345;
    EXPECT_THAT(HyxuserLumEvent_GetThrottlingRemaining(&remaining), IsOk());
    return remaining;
  }
};

TEST_F(LumEvent, RequestsAsTheDaemonParsesThem) {
  ExpireSession();
  const HyxuserLumEventArg args[] = {
      {"plain", "value"}, {"<k&\"'>", "<v attr=\"x\">&amp;</v>"}, {"empty", ""}};
  ASSERT_THAT(Send(2, args, 3), IsOk());
  std::vector<Json> records = NewRecords();
  std::vector<std::string> methods = Methods(records);
  // An old session, if any, is logged out first.
  if (!methods.empty() && methods[0] == "Logout") records.erase(records.begin());
  ASSERT_EQ(Methods(records), (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
  EXPECT_EQ(records[0]["connection"], records[2]["connection"])
      << "one connection for the login and the event";

  for (const Json &r : records) {
    SCOPED_TRACE(r.dump());
    EXPECT_FALSE(r.contains("error"));
    EXPECT_FALSE(r.contains("fault"));
    EXPECT_EQ(r["requestLine"], "POST /sdk HTTP/1.1");
    EXPECT_EQ(r["headers"]["SOAPAction"], "\"urn:internallum25/uABE7C9B3\"");
    for (const char *absent : {"Host", "Content-Type", "Connection"})
      EXPECT_FALSE(r["headers"].contains(absent));
    EXPECT_EQ(r["declaration"]["version"], "1.0");
    EXPECT_EQ(r["declaration"]["encoding"], "UTF-8");
    EXPECT_EQ(r["envelope"], Json({{"xmlns:soapenc", "http://schemas.xmlsoap.org/soap/encoding/"},
                                   {"xmlns:soapenv", "http://schemas.xmlsoap.org/soap/envelope/"},
                                   {"xmlns:xsi", kXsi},
                                   {"xmlns:xsd", kXsd}}));
    EXPECT_EQ(r["envelopeAttributeOrder"],
              Json({"xmlns:soapenc", "xmlns:soapenv", "xmlns:xsi", "xmlns:xsd"}));
    const Json &call = r["call"];
    EXPECT_EQ(call["ns"], "urn:internallum25");
    EXPECT_EQ(call["attributes"], Json({{"xmlns", "urn:internallum25"}}));
    EXPECT_EQ(call["attributeOrder"], Json({"xmlns"}));
    ASSERT_TRUE(call.contains("children"));
    const Json &self = call["children"][0];
    EXPECT_EQ(self["name"], "_this");
    EXPECT_EQ(self["attributeOrder"], Json({"versionId", "type"}));
    EXPECT_EQ(self["attributes"]["versionId"], "uABE7C9B3");
    EXPECT_EQ(self["attributes"]["type"], r["method"] == "PostEvent" ? "EventManager" : "SessionManager");
    EXPECT_EQ(self["text"], r["method"] == "PostEvent" ? "ha-eventmgr" : "ha-sessionmgr");
  }
  EXPECT_FALSE(records[0]["headers"].contains("Cookie"));
  EXPECT_FALSE(records[1]["headers"].contains("Cookie"));
  EXPECT_TRUE(records[2]["headers"].contains("Cookie"));
  EXPECT_EQ(records[2]["session"], records[1]["session"]);

  const Json &ticketUser = records[0]["call"]["children"][1];
  EXPECT_EQ(ticketUser["name"], "userName");
  EXPECT_EQ(ticketUser["text"], "root");
  EXPECT_EQ(ticketUser["ns"], "urn:lum25");
  EXPECT_EQ(ticketUser["attributes"], Json({{"versionId", "uABE7C9B3"}, {"xmlns", "urn:lum25"}}));
  EXPECT_EQ(ticketUser["attributeOrder"], Json({"versionId", "xmlns"}));
  const Json &login = records[1]["call"];
  ASSERT_EQ(login["children"].size(), 3u);
  EXPECT_EQ(login["children"][1]["text"], records[0]["ticketUser"]);
  EXPECT_EQ(login["children"][2]["name"], "password");
  EXPECT_EQ(login["children"][2]["ns"], "urn:lum25");
  for (int i : {1, 2}) EXPECT_EQ(login["children"][i]["attributeOrder"], Json({"versionId", "xmlns"}));

  const Json &call = records[2]["call"];
  ASSERT_EQ(call["children"].size(), 2u);
  const Json &event = call["children"][1];
  EXPECT_EQ(event["name"], "eventToPost");
  EXPECT_EQ(event["ns"], "urn:lum25");
  EXPECT_EQ(event["attributes"],
            Json({{"versionId", "uABE7C9B3"}, {"xmlns", "urn:lum25"}, {"xsi:type", "EventEx"}}));
  EXPECT_EQ(event["attributeOrder"], Json({"versionId", "xmlns", "xsi:type"}));
  EXPECT_EQ(event["typeNs"], kXsi);
  std::vector<std::string> names;
  for (const Json &c : event["children"]) names.push_back(c["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"key", "chainId", "createdTime", "userName", "eventTypeId",
                                             "severity", "arguments", "arguments", "arguments"}));
  EXPECT_EQ(Child(event, "key")->at("text"), "0");
  EXPECT_EQ(Child(event, "chainId")->at("text"), "0");
  EXPECT_EQ(Child(event, "userName")->at("text"), "");
  EXPECT_EQ(Child(event, "eventTypeId")->at("text"), "hyx.test.Event");
  EXPECT_EQ(Child(event, "severity")->at("text"), "error");
  std::string created = Child(event, "createdTime")->at("text");
  EXPECT_TRUE(std::regex_match(created, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)"))) << created;
  for (int i = 0; i < 3; ++i) {
    const Json &arg = event["children"][6 + i];
    SCOPED_TRACE(arg.dump());
    ASSERT_EQ(arg["children"].size(), 2u);
    EXPECT_EQ(arg["attributes"], Json::object());
    EXPECT_EQ(arg["children"][0]["name"], "key");
    EXPECT_EQ(arg["children"][0]["text"], args[i].key);
    EXPECT_EQ(arg["children"][1]["name"], "value");
    EXPECT_EQ(arg["children"][1]["text"], args[i].value);
    EXPECT_EQ(arg["children"][1]["attributes"], Json({{"xsi:type", "xsd:string"}}));
    EXPECT_EQ(arg["children"][1]["typeNs"], kXsi);
    EXPECT_EQ(arg["children"][1]["typeValueNs"], kXsd);
  }
}

TEST_F(LumEvent, SeverityStrings) {
  const char *const names[] = {"info", "warning", "error"};
  for (uint32_t severity = 0; severity < 3; ++severity) {
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    ASSERT_THAT(Send(severity), IsOk());
    std::vector<Json> records = NewRecords();
    ASSERT_FALSE(records.empty());
    const Json &event = records.back()["call"]["children"][1];
    EXPECT_EQ(Child(event, "severity")->at("text"), names[severity]);
  }
  EXPECT_THAT(Send(3), IsStatus(HYX_BAD_PARAM));
}

TEST_F(LumEvent, ThrottleOnAPinnedClock) {
  uint32_t period = 0;
  EXPECT_THAT(HyxuserLumEvent_GetThrottlingPeriod(&period), IsOk());
  EXPECT_EQ(period, 300000u);
  EXPECT_THAT(HyxuserLumEvent_GetThrottlingPeriod(nullptr), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserLumEvent_GetThrottlingRemaining(nullptr), IsStatus(HYX_BAD_PARAM));

  EXPECT_EQ(Remaining(), 0u);
  ASSERT_THAT(Send(), IsOk());
  EXPECT_EQ(Remaining(), 300000u);
  HyxSim_AdvanceMonotonicClock(299999 * kMs);
  EXPECT_EQ(Remaining(), 1u);
  EXPECT_THAT(Send(), IsStatus(HYX_LIMIT_EXCEEDED));
  HyxSim_AdvanceMonotonicClock(1 * kMs);
  EXPECT_EQ(Remaining(), 0u);
  EXPECT_THAT(Send(), IsOk());
  EXPECT_EQ(Methods(NewRecords()).back(), "PostEvent");

  // A failed event still uses up the window.
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  SetFaults("PostEvent fault500\n");
  EXPECT_THAT(Send(), IsStatus(HYX_FAILURE));
  SetFaults("");
  EXPECT_THAT(Send(), IsStatus(HYX_LIMIT_EXCEEDED));
}

TEST_F(LumEvent, ArgumentBounds) {
  std::vector<HyxuserLumEventArg> args(257, HyxuserLumEventArg{"k", "v"});
  EXPECT_THAT(Send(0, args.data(), 257), IsStatus(HYX_BAD_PARAM));
  ASSERT_THAT(Send(0, args.data(), 256), IsOk());
  EXPECT_EQ(NewRecords().back()["call"]["children"][1]["children"].size(), 6u + 256u);

  std::string key(8000, 'k'), value(8384, 'v'), longer(8385, 'v');
  HyxuserLumEventArg big[] = {{key.c_str(), value.c_str()}};
  HyxuserLumEventArg over[] = {{key.c_str(), longer.c_str()}};
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  EXPECT_THAT(Send(0, over, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(Send(0, big, 1), IsOk());

  HyxuserLumEventArg nullKey[] = {{nullptr, "v"}}, nullValue[] = {{"k", nullptr}};
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  EXPECT_THAT(Send(0, nullKey, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(Send(0, nullValue, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(Send(0, nullptr, 1), IsStatus(HYX_BAD_PARAM));
  EXPECT_THAT(HyxuserLumEvent_Send(nullptr, 0, nullptr, 0), IsStatus(HYX_BAD_PARAM));
  EXPECT_EQ(Remaining(), 0u) << "refused arguments do not use up the window";
}

TEST_F(LumEvent, SessionReusedFor16MinutesThenLoggedOut) {
  ExpireSession();
  ASSERT_THAT(Send(), IsOk());
  std::vector<Json> first = NewRecords();
  ASSERT_GE(first.size(), 3u);
  const Json login = first[first.size() - 2];
  ASSERT_EQ(login["method"], "Login");

  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  ASSERT_THAT(Send(), IsOk());
  std::vector<Json> reused = NewRecords();
  ASSERT_EQ(Methods(reused), std::vector<std::string>{"PostEvent"});
  EXPECT_EQ(reused[0]["connection"], login["connection"]);
  EXPECT_EQ(reused[0]["session"], login["session"]);

  HyxSim_AdvanceMonotonicClock(660000 * kMs);  // 960000 since the login: still reused
  ASSERT_THAT(Send(), IsOk());
  EXPECT_EQ(Methods(NewRecords()), std::vector<std::string>{"PostEvent"});

  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  ASSERT_THAT(Send(), IsOk());
  std::vector<Json> renewed = NewRecords();
  ASSERT_EQ(Methods(renewed),
            (std::vector<std::string>{"Logout", "AcquireLocalTicket", "Login", "PostEvent"}));
  EXPECT_EQ(renewed[0]["connection"], login["connection"]);
  EXPECT_EQ(renewed[0]["session"], login["session"]);
  EXPECT_NE(renewed[1]["connection"], login["connection"]);
  EXPECT_EQ(renewed[3]["connection"], renewed[1]["connection"]);
  EXPECT_EQ(SessionSockets().size(), 1u) << "the old connection is closed";
}

TEST_F(LumEvent, SessionSocketIsCloseOnExec) {
  ASSERT_THAT(Send(), IsOk());
  std::vector<int> sockets = SessionSockets();
  ASSERT_EQ(sockets.size(), 1u);
  EXPECT_TRUE(fcntl(sockets[0], F_GETFD) & FD_CLOEXEC);
}

// Runs body in a child made by fork (no test assertions there) and gives
// its exit status.
template <typename F>
int InChild(F body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = -1;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(LumEvent, AForkedChildLogsInOnItsOwnConnection) {
  ExpireSession();
  ASSERT_THAT(Send(), IsOk());
  std::vector<Json> parents = NewRecords();
  ASSERT_FALSE(parents.empty());
  const Json parentConnection = parents.back()["connection"];
  ASSERT_EQ(SessionSockets().size(), 1u);

  int child = InChild([] {
    if (!SessionSockets().empty()) return 1;  // the child's copy is gone at once
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    return HyxuserLumEvent_Send("hyx.test.Child", 0, nullptr, 0) == HYX_OK ? 0 : 2;
  });
  EXPECT_EQ(child, 0);
  std::vector<Json> childs = NewRecords();
  EXPECT_EQ(Methods(childs), (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
  for (const Json &r : childs) EXPECT_NE(r["connection"], parentConnection) << r.dump();

  // The parent's session goes on, alone on its connection.
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  ASSERT_THAT(Send(), IsOk());
  std::vector<Json> after = NewRecords();
  ASSERT_EQ(Methods(after), std::vector<std::string>{"PostEvent"});
  EXPECT_EQ(after[0]["connection"], parentConnection);
  EXPECT_FALSE(after[0].contains("error"));
}

// Descriptor 0 is a connection like any other: kept and reused, not taken
// for "no session".  In a child, so that the test's own standard input is
// left alone.
TEST_F(LumEvent, ASessionOnDescriptorZeroIsReused) {
  int child = InChild([] {
    close(0);
    HyxSim_AdvanceMonotonicClock(961000 * kMs);
    if (HyxuserLumEvent_Send("hyx.test.Zero", 0, nullptr, 0) != HYX_OK) return 1;
    if (SessionSockets() != std::vector<int>{0}) return 2;
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    if (HyxuserLumEvent_Send("hyx.test.Zero", 0, nullptr, 0) != HYX_OK) return 3;
    return SessionSockets() == std::vector<int>{0} ? 0 : 4;
  });
  EXPECT_EQ(child, 0);
  std::vector<Json> records = NewRecords();
  ASSERT_EQ(Methods(records),
            (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent", "PostEvent"}));
  EXPECT_EQ(records[3]["connection"], records[0]["connection"]);
  EXPECT_EQ(records[3]["session"], records[1]["session"]);
}

TEST_F(LumEvent, TwoThreadsAtOnceOnePostsTheOtherIsThrottled) {
  HYX_ReturnStatus statuses[2] = {};
  std::thread a([&] { statuses[0] = Send(1); }), b([&] { statuses[1] = Send(2); });
  a.join();
  b.join();
  EXPECT_TRUE((statuses[0] == HYX_OK && statuses[1] == HYX_LIMIT_EXCEEDED) ||
              (statuses[1] == HYX_OK && statuses[0] == HYX_LIMIT_EXCEEDED))
      << StatusText(statuses[0]) << ", " << StatusText(statuses[1]);
  std::vector<Json> records = NewRecords();
  ASSERT_FALSE(records.empty());
  for (const Json &r : records) EXPECT_FALSE(r.contains("error") || r.contains("fault")) << r.dump();
  std::vector<std::string> methods = Methods(records);
  EXPECT_EQ(methods.back(), "PostEvent");
  EXPECT_EQ(std::count(methods.begin(), methods.end(), "PostEvent"), 1) << "one event posted";
}

TEST_F(LumEvent, AKeptConnectionTheDaemonClosed) {
  SetFaults("PostEvent close-after\n");
  ASSERT_THAT(Send(), IsOk());
  SetFaults("");
  NewRecords();
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  EXPECT_THAT(Send(), IsStatus(HYX_FAILURE));
  EXPECT_TRUE(SessionSockets().empty()) << "the failed connection is dropped";
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  ASSERT_THAT(Send(), IsOk());
  std::vector<std::string> methods = Methods(NewRecords());
  EXPECT_EQ(methods, (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
}

struct FaultCase {
  const char *faults;
  const char *what;
};

TEST_F(LumEvent, DaemonFaultsFailTheEventAndTheNextLogsIn) {
  const FaultCase cases[] = {
      {"AcquireLocalTicket close-mid-response\n", "ticket cut short"},
      {"AcquireLocalTicket fault500\n", "ticket refused"},
      {"Login oversized-headers\n", "header block over 1023 bytes"},
      {"Login no-cookie\n", "login without Set-Cookie"},
      {"Login fault500\n", "login refused"},
      {"PostEvent fault500\n", "event refused with a SOAP fault"},
      {"PostEvent close-mid-response\n", "event answer cut short"},
      {"AcquireLocalTicket ticket-path /proc/self/comm\n", "a password file on procfs"},
      {"AcquireLocalTicket ticket-path /run/hyxsim/password-64\n", "64-byte password file"},
      {"AcquireLocalTicket ticket-path /run/hyxsim/password-empty\n", "empty password file"},
      {"AcquireLocalTicket ticket-path /run/hyxsim/password-fifo\n", "a FIFO as the password file"},
      {"AcquireLocalTicket ticket-path /dev/zero\n", "a device as the password file"},
  };
  std::ofstream("/run/hyxsim/password-64") << std::string(64, 'p');
  std::ofstream("/run/hyxsim/password-empty");
  unlink("/run/hyxsim/password-fifo");
  ASSERT_EQ(mkfifo("/run/hyxsim/password-fifo", 0600), 0);
  for (const FaultCase &c : cases) {
    SCOPED_TRACE(c.what);
    ExpireSession();
    SetFaults(c.faults);
    EXPECT_THAT(Send(), IsStatus(HYX_FAILURE));
    EXPECT_TRUE(SessionSockets().empty());
    SetFaults("");
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    EXPECT_THAT(Send(), IsOk());
    NewRecords();
  }
}

// The body is the Content-Length's bytes, NULs included: an answer in
// UTF-16, half of whose bytes are NULs, is parsed whole.
TEST_F(LumEvent, AnAnswerInUtf16IsReadWhole) {
  ExpireSession();
  SetFaults("* utf16\n");
  EXPECT_THAT(Send(), IsOk());
  std::vector<Json> records = NewRecords();
  for (const Json &r : records) EXPECT_EQ(r["faultMode"], "utf16") << r.dump();
  std::vector<std::string> methods = Methods(records);
  ASSERT_FALSE(methods.empty());
  if (methods[0] == "Logout") methods.erase(methods.begin());
  EXPECT_EQ(methods, (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
}

TEST_F(LumEvent, ASlowDaemonIsWaitedFor) {
  SetFaults("PostEvent slow 1\n");
  EXPECT_THAT(Send(), IsOk());
}

TEST_F(LumEvent, ASilentDaemonFailsTheEventAndFreesTheLock) {
  SetFaults("PostEvent silent\n");
  EXPECT_THAT(Send(), IsStatus(HYX_FAILURE));
  EXPECT_TRUE(SessionSockets().empty());
  SetFaults("");
  HyxSim_AdvanceMonotonicClock(300000 * kMs);
  EXPECT_THAT(Send(), IsOk());
}

TEST_F(LumEvent, EveryFailedAllocationFailsTheEventAndLeaksNothing) {
  // The counting run logs out of the session it finds; the runs after a
  // failure find none.  A failed allocation of the logout (whose outcome is
  // not used) lets the event through; every other one fails it.
  const HyxuserLumEventArg args[] = {{"k", "v"}};
  uint64_t failed = 0;
  uint64_t allocations = AllocFail_Sweep(
      [&] {
        ExpireSession();  // a whole login each time
        return Send(1, args, 1);
      },
      [&](HYX_ReturnStatus status, uint64_t nth) {
        EXPECT_TRUE(status == HYX_FAILURE || status == HYX_OK)
            << StatusText(status) << ", allocation " << nth;
        failed += status == HYX_FAILURE;
        EXPECT_LE(SessionSockets().size(), 1u) << "allocation " << nth;
      });
  EXPECT_GT(allocations, 0u);
  // A run after one that passed logs out again, so its count shifts: most
  // runs, not all, fail.
  EXPECT_GT(failed * 2, allocations);
  ExpireSession();
  EXPECT_THAT(Send(), IsOk());
}

TEST_F(LumEvent, HyxinfoEventAndThrottle) {
  CommandOutcome sent = RunCommand(std::string(HYXINFO_PATH) +
                                   " --json event hyx.test.Tool --severity warning 'a<b>=x=&y' plain= 2>&1");
  ASSERT_EQ(sent.status, 0) << sent.output;
  EXPECT_EQ(Json::parse(sent.output), Json({{"posted", true}}));
  std::vector<Json> records = NewRecords();
  ASSERT_FALSE(records.empty());
  const Json &event = records.back()["call"]["children"][1];
  EXPECT_EQ(Child(event, "eventTypeId")->at("text"), "hyx.test.Tool");
  EXPECT_EQ(Child(event, "severity")->at("text"), "warning");
  EXPECT_EQ(event["children"][6]["children"][0]["text"], "a<b>");
  EXPECT_EQ(event["children"][6]["children"][1]["text"], "x=&y");
  EXPECT_EQ(event["children"][7]["children"][1]["text"], "");
  // The daemon's record names the event by its fields as well.
  const Json &fields = records.back()["event"];
  EXPECT_EQ(fields["eventTypeId"], "hyx.test.Tool");
  EXPECT_EQ(fields["severity"], "warning");
  EXPECT_EQ(fields["arguments"],
            Json::parse(R"([{"key": "a<b>", "value": "x=&y"}, {"key": "plain", "value": ""}])"));

  CommandOutcome throttle = RunCommand(std::string(HYXINFO_PATH) + " event --throttle --json");
  ASSERT_EQ(throttle.status, 0) << throttle.output;
  EXPECT_EQ(Json::parse(throttle.output),
            Json({{"remainingMs", 0}, {"periodMs", 300000}, {"scope", "process"}}));

  CommandOutcome refused = RunCommand(std::string(HYXINFO_PATH) + " event hyx.test.Tool --severity 3 2>&1");
  EXPECT_EQ(WEXITSTATUS(refused.status), 1);
  EXPECT_NE(refused.output.find("HYX_BAD_PARAM"), std::string::npos) << refused.output;
}

}  // namespace
