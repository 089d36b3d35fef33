// The management daemon's SOAP client: requests written with libxml2's text
// writer, framed as HTTP/1.1 POSTs on a plain TCP connection, responses read
// and parsed with libxml2.  libxml2 is opened at run time and reached only
// through the function pointers below.  Everything here runs under the
// event mutex (lumEvent.cpp); nothing has a lock of its own.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlwriter.h>

#include <cstddef>
#include <cstdint>

#include "hyxuser/hyxuser.h"

namespace soap {

// Every response body (and the header block) fits this buffer, NUL included.
inline constexpr size_t kResponseBufferSize = 1024;

// One exchange (a request written and its response read whole, or a
// connect) must be over this long after it began, however the peer paces
// its bytes: a daemon that stops answering, or answers a byte at a time,
// fails the call instead of holding the event mutex.
inline constexpr uint64_t kExchangeTimeoutMs = 30000;

// Opens libxml2 and resolves its functions; true once all are there.  Kept
// for the life of the process once it succeeded.
bool Soap_Load();

struct SoapRequest {
  xmlTextWriterPtr writer;
  xmlBufferPtr buffer;
};

// A list of name/value pairs ended by a null name.
struct SoapAttr {
  const char *name;
  const char *value;
};

SoapRequest *Soap_NewRequest(const char *method, const char *objectType, const char *objectId);
HYX_ReturnStatus Soap_AddElement(xmlTextWriterPtr writer, const char *name, const SoapAttr *attrs,
                                 const char *text);
HYX_ReturnStatus Soap_CloseText(xmlTextWriterPtr writer, const char *text);
HYX_ReturnStatus Soap_EndRequest(SoapRequest *request);
const char *Soap_RequestText(const SoapRequest *request);
void Soap_FreeRequest(SoapRequest *request);

// Posts body on fd (with the cookie, when given) and reads the response into
// response (kResponseBufferSize bytes, NUL-terminated after the body; the
// body's own length, which counts any NUL inside it, goes to
// *responseLength when asked for).  With cookieOut the response must set a
// cookie, which is copied there.  The whole exchange has kExchangeTimeoutMs.
HYX_ReturnStatus Http_PostSoap(int fd, const char *cookie, const char *body, char *cookieOut,
                               size_t cookieSize, char *response, size_t *responseLength = nullptr);
// Reads one response, within kExchangeTimeoutMs from the call.
HYX_ReturnStatus Http_ReadResponse(int fd, char *cookieOut, size_t cookieSize, char *response,
                                   size_t *responseLength = nullptr);

// Parses the length bytes of body, all of them.
xmlNodePtr Soap_ParseResponse(const char *body, size_t length);
void Soap_FreeResponse(xmlNodePtr holder);
xmlNodePtr Soap_FindPath(xmlNodePtr node, const char *const *names);
const char *Soap_GetText(xmlNodePtr node, const char *const *names);

// Shared attribute lists.
extern const SoapAttr kParameterAttrs[];
extern const SoapAttr kEventAttrs[];
extern const SoapAttr kStringValueAttrs[];

}  // namespace soap
