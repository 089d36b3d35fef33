// The sandbox's management daemon: HTTP/1.1 with SOAP 1.1 bodies on the
// host's loopback port.  AcquireLocalTicket writes a one-time password file,
// Login checks it and sets a session cookie, PostEvent records the event,
// Logout ends the session.  Requests are parsed here with pugixml and an
// HTTP reader of this daemon's own; each request is recorded
// (hyxsim/daemons.h).  A test picks a fault for a method by writing lines
// "METHOD MODE [ARG]" into HYXSIM_MGMTD_FAULTS (read at every request).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <cctype>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/hostPaths.h"
#include "daemon.h"
#include "hyxsim/daemons.h"

namespace {

constexpr char kName[] = "hyxsim-mgmtd";
constexpr char kSoapEnv[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kXsi[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kXsd[] = "http://www.w3.org/2001/XMLSchema";
constexpr size_t kMaxRequest = 1 << 20;
using Json = nlohmann::json;

std::mt19937_64 randomBits{std::random_device{}()};
std::map<std::string, std::string> sessions;  // cookie -> user
int ticketCount = 0;

struct Connection {
  int fd;
  int number;
  std::string in;
};

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex(size_t bytes) {
  std::string s;
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes; ++i) {
    auto b = randomBits();
    s += digits[b & 15];
    s += digits[(b >> 4) & 15];
  }
  return s;
}

// The fault chosen for method: {mode, argument}, or empty.
std::pair<std::string, std::string> FaultFor(const std::string &method) {
  std::ifstream file(HYXSIM_MGMTD_FAULTS);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string who, mode, arg;
    words >> who >> mode;
    std::getline(words >> std::ws, arg);
    if (who == method || who == "*") return {mode, arg};
  }
  return {};
}

// The namespace URI an element's or attribute's prefix stands for.
std::string NamespaceOf(pugi::xml_node node, const std::string &qname) {
  size_t colon = qname.find(':');
  std::string attr = colon == std::string::npos ? "xmlns" : "xmlns:" + qname.substr(0, colon);
  for (pugi::xml_node at = node; at; at = at.parent())
    if (pugi::xml_attribute a = at.attribute(attr.c_str())) return a.value();
  return "";
}

std::string Local(const std::string &qname) {
  size_t colon = qname.find(':');
  return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

Json Attributes(pugi::xml_node node) {
  Json attrs = Json::object();
  for (pugi::xml_attribute a : node.attributes()) attrs[a.name()] = a.value();
  return attrs;
}

// The attributes' names in the order the request wrote them (a JSON object
// keeps no order).
Json AttributeOrder(pugi::xml_node node) {
  Json names = Json::array();
  for (pugi::xml_attribute a : node.attributes()) names.push_back(a.name());
  return names;
}

// An element as {name, ns, attributes, text} with its element children.
Json Element(pugi::xml_node node) {
  Json e = {{"name", node.name()},
            {"ns", NamespaceOf(node, node.name())},
            {"attributes", Attributes(node)},
            {"attributeOrder", AttributeOrder(node)}};
  Json children = Json::array();
  std::string text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element)
      children.push_back(Element(child));
    else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  }
  e["text"] = text;
  if (!children.empty()) e["children"] = children;
  std::string type = node.attribute("xsi:type").value();
  if (!type.empty()) {
    e["typeNs"] = NamespaceOf(node, "xsi:type");
    e["typeValueNs"] = NamespaceOf(node, type);
  }
  return e;
}

// The first element child of node with this local name.
pugi::xml_node Child(pugi::xml_node node, const char *name) {
  for (pugi::xml_node child : node.children())
    if (child.type() == pugi::node_element && Local(child.name()) == name) return child;
  return {};
}

// A posted event by its fields: its type id, severity, creation time, user,
// key and chain, and its arguments as key and value, in the order sent.
Json Event(pugi::xml_node call) {
  pugi::xml_node event = Child(call, "eventToPost");
  Json fields = Json::object();
  for (const char *name : {"key", "chainId", "createdTime", "userName", "eventTypeId", "severity"})
    if (pugi::xml_node field = Child(event, name)) fields[name] = field.text().get();
  Json arguments = Json::array();
  for (pugi::xml_node argument : event.children())
    if (argument.type() == pugi::node_element && Local(argument.name()) == "arguments")
      arguments.push_back(
          {{"key", Child(argument, "key").text().get()}, {"value", Child(argument, "value").text().get()}});
  fields["arguments"] = arguments;
  return fields;
}

std::string Envelope(const std::string &inner) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
         "<soapenv:Body>" +
         inner + "</soapenv:Body></soapenv:Envelope>";
}

std::string Fault(const std::string &why) {
  return Envelope("<soapenv:Fault><faultcode>ServerFaultCode</faultcode><faultstring>" + why +
                  "</faultstring></soapenv:Fault>");
}

