// hyxinfo status: the status table and its conversions, a code looked up
// by number or by name.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hyxinfo.h"
#include "json.h"
#include "statusNames.h"

namespace hyxinfo {

namespace {

// A code by number (any base strtoul reads) or by name.
bool ParseStatus(const char *arg, HYX_ReturnStatus &code) {
  char *end = nullptr;
  errno = 0;
  unsigned long value = strtoul(arg, &end, 0);
  if (errno == 0 && end != arg && *end == '\0' && value <= 0xffffffffUL && arg[0] != '-') {
    code = static_cast<HYX_ReturnStatus>(value);
    return true;
  }
  return Status_FromName(arg, &code);
}

int PrintStatus(const char *arg) {
  HYX_ReturnStatus code;
  if (!ParseStatus(arg, code)) {
    return UsageError(std::string("not a status code or name: ") + Shown(arg));
  }
  char text[256];
  HYX_ReturnStatus known = HyxuserStatus_CodeToString(code, text, sizeof text, nullptr);
  int err = 0;
  HyxuserStatus_CodeToErrno(code, &err);
  int pam = HyxuserStatus_CodeToPamReturnValue(code);
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("code", code);
    json.Field("name", Status_ToName(code));
    json.Field("message", text);
    json.Field("errno", int32_t{err});
    json.Key("pam");
    if (pam >= 0)
      json.Number(pam);
    else
      json.Null();
    json.Field("known", known == HYX_OK);
    json.EndObject();
  } else {
    printf("code:    0x%08x\nname:    %s\nmessage: %s\nerrno:   %d\n", code, Status_ToName(code), text, err);
    if (pam >= 0) printf("pam:     %d\n", pam);
  }
  return known == HYX_OK ? 0 : kFailed;
}

// One line per row of the table: code, name, errno and the row's message.
int PrintAllStatuses() {
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginArray();
    for (const StatusNameRow &row : kStatusNameRows) {
      int err = 0;
      HyxuserStatus_CodeToErrno(row.code, &err);
      json.BeginObject();
      json.Field("code", row.code);
      json.Field("name", row.name);
      json.Field("errno", int32_t{err});
      json.Field("message", row.message);
      json.EndObject();
    }
    json.EndArray();
    return 0;
  }
  for (const StatusNameRow &row : kStatusNameRows) {
    int err = 0;
    HyxuserStatus_CodeToErrno(row.code, &err);
    printf("0x%08x  %-45s %4d  %s\n", row.code, row.name, err, row.message);
  }
  return 0;
}

}  // namespace

int RunStatus(int argc, char **argv) {
  if (argc != 1) return cli::WrongCount(argc, argv, 1, "a status CODE or NAME");
  if (strcmp(argv[0], "list") == 0 || strcmp(argv[0], "--all") == 0) return PrintAllStatuses();
  return PrintStatus(argv[0]);
}

namespace {

constexpr Form kStatusForms[] = {
    {nullptr, "CODE|NAME", "name, message, errno and PAM value of a status code, by number or name",
     "{\"code\": number, \"name\": text, \"message\": text, \"errno\": number, \"pam\": number or null, "
     "\"known\": bool}"},
    {"list", "", "the whole status table (also: status --all)",
     "[{\"code\": number, \"name\": text, \"errno\": number, \"message\": text}, ...]"},
};

}  // namespace

extern const Command kStatusCommand = MakeCommand("status", kStatusForms, RunStatus);

}  // namespace hyxinfo
