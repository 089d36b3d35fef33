// The daemon clients against peers that misbehave: absent, closing early,
// answering garbage, answering slowly, and callers whose system calls a
// storm of signals interrupts (an interval timer, SA_RESTART off).  Each
// client gives a clear status, delivers what it says it delivered, and
// keeps no descriptor and no memory.  The peers are the test's own threads
// on the host's real endpoints (the sandbox runs no daemons here).
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "alloc_fail.h"
#include "common/hostPaths.h"
#include "descriptors.h"
#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxuser/hyxuser.h"
#include "status_matchers.h"

namespace {

constexpr uint64_t kMs = 1000000;

// Signals at a fast interval to this thread's system calls, none restarted.
class SignalStorm {
 public:
  SignalStorm() {
    struct sigaction action {};
    action.sa_handler = [](int) { count.fetch_add(1, std::memory_order_relaxed); };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGALRM, &action, &saved_);
    struct itimerval every = {{0, 200}, {0, 200}};
    setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~SignalStorm() {
    struct itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &saved_, nullptr);
  }
  static inline std::atomic<uint64_t> count{0};

 private:
  struct sigaction saved_;
};

// A peer thread; the storm's signals are kept away from it.
class PeerThread {
 public:
  explicit PeerThread(std::function<void()> body) {
    sigset_t alarm, saved;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &saved);
    thread_ = std::thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  }
  ~PeerThread() { thread_.join(); }

 private:
  std::thread thread_;
};

std::string ReadAll(int fd) {
  std::string all;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) all.append(chunk, static_cast<size_t>(n));
  return all;
}

