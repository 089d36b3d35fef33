// hyxinfo's commands: one source per family of the library, one entry each
// in the command table of hyxinfo.cpp.
#pragma once

#include <cstdio>

#include "hyxuser/hyxuser.h"

namespace hyxinfo {

// A command gets the words after its own name.
struct Command {
  const char *name;
  const char *usage;  // one line per form, each starting with the command
  int (*run)(int argc, char **argv);
};

// Exit codes: 0 success, 1 the library reported a failure, 2 bad usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Whether --json was given (anywhere on the command line): every command
// then prints one JSON value, in the shape its usage documents.
bool JsonOutput();

// The status's name, "HYX_GENERIC_LINUX_ERROR" for an errno code, or "UNKNOWN".
const char *StatusName(HYX_ReturnStatus code);
// "hyxinfo: WHAT: NAME (0xCODE): message" on stderr; returns kFailed.
int Fail(const char *what, HYX_ReturnStatus status);
// Prints the command's usage to stderr; returns kUsage.
int UsageOf(const Command &command);

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

}  // namespace hyxinfo
