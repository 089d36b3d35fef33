// hyxinfo's commands: one source per family of the library, one entry each
// in the command table of hyxinfo.cpp.
#pragma once

#include <cstddef>
#include <cstdio>

#include "hyxuser/hyxuser.h"

namespace hyxinfo {

// One form of a command: the action word after the command's name (null
// for a form without one), the arguments that follow, what it does, and the
// shape of the one JSON value it prints under --json.
struct Form {
  const char *action;
  const char *args;
  const char *summary;
  const char *json;
};

// A command (a family of the library) and its forms; run gets the words
// after the command's name, --json taken out.
struct Command {
  const char *name;
  const Form *forms;
  size_t formCount;
  int (*run)(int argc, char **argv);
};

// Exit codes: 0 success, 1 the library reported a failure, 2 bad usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Whether --json was given (anywhere on the command line): every command
// then prints one JSON value, in the shape its form documents.
bool JsonOutput();

// The status's name, "HYX_GENERIC_LINUX_ERROR" for an errno code, or "UNKNOWN".
const char *StatusName(HYX_ReturnStatus code);
// A code by its name, "HYX_BAD_PARAM" or "bad_param" alike (case ignored).
bool StatusByName(const char *name, HYX_ReturnStatus &code);
// The status table's names, in the table's order; null past the end.
const char *StatusNameAt(size_t index);
// "hyxinfo: WHAT: NAME (0xCODE): message" on stderr; returns kFailed.
int Fail(const char *what, HYX_ReturnStatus status);

// What a command that only sends prints: nothing, or {"KEY": true} under
// --json; returns 0.
int PrintDone(const char *key);
// A throttle's state, "remaining MS of PERIOD ms" or its JSON; returns 0.
int PrintThrottle(uint32_t remainingMs, uint32_t periodMs);

int RunStatus(int argc, char **argv);
int RunHost(int argc, char **argv);
int RunNotify(int argc, char **argv);
int RunTrap(int argc, char **argv);
int RunEvent(int argc, char **argv);
int RunPam(int argc, char **argv);
int RunVersion(int argc, char **argv);
int RunUptime(int argc, char **argv);
int RunAcpi(int argc, char **argv);
int RunSmbios(int argc, char **argv);
int RunUefi(int argc, char **argv);
int RunNics(int argc, char **argv);
int RunInterfaces(int argc, char **argv);
int RunStorage(int argc, char **argv);
int RunVm(int argc, char **argv);
int RunNvd(int argc, char **argv);
int RunHxfs(int argc, char **argv);
int RunHsi(int argc, char **argv);
// Makes the system-information client hyxinfo takes from the library's
// internal archive answer from the snapshot HYXUSER_HSI_SNAPSHOT names, as
// the shipped library does; false when one is named and does not load.
bool FollowSnapshot();
// Makes that client translate node numbers where the shipped library does
// (a kernel that refused the library's signature).  For the commands that
// use the client.
void FollowTranslation();

}  // namespace hyxinfo