void SendAll(int fd, const std::string &text) {
  for (size_t at = 0; at < text.size();) {
    ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

// A listening local socket at path.
int ListenLocal(const char *path, int backlog) {
  unlink(path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0) << path;
  EXPECT_EQ(listen(fd, backlog), 0);
  return fd;
}

// Fills the one place in the queue of a listener made with backlog 0, so
// that the next connect waits until the peer accepts.
int FillQueue(const char *path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  return fd;
}

// What each case must leave as it found it.
HYX_ReturnStatus Notify(const char *text);

class Peers : public testing::Test {
 protected:
  // One message built first: the library's error-text cache sets up its
  // tables then, for good.
  static void SetUpTestSuite() {
    HyxSim_PinMonotonicClock(1000000000 * kMs);
    int listener = ListenLocal(hostPaths::kObservationSocket, 4);
    EXPECT_THAT(Notify("first"), IsOk());
    close(listener);
    unlink(hostPaths::kObservationSocket);
  }
  void SetUp() override {
    HyxSim_AdvanceMonotonicClock(300000 * kMs);  // the throttles are open
    descriptors_ = OpenDescriptors();
    memory_ = AllocFail_Outstanding();
  }
  void TearDown() override {
    EXPECT_EQ(OpenDescriptors(), descriptors_) << "a descriptor was left open";
    EXPECT_EQ(AllocFail_Outstanding(), memory_) << "memory was kept";
  }

 private:
  std::set<std::string> descriptors_;
  int64_t memory_ = 0;
};

// ---- observations ----------------------------------------------------------

HYX_ReturnStatus Notify(const char *text) {
  HyxuserHobContext context;
  memset(&context, 0, sizeof context);
  context.severity = 2;
  strcpy(context.component, "peer-test");
  strcpy(context.kb, "KB-7");
  return HyxuserHob_Notify(&context, "%s", text);
}

// Reads one connection's whole stream: the message, if it came.
std::string AcceptAndRead(int listener, const std::string &reply = "") {
  int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return "";
  if (!reply.empty()) SendAll(connection, reply);
  std::string stream = ReadAll(connection);
  close(connection);
  return stream;
}

bool Carries(const std::string &stream, const char *text) {
  return stream.compare(0, 8, std::string("HobMag1\0", 8)) == 0 && stream.find(text) != std::string::npos;
}

TEST_F(Peers, ObservationWithNoDaemon) {
  unlink(hostPaths::kObservationSocket);
  EXPECT_THAT(Notify("nobody"), IsStatus(HYX_NO_CONNECT));
  // A socket left behind by a daemon that has gone.
  close(ListenLocal(hostPaths::kObservationSocket, 4));
  EXPECT_THAT(Notify("nobody"), IsStatus(HYX_NO_CONNECT));
  unlink(hostPaths::kObservationSocket);
}

// The daemon goes away after the connection is made, before the message is
// written (the message's uptime read happens in between).
int closingListener = -1;

TEST_F(Peers, ObservationTheDaemonDroppedIsAWriteError) {
  closingListener = ListenLocal(hostPaths::kObservationSocket, 4);
  HyxSim_SetHandler(
      KERNEL_CALL_UPTIME,
      [](HyxSimCall *call, void *) {
        close(closingListener);  // the queued connection goes with it
        HyxSim_RunModel(call);
      },
      nullptr);
  errno = 0;
  EXPECT_THAT(Notify("dropped"), IsStatus(HYX_WRITE_ERROR));
  int expected = 0;
  HyxuserStatus_CodeToErrno(HYX_WRITE_ERROR, &expected);
  EXPECT_EQ(errno, expected);
  HyxSim_ClearHandlers();
  unlink(hostPaths::kObservationSocket);
}

TEST_F(Peers, ObservationToADaemonThatAnswersGarbage) {
  int listener = ListenLocal(hostPaths::kObservationSocket, 4);
  std::string stream;
  {
    PeerThread peer([&] { stream = AcceptAndRead(listener, std::string(3000, '\xff')); });
    EXPECT_THAT(Notify("through the noise"), IsOk());
  }
  EXPECT_TRUE(Carries(stream, "through the noise"));
  close(listener);
  unlink(hostPaths::kObservationSocket);
}

// A daemon slow to take connections, with and without signals interrupting
// the caller meanwhile: the observation arrives.
TEST_F(Peers, ObservationToASlowDaemonUnderSignals) {
  for (bool storm : {false, true}) {
    SCOPED_TRACE(storm ? "signals" : "no signals");
    int listener = ListenLocal(hostPaths::kObservationSocket, 0);
    int queued = FillQueue(hostPaths::kObservationSocket);
    std::string stream;
    uint64_t signals = SignalStorm::count;
    {
      PeerThread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        close(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));  // the one queued first
        stream = AcceptAndRead(listener);
      });
      if (storm) {
        SignalStorm signalStorm;
        EXPECT_THAT(Notify("patience"), IsOk());
      } else {
        EXPECT_THAT(Notify("patience"), IsOk());
      }
    }
    EXPECT_TRUE(Carries(stream, "patience"));
    if (storm) {
      EXPECT_GT(SignalStorm::count, signals) << "no signal came";
    }
    close(queued);
    close(listener);
    unlink(hostPaths::kObservationSocket);
  }
}

// A daemon that has stopped taking connections (its queue stays full) holds
// the caller for the connect timeout, not for ever (without it, this case
// would wait until the test run stopped it).
TEST_F(Peers, ObservationToAStuckDaemonGivesUp) {
  int listener = ListenLocal(hostPaths::kObservationSocket, 0);
  int queued = FillQueue(hostPaths::kObservationSocket);
  EXPECT_THAT(Notify("stuck"), IsStatus(HYX_NO_CONNECT));
  close(queued);
  close(listener);
  unlink(hostPaths::kObservationSocket);
}

// ---- SNMP traps --------------------------------------------------------------