// An answer re-encoded as UTF-16 (little-endian, with its byte order mark
// and its declaration saying so): every other byte is a NUL.  The answers
// are ASCII.
std::string Utf16(std::string body) {
  size_t at = body.find("encoding=\"UTF-8\"");
  if (at != std::string::npos) body.replace(at, 16, "encoding=\"UTF-16\"");
  std::string wide = "\xff\xfe";
  for (char c : body) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

struct Reply {
  int code = 200;
  std::string body;
  std::vector<std::string> headers;
};

std::string ChildText(pugi::xml_node method, const char *name) { return method.child(name).text().get(); }

Reply Handle(const std::string &method, pugi::xml_node call, const std::string &cookie, Json &record,
             const std::string &faultArg) {
  Reply reply;
  auto fault = [&](const std::string &why) {
    reply.code = 500;
    reply.body = Fault(why);
    record["fault"] = why;
    return reply;
  };
  if (method == "AcquireLocalTicket") {
    std::string user = "hyx-ticket-" + std::to_string(++ticketCount);
    std::string path = std::string(HYXSIM_MGMTD_TICKET_DIR) + "/" + user;
    mkdir(HYXSIM_MGMTD_TICKET_DIR, 0700);
    std::string password = Hex(16) + "\n";
    {
      std::ofstream file(path, std::ios::trunc);
      file << password;
    }
    if (!faultArg.empty()) path = faultArg;  // "ticket-path PATH"
    record["ticketUser"] = user;
    record["passwordFilePath"] = path;
    reply.body = Envelope("<AcquireLocalTicketResponse xmlns=\"urn:internallum25\"><returnval><userName>" +
                          user + "</userName><passwordFilePath>" + path +
                          "</passwordFilePath></returnval></AcquireLocalTicketResponse>");
    return reply;
  }
  if (method == "Login") {
    std::string user = ChildText(call, "userName"), password = ChildText(call, "password");
    std::string path = std::string(HYXSIM_MGMTD_TICKET_DIR) + "/" + user;
    std::ifstream file(path);
    std::stringstream expected;
    expected << file.rdbuf();
    if (user.empty() || !file || expected.str() != password) return fault("InvalidLogin");
    unlink(path.c_str());  // one time only
    std::string session = Hex(20);
    sessions[session] = user;
    record["session"] = session;
    reply.headers.push_back("Set-Cookie: hyxsim_session=\"" + session + "\"; Path=/; HttpOnly");
    reply.body = Envelope("<LoginResponse xmlns=\"urn:internallum25\"><returnval><key>" + session +
                          "</key><userName>" + user +
                          "</userName><loginTime>2026-01-01T00:00:00Z</loginTime>"
                          "</returnval></LoginResponse>");
    return reply;
  }
  // The session named by the request's cookie: "hyxsim_session=\"...\"" and
  // whatever attributes followed it.
  std::string session;
  size_t at = cookie.find("hyxsim_session=\"");
  if (at != std::string::npos) {
    size_t from = at + 16, to = cookie.find('"', from);
    if (to != std::string::npos) session = cookie.substr(from, to - from);
  }
  if (sessions.count(session) == 0) return fault("NotAuthenticated");
  record["session"] = session;
  if (method == "Logout") {
    sessions.erase(session);
    reply.body = Envelope("<LogoutResponse xmlns=\"urn:internallum25\"></LogoutResponse>");
    return reply;
  }
  if (method == "PostEvent") {
    reply.body = Envelope("<PostEventResponse xmlns=\"urn:internallum25\"></PostEventResponse>");
    return reply;
  }
  return fault("MethodNotFound");
}

std::string Response(const Reply &reply, const std::string &mode) {
  std::string text = "HTTP/1.1 " + std::to_string(reply.code) +
                     (reply.code == 200 ? " OK" : " Internal Server Error") +
                     "\r\nContent-Type: text/xml; charset=utf-8\r\n";
  if (mode == "oversized-headers") text += "X-Padding: " + std::string(1100, 'p') + "\r\n";
  for (const std::string &h : reply.headers)
    if (mode != "no-cookie" || h.rfind("Set-Cookie:", 0) != 0) text += h + "\r\n";
  text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body;
  return text;
}

void SendAll(int fd, const std::string &text) {
  for (size_t at = 0; at < text.size();) {
    ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      struct pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, 1000);
      continue;
    }
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

// Serves every whole request in the connection's buffer; false when the
// connection is to be closed.
bool Serve(Connection &c, daemon_kit::Records &records) {
  for (;;) {
    size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) return c.in.size() < kMaxRequest;
    std::istringstream head(c.in.substr(0, end));
    std::string requestLine, line;
    std::getline(head, requestLine);
    if (!requestLine.empty() && requestLine.back() == '\r') requestLine.pop_back();
    Json headers = Json::object();
    std::string cookie;
    long long length = -1;
    while (std::getline(head, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon), value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      headers[name] = value;
      if (Lower(name) == "content-length") length = std::atoll(value.c_str());
      if (Lower(name) == "cookie") cookie = value;
    }
    Json record = {{"connection", c.number}, {"requestLine", requestLine}, {"headers", headers}};
    if (length < 0) {
      record["error"] = "no Content-Length";
      records.Add(record);
      return false;
    }
    if (c.in.size() < end + 4 + static_cast<size_t>(length)) return true;
    std::string body = c.in.substr(end + 4, static_cast<size_t>(length));
    c.in.erase(0, end + 4 + static_cast<size_t>(length));
    record["body"] = body;

    pugi::xml_document doc;
    pugi::xml_parse_result parsed =
        doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_declaration);
    pugi::xml_node envelope = doc.document_element();
    pugi::xml_node bodyElement, call;
    if (parsed && Local(envelope.name()) == "Envelope" &&
        NamespaceOf(envelope, envelope.name()) == kSoapEnv) {
      for (pugi::xml_node n : envelope.children())
        if (n.type() == pugi::node_element && Local(n.name()) == "Body" &&
            NamespaceOf(n, n.name()) == kSoapEnv)
          bodyElement = n;
      if (bodyElement) call = bodyElement.first_child();
    }
    if (!call || call.type() != pugi::node_element) {
      record["error"] = parsed ? "no SOAP envelope with a body and a call" : parsed.description();
      records.Add(record);
      std::string r = Response(Reply{500, Fault("InvalidRequest"), {}}, "");
      SendAll(c.fd, r);
      continue;
    }
    pugi::xml_node decl = doc.first_child();
    if (decl.type() == pugi::node_declaration) record["declaration"] = Attributes(decl);
    record["envelope"] = Attributes(envelope);
    record["envelopeAttributeOrder"] = AttributeOrder(envelope);
    std::string method = call.name();
    record["method"] = method;
    record["call"] = Element(call);
    if (Local(method) == "PostEvent") record["event"] = Event(call);
    record["xsiNs"] = NamespaceOf(call, "xsi:x");
    record["xsdNs"] = NamespaceOf(call, "xsd:x");
    auto [mode, arg] = FaultFor(method);
    if (!mode.empty()) record["faultMode"] = mode;
    Reply reply = Handle(method, call, cookie, record, mode == "ticket-path" ? arg : "");
    if (mode == "fault500") {
      reply.code = 500;
      reply.body = Fault("InjectedFault");
      reply.headers.clear();
    }
    if (mode == "utf16") reply.body = Utf16(reply.body);
    records.Add(record);
    std::string text = Response(reply, mode);
    if (mode == "slow") sleep(static_cast<unsigned>(arg.empty() ? 2 : std::atoi(arg.c_str())));
    if (mode == "silent") return true;  // never answers; the connection stays open
    if (mode == "close-mid-response") {
      SendAll(c.fd, text.substr(0, text.size() / 2));
      return false;
    }
    SendAll(c.fd, text);
    if (mode == "close-after") return false;
  }
}

}  // namespace

