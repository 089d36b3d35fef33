// What the command-line tools share: a table of commands from which the
// help at every level, the manual page and the bash completion are made;
// the options every tool takes (--json, --snapshot, --help, --version,
// --completion); and one way of telling the user what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "hyxuser/hyxuser.h"

namespace cli {

// One form of a command: the action word after the command's name (null
// for a form without one), the arguments that follow, what it does, and the
// shape of the one JSON value it prints under --json.
struct Form {
  const char *action;
  const char *args;
  const char *summary;
  const char *json;
};

// A command and its forms; run gets the words after the command's name,
// the tool's options taken out.
struct Command {
  const char *name;
  const Form *forms;
  size_t formCount;
  int (*run)(int argc, char **argv);
};

template <size_t N>
constexpr Command MakeCommand(const char *name, const Form (&forms)[N], int (*run)(int, char **)) {
  return Command{name, forms, N, run};
}

// A tool: its name, its commands in the order its help lists them, and
// the paragraph its help ends with.
struct Tool {
  const char *name;
  const Command *const *commands;
  size_t commandCount;
  const char *notes;
};

// Exit codes: 0 success, 1 the library (or the system) refused, 2 bad usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Runs the command line: the tool's options, then the command it names.
int Main(const Tool &tool, int argc, char **argv);

// Whether --json was given: every command then prints one JSON value, in
// the shape its form documents, or nothing when it fails.
bool JsonOutput();
// Where a command writes its JSON value: kept aside until the command has
// succeeded, so that a failure never leaves half a value on stdout.
FILE *Out();

// "NAME (0xCODE): message": the status table's name and message, an
// errno-carrying code by its errno's name and libc's text.
std::string StatusText(HYX_ReturnStatus status);

// "TOOL: WHAT: NAME (0xCODE): message" on stderr, with a hint off a
// hypervisor host; under --json the one JSON error object on stdout.
// Returns kFailed.
int Fail(const std::string &what, HYX_ReturnStatus status);
// "TOOL: WHAT" on stderr; returns kFailed.
int FailWith(const std::string &what);
// "TOOL: COMMAND: WHAT" on stderr (the command's usage follows); returns
// kUsage.
int UsageError(const std::string &what);
// The usage error of a command line with more words than most, or fewer
// than it needs: the first word too many, or what is missing.
int WrongCount(int argc, char **argv, int most, const char *missing);
// An argument as a message shows it: cut short when it is long.
std::string Shown(const char *argument);

// What a command that only sends prints: nothing, or {"KEY": true} under
// --json; returns 0.
int PrintDone(const char *key);

}  // namespace cli