std::vector<std::string> SpoolFiles() {
  std::vector<std::string> files;
  DIR *dir = opendir(hostPaths::kSnmpSpoolDir);
  while (struct dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.') files.push_back(entry->d_name);
  closedir(dir);
  return files;
}

void EmptySpool() {
  for (const std::string &name : SpoolFiles())
    unlink((std::string(hostPaths::kSnmpSpoolDir) + "/" + name).c_str());
}

HYX_ReturnStatus Trap() {
  HyxSim_AdvanceMonotonicClock(10000 * kMs);
  HyxuserSnmpVarBind binding = {"1.3.6.1.2.1.1.5.0", 1, "peer-test"};
  return HyxuserSnmp_SendTrap("1.3.6.1.4.1.1234.1.0.7", &binding, 1);
}

// The agent is told of every trap it finds, and finds every trap it was
// told of: a woken agent has exactly one finished file, a failed trap none.
void ExpectDeliveredOrNothing(HYX_ReturnStatus status, const std::string &woken) {
  std::vector<std::string> files = SpoolFiles();
  if (status == HYX_OK) {
    EXPECT_EQ(files.size(), 1u);
    if (!files.empty()) {
      EXPECT_NE(files[0].find(".trp"), std::string::npos) << files[0];
    }
  } else {
    EXPECT_TRUE(files.empty()) << files[0];
    EXPECT_EQ(woken, "");
  }
  EmptySpool();
}

TEST_F(Peers, TrapWithNoAgent) {
  EmptySpool();
  unlink(hostPaths::kSnmpControlSocket);
  EXPECT_THAT(Trap(), IsStatus(HYX_NOT_READY));
  ExpectDeliveredOrNothing(HYX_NOT_READY, "");
  close(ListenLocal(hostPaths::kSnmpControlSocket, 4));  // an agent that has gone
  EXPECT_THAT(Trap(), IsStatus(HYX_NOT_READY));
  ExpectDeliveredOrNothing(HYX_NOT_READY, "");
  unlink(hostPaths::kSnmpControlSocket);
}

TEST_F(Peers, TrapToAnAgentThatClosesAtOnceOrAnswersGarbage) {
  EmptySpool();
  for (const char *reply : {"", "\x01garbage\n"}) {
    SCOPED_TRACE(*reply ? "garbage" : "closes");
    int listener = ListenLocal(hostPaths::kSnmpControlSocket, 4);
    std::string woken;
    HYX_ReturnStatus status;
    {
      PeerThread peer([&] {
        int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (*reply != '\0') {
          SendAll(connection, reply);
          woken = ReadAll(connection);
        }
        close(connection);
      });
      status = Trap();
    }
    EXPECT_TRUE(status == HYX_OK || status == HYX_FAILURE) << StatusText(status);
    if (*reply != '\0') {
      EXPECT_THAT(status, IsOk());
      EXPECT_EQ(woken, "N");
    }
    ExpectDeliveredOrNothing(status, status == HYX_OK ? "N" : "");
    close(listener);
    unlink(hostPaths::kSnmpControlSocket);
  }
}

TEST_F(Peers, TrapToASlowAgentUnderSignals) {
  EmptySpool();
  int listener = ListenLocal(hostPaths::kSnmpControlSocket, 0);
  int queued = FillQueue(hostPaths::kSnmpControlSocket);
  std::string woken;
  HYX_ReturnStatus status;
  {
    PeerThread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      close(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      woken = ReadAll(connection);
      close(connection);
    });
    SignalStorm storm;
    status = Trap();
  }
  EXPECT_THAT(status, IsOk());
  EXPECT_EQ(woken, "N");
  ExpectDeliveredOrNothing(status, woken);
  close(queued);
  close(listener);
  unlink(hostPaths::kSnmpControlSocket);
}

TEST_F(Peers, TrapToAStuckAgentGivesUp) {
  EmptySpool();
  int listener = ListenLocal(hostPaths::kSnmpControlSocket, 0);
  int queued = FillQueue(hostPaths::kSnmpControlSocket);
  EXPECT_THAT(Trap(), IsStatus(HYX_NOT_READY));
  ExpectDeliveredOrNothing(HYX_NOT_READY, "");
  close(queued);
  close(listener);
  unlink(hostPaths::kSnmpControlSocket);
}

// ---- events ------------------------------------------------------------------

constexpr char kPasswordFile[] = "/tmp/peer-test-password";

enum class Mgmtd { kAnswers, kClosesAtOnce, kGarbage, kHeaderOnly, kInPieces };