int main(int argc, char **argv) {
  daemon_kit::InstallStopHandler();
  daemon_kit::Records records(kName, HYXSIM_MGMTD_RECORDS);
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener < 0) daemon_kit::Die(kName, "socket");
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(hostPaths::kMgmtdPort);
  inet_pton(AF_INET, hostPaths::kMgmtdAddress, &address.sin_addr);
  if (bind(listener, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0)
    daemon_kit::Die(kName, "bind");
  if (listen(listener, 128) != 0) daemon_kit::Die(kName, "listen");
  daemon_kit::SignalReady(argc, argv);

  std::vector<Connection> connections;
  int accepted = 0;
  for (bool last = false; !last;) {
    last = daemon_kit::stopRequested;
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const Connection &c : connections) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), last ? 0 : 1000) < 0 && errno != EINTR) daemon_kit::Die(kName, "poll");
    for (int fd; (fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
      connections.push_back({fd, ++accepted, {}});
    for (size_t i = 0; i < connections.size();) {
      Connection &c = connections[i];
      char bytes[65536];
      ssize_t n;
      bool open = true;
      while ((n = recv(c.fd, bytes, sizeof bytes, MSG_DONTWAIT)) != 0) {
        if (n < 0) {
          open = errno == EAGAIN || errno == EINTR;
          break;
        }
        c.in.append(bytes, static_cast<size_t>(n));
      }
      if (open) open = Serve(c, records) && n != 0;
      if (!open) {
        close(c.fd);
        connections.erase(connections.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
  }
  return 0;
}
