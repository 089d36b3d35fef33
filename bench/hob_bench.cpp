// Observation throughput: HyxuserHob_Notify (validate, format, connect,
// build with the uptime kernel call, send, disconnect) against the same
// message, prebuilt, sent on a connection of its own (socket, connect, send,
// close: the floor of a lone notify's work) and on one connection kept open.  Run it
// inside hyxsim --daemons, so the sandbox's observation daemon drains (and
// records) both:
//   build/default/tools/hyxsim --daemons --bind "$PWD/build/default" --
//     build/default/bench/hob_bench --benchmark_repetitions=5
// Timed on the wall clock: the daemon's side of the work is part of it.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "hyxsim/daemons.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr char kComponent[] = "bench", kKb[] = "KB 1", kText[] = "disk 3 of 8 is down";

// The daemon records every message; keep its file from filling the sandbox.
void TrimRecords(uint64_t i) {
  if (i % 4096 == 0) truncate(HYXSIM_HOBD_RECORDS, 0);
}

template <typename T>
void Put(std::vector<char> &m, size_t at, T v) {
  memcpy(m.data() + at, &v, sizeof v);
}

// The message the notify below sends (severity 2), laid out by hand.
std::vector<char> Prebuilt() {
  const std::string id = "hob.user.external.warning";
  const std::string text = "%s reported an observation with KB (%s). Message is :%s";
  const char *strings[] = {kComponent, kKb, kText};
  size_t idSize = (id.size() + 8) & ~size_t{7}, textSize = (text.size() + 8) & ~size_t{7};
  size_t array = 32 + idSize + textSize, data = array + 3 * 32, length = data;
  for (const char *s : strings) length += strlen(s) + 1;
  std::vector<char> m(length, 0);
  memcpy(m.data(), "HobMag1", 8);
  Put<uint32_t>(m, 16, static_cast<uint32_t>(length));
  Put<uint32_t>(m, 20, 3);
  Put<uint32_t>(m, 24, static_cast<uint32_t>(idSize));
  Put<uint32_t>(m, 28, static_cast<uint32_t>(textSize));
  memcpy(m.data() + 32, id.data(), id.size());
  memcpy(m.data() + 32 + idSize, text.data(), text.size());
  size_t at = data;
  for (int i = 0; i < 3; ++i) {
    Put<uint32_t>(m, array + 32 * i, 6);
    Put<uint32_t>(m, array + 32 * i + 8, static_cast<uint32_t>(at - array));
    memcpy(m.data() + at, strings[i], strlen(strings[i]) + 1);
    at += strlen(strings[i]) + 1;
  }
  return m;
}

void Notify(benchmark::State &state) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  context.severity = 2;
  strcpy(context.component, kComponent);
  strcpy(context.kb, kKb);
  uint64_t i = 0;
  for (auto _ : state) {
    if (HyxuserHob_Notify(&context, "%s", kText) != HYX_OK)
      return state.SkipWithError("no observation daemon");
    TrimRecords(++i);
  }
}

int ConnectToDaemon() {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, hostPaths::kObservationSocket);
  if (fd >= 0 && connect(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

bool SendAll(int fd, const std::vector<char> &message) {
  for (size_t sent = 0; sent < message.size();) {
    ssize_t n = send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// The same bytes on one connection kept open: what notify would cost if a
// lone observation did not need a connection of its own.
void RawSend(benchmark::State &state) {
  std::vector<char> message = Prebuilt();
  int fd = ConnectToDaemon();
  if (fd < 0) return state.SkipWithError("no observation daemon");
  uint64_t i = 0;
  for (auto _ : state) {
    if (!SendAll(fd, message)) return state.SkipWithError("send failed");
    TrimRecords(++i);
  }
  close(fd);
}

// The least a lone notify may do: a connection of its own for the message
// (socket, connect, send, close).
void ConnectSend(benchmark::State &state) {
  std::vector<char> message = Prebuilt();
  uint64_t i = 0;
  for (auto _ : state) {
    int fd = ConnectToDaemon();
    if (fd < 0) return state.SkipWithError("no observation daemon");
    bool sent = SendAll(fd, message);
    close(fd);
    if (!sent) return state.SkipWithError("send failed");
    TrimRecords(++i);
  }
}

BENCHMARK(Notify)->Name("HobNotify/library")->UseRealTime();
BENCHMARK(RawSend)->Name("HobNotify/baseline")->UseRealTime();
BENCHMARK(ConnectSend)->Name("HobNotify/connect")->UseRealTime();

}  // namespace