std::string Envelope(const std::string &body) {
  return "<?xml version=\"1.0\"?><soapenv:Envelope "
         "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<soapenv:Body>" +
         body + "</soapenv:Body></soapenv:Envelope>";
}

// The answer to one request, by its method.
std::string Answer(const std::string &request) {
  std::string body, cookie;
  if (request.find("<AcquireLocalTicket") != std::string::npos) {
    body = Envelope(
        std::string("<AcquireLocalTicketResponse xmlns=\"urn:lum25\"><returnval><userName>root</userName>"
                    "<passwordFilePath>") +
        kPasswordFile + "</passwordFilePath></returnval></AcquireLocalTicketResponse>");
  } else if (request.find("<Login") != std::string::npos) {
    body = Envelope(
        "<LoginResponse xmlns=\"urn:lum25\"><returnval><loginTime>2026-01-01T00:00:00Z</loginTime>"
        "</returnval></LoginResponse>");
    cookie = "Set-Cookie: session=\"peer-test\"; Path=/\r\n";
  } else if (request.find("<PostEvent") != std::string::npos) {
    body = Envelope("<PostEventResponse xmlns=\"urn:lum25\"></PostEventResponse>");
  } else {
    body = Envelope("<LogoutResponse xmlns=\"urn:lum25\"></LogoutResponse>");
  }
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n" + cookie +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One HTTP request off connection: its header block and body, or "" when
// the client closed.
std::string ReadRequest(int connection) {
  std::string request;
  char chunk[2048];
  size_t end;
  while ((end = request.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = read(connection, chunk, sizeof chunk);
    if (n <= 0) return "";
    request.append(chunk, static_cast<size_t>(n));
  }
  size_t at = request.find("Content-Length: ");
  size_t length = at == std::string::npos ? 0 : std::stoul(request.substr(at + 16));
  while (request.size() < end + 4 + length) {
    ssize_t n = read(connection, chunk, sizeof chunk);
    if (n <= 0) return "";
    request.append(chunk, static_cast<size_t>(n));
  }
  return request;
}

// A management daemon of the test's own on the host's loopback port, for
// one connection; records the methods it was asked for.
class MgmtdPeer {
 public:
  MgmtdPeer(Mgmtd mode, int backlog = 4) : mode_(mode) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(hostPaths::kMgmtdPort);
    inet_pton(AF_INET, hostPaths::kMgmtdAddress, &address.sin_addr);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0) << strerror(errno);
    EXPECT_EQ(listen(listener_, backlog), 0);
  }
  ~MgmtdPeer() { close(listener_); }

  // Serves the connection the client makes, in a thread of its own; delay
  // holds off its accept.
  void Start(int delayMs = 0) {
    peer_ = std::make_unique<PeerThread>([this, delayMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) return;
      if (queued_ >= 0) {  // the queue filler came first
        close(connection);
        connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      }
      Serve(connection);
      close(connection);
    });
  }
  void Join() { peer_.reset(); }
  // Takes the one place in a backlog-0 queue.
  void FillQueue() {
    queued_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(hostPaths::kMgmtdPort);
    inet_pton(AF_INET, hostPaths::kMgmtdAddress, &address.sin_addr);
    EXPECT_EQ(connect(queued_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  }
  void CloseQueued() {
    if (queued_ >= 0) close(queued_);
  }
  std::vector<std::string> methods;

 private:
  void Serve(int connection) {
    if (mode_ == Mgmtd::kClosesAtOnce) return;
    for (;;) {
      std::string request = ReadRequest(connection);
      if (request.empty()) return;
      methods.push_back("?");
      for (const char *method : {"AcquireLocalTicket", "Login", "PostEvent", "Logout"})
        if (request.find(std::string("<") + method + " ") != std::string::npos) methods.back() = method;
      std::string answer = Answer(request);
      switch (mode_) {
        case Mgmtd::kGarbage:
          SendAll(connection, "\x16\x03\x01 not HTTP at all\r\n\r\n");
          return;
        case Mgmtd::kHeaderOnly:  // promises a body, then goes
          SendAll(connection, answer.substr(0, answer.find("\r\n\r\n") + 4));
          return;
        case Mgmtd::kInPieces:
          for (size_t at = 0; at < answer.size(); at += 7) {
            SendAll(connection, answer.substr(at, 7));
            std::this_thread::sleep_for(std::chrono::microseconds(300));
          }
          break;
        default:
          SendAll(connection, answer);
      }
      // Closing after the event lets the next case find the kept session
      // dead and log in afresh.
      if (methods.back() == "PostEvent") return;
    }
  }
  Mgmtd mode_;
  int listener_ = -1, queued_ = -1;
  std::unique_ptr<PeerThread> peer_;
};

class EventPeers : public Peers {
 protected:
  void SetUp() override {
    std::ofstream(kPasswordFile, std::ios::trunc) << "peer-test-password";
    Peers::SetUp();
  }
  // Every case logs in afresh: the session of the one before is too old.
  HYX_ReturnStatus Send() {
    HyxSim_AdvanceMonotonicClock(961000 * kMs);
    const HyxuserLumEventArg args[] = {{"disk", "sda"}};
    return HyxuserLumEvent_Send("hyx.test.PeerFault", 2, args, 1);
  }
  // The session a delivered event leaves is let go by the next case.
  void TearDown() override {
    HyxSim_AdvanceMonotonicClock(961000 * kMs);
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    {
      MgmtdPeer absent(Mgmtd::kClosesAtOnce);  // the logout's connection is gone: the session is dropped
      absent.Start();
      HyxuserLumEvent_Send("hyx.test.PeerFault", 0, nullptr, 0);
      absent.Join();
    }
    Peers::TearDown();
  }
};

TEST_F(EventPeers, EventWithNoDaemon) { EXPECT_THAT(Send(), IsStatus(HYX_FAILURE)); }

TEST_F(EventPeers, EventToADaemonThatFails) {
  const struct {
    Mgmtd mode;
    const char *what;
  } cases[] = {
      {Mgmtd::kClosesAtOnce, "closes at once"},
      {Mgmtd::kGarbage, "answers garbage"},
      {Mgmtd::kHeaderOnly, "closes after the header"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    MgmtdPeer peer(c.mode);
    peer.Start();
    EXPECT_THAT(Send(), IsStatus(HYX_FAILURE));
    peer.Join();
    EXPECT_EQ(peer.methods.size(), c.mode == Mgmtd::kClosesAtOnce ? 0u : 1u);
  }
}

// Answers that come in pieces, with and without signals interrupting the
// caller's reads and writes: the event is posted.
TEST_F(EventPeers, EventToADaemonAnsweringInPiecesUnderSignals) {
  for (bool storm : {false, true}) {
    SCOPED_TRACE(storm ? "signals" : "no signals");
    HyxSim_AdvanceMonotonicClock(300000 * kMs);
    MgmtdPeer peer(Mgmtd::kInPieces);
    peer.Start();
    HYX_ReturnStatus status;
    if (storm) {
      SignalStorm signalStorm;
      status = Send();
    } else {
      status = Send();
    }
    EXPECT_THAT(status, IsOk());
    peer.Join();
    EXPECT_EQ(peer.methods, (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
  }
}

// A daemon whose queue is full: the connect waits (for the retried
// handshake, about a second on the loopback) with signals arriving all the
// while, and the event is posted.
TEST_F(EventPeers, EventWhoseConnectSignalsInterrupt) {
  MgmtdPeer peer(Mgmtd::kAnswers, 0);
  peer.FillQueue();
  peer.Start(30);
  HYX_ReturnStatus status;
  uint64_t signals = SignalStorm::count;
  {
    SignalStorm storm;
    status = Send();
  }
  EXPECT_THAT(status, IsOk());
  EXPECT_GT(SignalStorm::count, signals);
  peer.Join();
  peer.CloseQueued();
  EXPECT_EQ(peer.methods, (std::vector<std::string>{"AcquireLocalTicket", "Login", "PostEvent"}));
}

}  // namespace
