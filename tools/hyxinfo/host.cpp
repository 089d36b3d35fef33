// hyxinfo host: the kernel, and whether it speaks the library's interfaces.
#include <sys/utsname.h>

#include <cstdio>

#include "hyxinfo.h"
#include "json.h"
#include "statusNames.h"

namespace hyxinfo {

int RunHost(int argc, char **argv) {
  if (argc != 0) return cli::WrongCount(argc, argv, 0, "");
  struct utsname names;
  bool named = uname(&names) == 0;
  HYX_ReturnStatus status = HyxuserCompat_VerifyHSISigniture();
  if (JsonOutput()) {
    JsonWriter json(Out());
    json.BeginObject();
    json.Field("sysname", named ? names.sysname : "");
    json.Field("release", named ? names.release : "");
    json.Field("matches", status == HYX_OK);
    json.Field("status", status);
    json.Field("statusName", Status_ToName(status));
    json.EndObject();
  } else {
    if (named) printf("kernel:    %s %s\n", names.sysname, names.release);
    printf("interface: %s (0x%08x %s)\n", status == HYX_OK ? "matches" : "does not match", status,
           Status_ToName(status));
  }
  // A mismatch is the answer, not a failure to get one: it is on stdout,
  // with its status, and the exit status says so.
  return status == HYX_OK ? 0 : kFailed;
}

namespace {

constexpr Form kHostForms[] = {
    {nullptr, "", "the kernel, and whether it speaks the library's interfaces",
     "{\"sysname\": text, \"release\": text, \"matches\": bool, \"status\": number, \"statusName\": text}"},
};

}  // namespace

extern const Command kHostCommand = MakeCommand("host", kHostForms, RunHost);

}  // namespace hyxinfo
