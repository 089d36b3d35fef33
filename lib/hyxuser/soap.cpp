// The management daemon's SOAP client (see soap.h).
#include "hyxuser/soap.h"

#include <dlfcn.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/guard.h"
#include "common/hostPaths.h"
#include "common/throttle.h"

namespace soap {

namespace {

constexpr char kVersionId[] = "uABE7C9B3";
constexpr char kInternalNs[] = "urn:internallum25";

struct XmlFunctions {
  decltype(&xmlReadMemory) readMemory;
  decltype(&xmlDocGetRootElement) docGetRootElement;
  decltype(&xmlFreeDoc) freeDoc;
  decltype(&xmlBufferCreate) bufferCreate;
  decltype(&xmlBufferFree) bufferFree;
  decltype(&xmlNewTextWriterMemory) newTextWriterMemory;
  decltype(&xmlFreeTextWriter) freeTextWriter;
  decltype(&xmlTextWriterStartDocument) startDocument;
  decltype(&xmlTextWriterEndDocument) endDocument;
  decltype(&xmlTextWriterStartElement) startElement;
  decltype(&xmlTextWriterWriteAttribute) writeAttribute;
  decltype(&xmlTextWriterWriteString) writeString;
  decltype(&xmlTextWriterEndElement) endElement;
};

void *xmlHandle;
XmlFunctions xml;

const xmlChar *X(const char *s) { return reinterpret_cast<const xmlChar *>(s); }

const SoapAttr kEnvelopeAttrs[] = {
    {"xmlns:soapenc", "http://schemas.xmlsoap.org/soap/encoding/"},
    {"xmlns:soapenv", "http://schemas.xmlsoap.org/soap/envelope/"},
    {"xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance"},
    {"xmlns:xsd", "http://www.w3.org/2001/XMLSchema"},
    {nullptr, nullptr},
};
const SoapAttr kMethodAttrs[] = {{"xmlns", kInternalNs}, {nullptr, nullptr}};

uint64_t DeadlineFromNow() {
  uint64_t now;
  return throttle::MonotonicMs(&now) ? now + kExchangeTimeoutMs : 0;
}

// Waits until fd is ready for events, but not past the deadline (the
// monotonic clock in milliseconds); false, with errno ETIMEDOUT, once it has
// passed.  Every read and write of an exchange waits here first, so the
// exchange as a whole is bounded, not each piece of it.
bool AwaitReady(int fd, short events, uint64_t deadlineMs) {
  for (;;) {
    uint64_t now;
    if (!throttle::MonotonicMs(&now)) return false;
    if (now >= deadlineMs) {
      errno = ETIMEDOUT;
      return false;
    }
    uint64_t left = deadlineMs - now;
    struct pollfd wait = {fd, events, 0};
    int ready = poll(&wait, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (ready > 0) return true;  // an error or hang-up is for the read or write to report
    if (ready == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

// Writes all of text, continuing after partial writes.  MSG_NOSIGNAL: a
// daemon that has gone away is a failed post, not a SIGPIPE for the caller.
bool SendAll(int fd, const char *text, size_t length, uint64_t deadlineMs) {
  while (length > 0) {
    if (!AwaitReady(fd, POLLOUT, deadlineMs)) return false;
    ssize_t n = send(fd, text, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, text, length);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

ssize_t ReadSome(int fd, char *to, size_t length, uint64_t deadlineMs) {
  for (;;) {
    if (!AwaitReady(fd, POLLIN, deadlineMs)) return -1;
    ssize_t n = recv(fd, to, length, MSG_DONTWAIT);
    if (n < 0 && errno == ENOTSOCK) n = read(fd, to, length);
    if (n >= 0 || (errno != EINTR && errno != EAGAIN)) return n;
  }
}

HYX_ReturnStatus ReadResponseBy(int fd, char *cookieOut, size_t cookieSize, char *response,
                                size_t *responseLength, uint64_t deadlineMs);

bool StartsWith(const char *line, size_t length, const char *prefix, size_t *rest) {
  size_t n = strlen(prefix);
  if (length < n || memcmp(line, prefix, n) != 0) return false;
  *rest = n;
  return true;
}

}  // namespace

const SoapAttr kParameterAttrs[] = {{"versionId", kVersionId}, {"xmlns", "urn:lum25"}, {nullptr, nullptr}};
const SoapAttr kEventAttrs[] = {
    {"versionId", kVersionId}, {"xmlns", "urn:lum25"}, {"xsi:type", "EventEx"}, {nullptr, nullptr}};
const SoapAttr kStringValueAttrs[] = {{"xsi:type", "xsd:string"}, {nullptr, nullptr}};

bool Soap_Load() {
  if (xmlHandle != nullptr) return true;
  void *handle = dlopen(hostPaths::kLibXml2, RTLD_LAZY);
  if (handle == nullptr) return false;
  XmlFunctions f;
  bool all = true;
  auto get = [&](auto &slot, const char *name) {
    void *symbol = dlsym(handle, name);
    all = all && symbol != nullptr;
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
  };
  get(f.readMemory, "xmlReadMemory");
  get(f.docGetRootElement, "xmlDocGetRootElement");
  get(f.freeDoc, "xmlFreeDoc");
  get(f.bufferCreate, "xmlBufferCreate");
  get(f.bufferFree, "xmlBufferFree");
  get(f.newTextWriterMemory, "xmlNewTextWriterMemory");
  get(f.freeTextWriter, "xmlFreeTextWriter");
  get(f.startDocument, "xmlTextWriterStartDocument");
  get(f.endDocument, "xmlTextWriterEndDocument");
  get(f.startElement, "xmlTextWriterStartElement");
  get(f.writeAttribute, "xmlTextWriterWriteAttribute");
  get(f.writeString, "xmlTextWriterWriteString");
  get(f.endElement, "xmlTextWriterEndElement");
  if (!all) {
    dlclose(handle);
    return false;
  }
  xml = f;
  xmlHandle = handle;
  return true;
}

void Soap_FreeRequest(SoapRequest *request) {
  if (request == nullptr) return;
  if (request->writer != nullptr) xml.freeTextWriter(request->writer);
  if (request->buffer != nullptr) xml.bufferFree(request->buffer);
  free(request);
}

HYX_ReturnStatus Soap_AddElement(xmlTextWriterPtr writer, const char *name, const SoapAttr *attrs,
                                 const char *text) {
  if (xml.startElement(writer, X(name)) < 0) return HYX_FAILURE;
  for (const SoapAttr *a = attrs; a != nullptr && a->name != nullptr; ++a) {
    if (a->value == nullptr || xml.writeAttribute(writer, X(a->name), X(a->value)) < 0) return HYX_FAILURE;
  }
  if (text != nullptr) return Soap_CloseText(writer, text);
  return HYX_OK;
}

HYX_ReturnStatus Soap_CloseText(xmlTextWriterPtr writer, const char *text) {
  if (xml.writeString(writer, X(text)) < 0 || xml.endElement(writer) < 0) return HYX_FAILURE;
  return HYX_OK;
}

SoapRequest *Soap_NewRequest(const char *method, const char *objectType, const char *objectId) {
  auto *request = static_cast<SoapRequest *>(calloc(1, sizeof(SoapRequest)));
  if (request == nullptr) return nullptr;
  guard::ScopeExit drop([&] { Soap_FreeRequest(request); });
  request->buffer = xml.bufferCreate();
  if (request->buffer == nullptr) return nullptr;
  request->writer = xml.newTextWriterMemory(request->buffer, 0);
  if (request->writer == nullptr) return nullptr;
  if (xml.startDocument(request->writer, nullptr, "UTF-8", nullptr) < 0) return nullptr;
  const SoapAttr thisAttrs[] = {{"versionId", kVersionId}, {"type", objectType}, {nullptr, nullptr}};
  if (Soap_AddElement(request->writer, "soapenv:Envelope", kEnvelopeAttrs, nullptr) != HYX_OK ||
      Soap_AddElement(request->writer, "soapenv:Body", nullptr, nullptr) != HYX_OK ||
      Soap_AddElement(request->writer, method, kMethodAttrs, nullptr) != HYX_OK ||
      Soap_AddElement(request->writer, "_this", thisAttrs, objectId) != HYX_OK)
    return nullptr;
  drop.dismiss();
  return request;
}

HYX_ReturnStatus Soap_EndRequest(SoapRequest *request) {
  return xml.endDocument(request->writer) < 0 ? HYX_FAILURE : HYX_OK;
}

const char *Soap_RequestText(const SoapRequest *request) {
  return reinterpret_cast<const char *>(request->buffer->content);
}

HYX_ReturnStatus Http_PostSoap(int fd, const char *cookie, const char *body, char *cookieOut,
                               size_t cookieSize, char *response, size_t *responseLength) {
  uint64_t deadlineMs = DeadlineFromNow();
  size_t bodyLength = strlen(body);
  size_t size = bodyLength + 256;
  guard::Malloced<char> text(static_cast<char *>(malloc(size)));
  if (!text) return HYX_FAILURE;
  size_t used = 0;
  auto put = [&](int n) {
    if (n < 0 || static_cast<size_t>(n) >= size - used) return false;
    used += static_cast<size_t>(n);
    return true;
  };
  char *p = text.get();
  if (!put(snprintf(p, size, "%s %s HTTP/%s\r\n", "POST", "/sdk", "1.1")) ||
      !put(snprintf(p + used, size - used, "%s: \"%s/%s\"\r\n", "SOAPAction", kInternalNs, kVersionId)) ||
      (cookie != nullptr && !put(snprintf(p + used, size - used, "Cookie: %s\r\n", cookie))) ||
      !put(snprintf(p + used, size - used, "Content-Length: %zu\r\n", bodyLength)) ||
      !put(snprintf(p + used, size - used, "\r\n")) || !put(snprintf(p + used, size - used, "%s", body)))
    return HYX_FAILURE;
  if (!SendAll(fd, p, used, deadlineMs)) return HYX_FAILURE;
  text.reset();
  return ReadResponseBy(fd, cookieOut, cookieSize, response, responseLength, deadlineMs);
}

HYX_ReturnStatus Http_ReadResponse(int fd, char *cookieOut, size_t cookieSize, char *response,
                                   size_t *responseLength) {
  return ReadResponseBy(fd, cookieOut, cookieSize, response, responseLength, DeadlineFromNow());
}

namespace {

HYX_ReturnStatus ReadResponseBy(int fd, char *cookieOut, size_t cookieSize, char *response,
                                size_t *responseLength, uint64_t deadlineMs) {
  char header[kResponseBufferSize];
  size_t length = 0;
  char *blank = nullptr;
  header[0] = '\0';
  while (blank == nullptr) {
    if (length >= sizeof header - 1) return HYX_FAILURE;
    ssize_t n = ReadSome(fd, header + length, sizeof header - 1 - length, deadlineMs);
    if (n <= 0) return HYX_FAILURE;
    size_t from = length >= 3 ? length - 3 : 0;
    length += static_cast<size_t>(n);
    header[length] = '\0';
    blank = static_cast<char *>(memmem(header + from, length - from, "\r\n\r\n", 4));
  }
  char *bodyStart = blank + 4;
  size_t alreadyRead = length - static_cast<size_t>(bodyStart - header);
  blank[0] = '\0';

  unsigned code;
  if (sscanf(header, "HTTP/%*s %u", &code) != 1) return HYX_FAILURE;

  bool haveLength = false, haveCookie = false;
  unsigned contentLength = 0;
  char cookie[128];
  for (char *line = header; *line != '\0';) {
    size_t lineLength = strcspn(line, "\r\n");
    char *next = line + lineLength;
    char saved = *next;
    *next = '\0';
    size_t rest;
    unsigned value;
    if (sscanf(line, "Content-Length: %u", &value) == 1) {
      contentLength = value;
      haveLength = true;
    } else if (cookieOut != nullptr && StartsWith(line, lineLength, "Set-Cookie: ", &rest)) {
      size_t take = strcspn(line + rest, "[");
      if (take > 0) {
        if (take > sizeof cookie - 1) take = sizeof cookie - 1;
        memcpy(cookie, line + rest, take);
        cookie[take] = '\0';
        haveCookie = true;
      }
    }
    *next = saved;
    line = next + strspn(next, "\r\n");
  }
  if (!haveLength) return HYX_FAILURE;
  if (cookieOut != nullptr && !haveCookie) return HYX_FAILURE;
  if (contentLength > kResponseBufferSize - 1 || alreadyRead > contentLength) return HYX_FAILURE;
  if (cookieOut != nullptr) {
    size_t cookieLength = strlen(cookie);
    if (cookieLength + 1 > cookieSize) return HYX_FAILURE;
    memcpy(cookieOut, cookie, cookieLength + 1);
  }

  memcpy(response, bodyStart, alreadyRead);
  for (size_t got = alreadyRead; got < contentLength;) {
    ssize_t n = ReadSome(fd, response + got, contentLength - got, deadlineMs);
    if (n <= 0) return HYX_FAILURE;
    got += static_cast<size_t>(n);
  }
  response[contentLength] = '\0';
  if (responseLength != nullptr) *responseLength = contentLength;
  return HYX_OK;
}

}  // namespace

xmlNodePtr Soap_ParseResponse(const char *body, size_t length) {
  // Silent (the library prints nothing into its caller's stderr) and never
  // reaching out to the network for anything the document names.
  // All of the body, a NUL inside it included: what is checked is what the
  // daemon sent, not a prefix of it.
  xmlDocPtr doc = xml.readMemory(body, static_cast<int>(length), "noname.xml", nullptr,
                                 XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
  if (doc == nullptr) return nullptr;
  xmlNodePtr root = xml.docGetRootElement(doc);
  auto *holder = root == nullptr ? nullptr : static_cast<xmlNodePtr>(calloc(1, sizeof(xmlNode)));
  if (holder == nullptr) {
    xml.freeDoc(doc);
    return nullptr;
  }
  holder->children = root;
  holder->doc = doc;
  return holder;
}

void Soap_FreeResponse(xmlNodePtr holder) {
  if (holder == nullptr) return;
  xml.freeDoc(holder->doc);
  free(holder);
}

xmlNodePtr Soap_FindPath(xmlNodePtr node, const char *const *names) {
  if (node == nullptr) return nullptr;
  if (names == nullptr || names[0] == nullptr) return node;
  size_t i = 0;
  for (xmlNodePtr at = node->children; at != nullptr;) {
    if (at->type == XML_ELEMENT_NODE && at->name != nullptr &&
        strcmp(reinterpret_cast<const char *>(at->name), names[i]) == 0) {
      if (names[++i] == nullptr) return at;
      at = at->children;  // no backtracking: later siblings are not tried
      continue;
    }
    at = at->next;
  }
  return nullptr;
}

const char *Soap_GetText(xmlNodePtr node, const char *const *names) {
  xmlNodePtr found = Soap_FindPath(node, names);
  if (found == nullptr) return nullptr;
  for (xmlNodePtr child = found->children; child != nullptr; child = child->next)
    if (child->type == XML_TEXT_NODE) return reinterpret_cast<const char *>(child->content);
  return nullptr;
}

}  // namespace soap
