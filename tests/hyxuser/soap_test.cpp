// The SOAP client underneath event posting: the HTTP response reader and the
// request writer over real socket pairs, the response path search over
// documents parsed by the real libxml2, and the password-file reader.
#include "hyxuser/soap.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "hyxsim/hyxsim.h"
#include "hyxuser/lumEvent.h"
#include "status_matchers.h"

namespace {

using namespace soap;

struct Pair {
  int fd[2] = {-1, -1};
  Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd); }
  ~Pair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  void Peer(const std::string &text, bool close = true) {
    ASSERT_EQ(write(fd[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    if (close) shutdown(fd[1], SHUT_WR);
  }
};

std::string Ok(const std::string &headers, const std::string &body) {
  return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

struct ReadResult {
  HYX_ReturnStatus status;
  std::string cookie, body;
};

ReadResult Read(const std::string &response, size_t cookieSize = 128, bool withCookie = true) {
  Pair p;
  p.Peer(response);
  char cookie[256] = {}, body[kResponseBufferSize] = {};
  size_t length = 0;
  HYX_ReturnStatus status =
      Http_ReadResponse(p.fd[0], withCookie ? cookie : nullptr, cookieSize, body, &length);
  return {status, cookie, std::string(body, status == HYX_OK ? length : strlen(body))};
}

xmlNodePtr Parse(const char *text) { return Soap_ParseResponse(text, strlen(text)); }

TEST(HttpResponse, BodyAndHeaderBlockLimits) {
  std::string fill(1023, 'b');
  ReadResult r = Read(Ok("", fill), 0, false);
  EXPECT_THAT(r.status, IsOk());
  EXPECT_EQ(r.body, fill);
  EXPECT_THAT(Read(Ok("", fill + "b"), 0, false).status, IsStatus(HYX_FAILURE));

  // A header block (blank line included) of exactly 1023 bytes fits; 1024 does not.
  std::string base = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: \r\n\r\n";
  std::string fits =
      "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: " + std::string(1023 - base.size(), 'x') + "\r\n\r\n";
  ASSERT_EQ(fits.size(), 1023u);
  EXPECT_THAT(Read(fits, 0, false).status, IsOk());
  std::string over =
      "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: " + std::string(1024 - base.size(), 'x') + "\r\n\r\n";
  EXPECT_THAT(Read(over, 0, false).status, IsStatus(HYX_FAILURE));
}

TEST(HttpResponse, Cookies) {
  std::string value(200, 'c');
  ReadResult r = Read(Ok("Set-Cookie: " + value + "\r\n", "x"));
  EXPECT_THAT(r.status, IsOk());
  EXPECT_EQ(r.cookie, std::string(127, 'c'));
  EXPECT_THAT(Read(Ok("Set-Cookie: " + value + "\r\n", "x"), 127).status, IsStatus(HYX_FAILURE));

  r = Read(Ok("Set-Cookie: first=1\r\nContent-Type: text/xml\r\nSet-Cookie: second=2; Path=/\r\n", "x"));
  EXPECT_THAT(r.status, IsOk());
  EXPECT_EQ(r.cookie, "second=2; Path=/");

  r = Read(Ok("Set-Cookie: s=1[ignored]\r\n", "x"));
  EXPECT_EQ(r.cookie, "s=1");
  EXPECT_THAT(Read(Ok("", "x")).status, IsStatus(HYX_FAILURE)) << "a cookie was asked for";
  EXPECT_THAT(Read(Ok("", "x"), 0, false).status, IsOk());
  EXPECT_THAT(Read(Ok("set-cookie: lower=1\r\n", "x")).status, IsStatus(HYX_FAILURE));
}

TEST(HttpResponse, MalformedOrCutShort) {
  const char *const cases[] = {
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",         // closed before the blank line
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nabc",  // closed inside the body
      "HTTP/1.1 200 OK\r\n\r\nabc",                       // no length
      "HTTP/1.1 200 OK\r\ncontent-length: 3\r\n\r\nabc",  // wrong case
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabc",  // more than the length already read
      "SMTP 220 ready\r\nContent-Length: 3\r\n\r\nabc",   // not HTTP
      "",                                                 // closed at once
  };
  for (const char *text : cases) EXPECT_THAT(Read(text, 0, false).status, IsStatus(HYX_FAILURE)) << text;
}

TEST(HttpResponse, ResponsesArrivingInPiecesAndA500) {
  Pair p;
  std::string body = "<e/>";
  std::string text = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\n" + body;
  std::thread writer([&] {
    for (char c : text) {
      (void)!write(p.fd[1], &c, 1);
      usleep(200);
    }
  });
  char out[kResponseBufferSize];
  EXPECT_THAT(Http_ReadResponse(p.fd[0], nullptr, 0, out), IsOk()) << "the status code is not judged here";
  writer.join();
  EXPECT_STREQ(out, "<e/>");
}

// A peer that answers a byte at a time and never finishes holds the caller
// no longer than one exchange may take, however short the wait for each
// byte.  The simulator's clock control stands in for the waiting: the clock
// moves on a sixth of the bound with every byte the reader has taken, so
// the seventh byte is past it.
TEST(HttpPost, ATricklingPeerCannotHoldTheExchangePastItsDeadline) {
  HyxSim_PinMonotonicClock(1000000000000);
  Pair p;
  std::atomic<bool> done{false};
  std::atomic<int> trickled{0};
  std::thread peer([&] {
    char request[4096];
    (void)!read(p.fd[1], request, sizeof request);
    const std::string answer = "HTTP/1.1 200 OK\r\nX-Slow: " + std::string(2000, 'z');
    for (char c : answer) {
      if (done || write(p.fd[1], &c, 1) != 1) break;
      ++trickled;
      // Until the reader has taken the byte.
      for (int queued = 1; queued > 0 && !done;) {
        if (ioctl(p.fd[1], SIOCOUTQ, &queued) != 0) queued = 0;
        if (queued > 0) std::this_thread::yield();
      }
      HyxSim_AdvanceMonotonicClock(kExchangeTimeoutMs / 6 * 1000000);
    }
  });
  char out[kResponseBufferSize];
  EXPECT_THAT(Http_PostSoap(p.fd[0], nullptr, "<x/>", nullptr, 0, out), IsStatus(HYX_FAILURE));
  done = true;
  peer.join();
  HyxSim_UnpinMonotonicClock();
  EXPECT_LE(trickled.load(), 8) << "the exchange outlived its deadline";
}

TEST(HttpResponse, TheBodyIsItsContentLengthNulsIncluded) {
  const std::string body("<a/>\0<b/>", 9);
  ReadResult r = Read(Ok("", body), 0, false);
  EXPECT_THAT(r.status, IsOk());
  EXPECT_EQ(r.body, body);
}

TEST(HttpPost, RequestFramingAndPartialWrites) {
  Pair p;
  int small = 4096;
  setsockopt(p.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::string body(300000, 'q');
  std::string received;
  std::thread peer([&] {
    char buffer[8192];
    std::string expectedHead =
        "POST /sdk HTTP/1.1\r\nSOAPAction: \"urn:internallum25/uABE7C9B3\"\r\n"
        "Cookie: k=\"v\"\r\nContent-Length: 300000\r\n\r\n";
    while (received.size() < expectedHead.size() + body.size()) {
      ssize_t n = read(p.fd[1], buffer, sizeof buffer);
      if (n <= 0) break;
      received.append(buffer, static_cast<size_t>(n));
    }
    p.Peer(Ok("", "<r/>"), false);
  });
  char out[kResponseBufferSize];
  EXPECT_THAT(Http_PostSoap(p.fd[0], "k=\"v\"", body.c_str(), nullptr, 0, out), IsOk());
  peer.join();
  EXPECT_EQ(received,
            "POST /sdk HTTP/1.1\r\nSOAPAction: \"urn:internallum25/uABE7C9B3\"\r\n"
            "Cookie: k=\"v\"\r\nContent-Length: 300000\r\n\r\n" +
                body);
  EXPECT_STREQ(out, "<r/>");
}

TEST(HttpPost, APeerThatHasGoneAwayIsAFailureNotASignal) {
  Pair p;
  close(p.fd[1]);
  p.fd[1] = -1;
  char out[kResponseBufferSize];
  EXPECT_THAT(Http_PostSoap(p.fd[0], nullptr, "<x/>", nullptr, 0, out), IsStatus(HYX_FAILURE));
}

class SoapXml : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(Soap_Load()); }
};

TEST_F(SoapXml, PathsMatchLocalNamesUnderAnyPrefix) {
  const char *const path[] = {"Envelope", "Body", "LoginResponse", "returnval", "loginTime", nullptr};
  for (const char *doc : {
           "<soapenv:Envelope "
           "xmlns:soapenv='u'><soapenv:Body><LoginResponse><returnval><loginTime>t1</loginTime>"
           "</returnval></LoginResponse></soapenv:Body></soapenv:Envelope>",
           "<S:Envelope xmlns:S='other'><S:Body><x:LoginResponse xmlns:x='y'>\n <returnval><!-- c "
           "--><loginTime>t1"
           "</loginTime></returnval></x:LoginResponse></S:Body></S:Envelope>",
           "<Envelope><Body><LoginResponse><returnval><loginTime>t1</loginTime></returnval></LoginResponse></"
           "Body>"
           "</Envelope>",
       }) {
    xmlNodePtr holder = Parse(doc);
    ASSERT_NE(holder, nullptr) << doc;
    EXPECT_STREQ(Soap_GetText(holder, path), "t1") << doc;
    Soap_FreeResponse(holder);
  }
}

TEST_F(SoapXml, FaultsAndNearMissesFailThePath) {
  const char *const post[] = {"Envelope", "Body", "PostEventResponse", nullptr};
  const char *fault =
      "<soapenv:Envelope "
      "xmlns:soapenv='http://schemas.xmlsoap.org/soap/envelope/'><soapenv:Body><soapenv:Fault>"
      "<faultcode>ServerFaultCode</faultcode></soapenv:Fault></soapenv:Body></soapenv:Envelope>";
  xmlNodePtr holder = Parse(fault);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(Soap_FindPath(holder, post), nullptr);
  const char *const empty[] = {nullptr};
  EXPECT_EQ(Soap_FindPath(holder, empty), holder);
  Soap_FreeResponse(holder);

  // No backtracking: the first Body is taken even though the second holds the answer.
  holder = Parse("<Envelope><Body/><Body><PostEventResponse/></Body></Envelope>");
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(Soap_FindPath(holder, post), nullptr);
  Soap_FreeResponse(holder);

  EXPECT_EQ(Parse("not xml <"), nullptr);
  // The whole body is parsed, NULs and all: a document in UTF-16.
  const char ascii[] =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><Envelope><Body><PostEventResponse/></Body></Envelope>";
  std::string wide = "\xff\xfe";
  for (char c : std::string(ascii)) wide += std::string{c, '\0'};
  holder = Soap_ParseResponse(wide.data(), wide.size());
  ASSERT_NE(holder, nullptr);
  EXPECT_NE(Soap_FindPath(holder, post), nullptr);
  Soap_FreeResponse(holder);
  EXPECT_EQ(Parse(""), nullptr);
}

TEST_F(SoapXml, RequestsEscapeTextAndAttributes) {
  SoapRequest *request = Soap_NewRequest("Login", "Session<&>", "id\"&");
  ASSERT_NE(request, nullptr);
  ASSERT_THAT(Soap_AddElement(request->writer, "password", kParameterAttrs, "a<b>&c"), IsOk());
  ASSERT_THAT(Soap_EndRequest(request), IsOk());
  std::string text = Soap_RequestText(request);
  Soap_FreeRequest(request);
  EXPECT_THAT(text, testing::StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
  EXPECT_THAT(text, testing::HasSubstr("type=\"Session&lt;&amp;&gt;\">id&quot;&amp;</_this>"));
  EXPECT_THAT(text, testing::HasSubstr(">a&lt;b&gt;&amp;c</password>"));
  EXPECT_THAT(text, testing::HasSubstr("</Login></soapenv:Body></soapenv:Envelope>"));
}

class PasswordFile : public testing::Test {
 protected:
  std::string dir = "/tmp/password-files";
  void SetUp() override { mkdir(dir.c_str(), 0700); }
  std::string File(const std::string &name, const std::string &content) {
    std::string path = dir + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return path;
  }
  size_t ReadPassword(const std::string &path, std::string *out = nullptr) {
    char password[64];
    size_t n = lumEvent::LumSession_ReadPassword(path.c_str(), password, sizeof password);
    if (out != nullptr && n > 0) *out = std::string(password, n);
    return n;
  }
};

TEST_F(PasswordFile, LengthsFromOneTo63BytesAreRead) {
  std::string got;
  EXPECT_EQ(ReadPassword(File("one", "x"), &got), 1u);
  EXPECT_EQ(got, "x");
  std::string sixtyThree(62, 'p');
  EXPECT_EQ(ReadPassword(File("63", sixtyThree + "\n"), &got), 63u);
  EXPECT_EQ(got, sixtyThree + "\n") << "the line feed belongs to the password";
  EXPECT_EQ(ReadPassword(File("64", std::string(64, 'p'))), 0u);
  EXPECT_EQ(ReadPassword(File("empty", "")), 0u);
  EXPECT_EQ(ReadPassword(dir + "/missing"), 0u);
}

TEST_F(PasswordFile, OnlyRegularFilesAreOpened) {
  // A FIFO without a writer would block an open for reading for good.
  std::string fifo = dir + "/fifo";
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadPassword(fifo), 0u);
  EXPECT_EQ(ReadPassword("/dev/zero"), 0u);
  EXPECT_EQ(ReadPassword(dir), 0u);
  std::string link = dir + "/link";
  unlink(link.c_str());
  ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
  EXPECT_EQ(ReadPassword(link), 0u);
}

// Whoever answers on the daemon's port names the file: a link as its last
// component is not followed, and the kernel's own file systems are refused,
// even where the file is regular, short and readable.
TEST_F(PasswordFile, NoLinkAndNoKernelFileSystem) {
  std::string target = File("target", "secret\n"), link = dir + "/to-target";
  unlink(link.c_str());
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(ReadPassword(target), 7u);
  EXPECT_EQ(ReadPassword(link), 0u);
  for (const char *kernelFile : {"/proc/self/comm", "/proc/sys/kernel/ostype", "/sys/kernel/profiling"}) {
    struct stat st;
    if (stat(kernelFile, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    EXPECT_EQ(ReadPassword(kernelFile), 0u) << kernelFile;
  }
}

}  // namespace
