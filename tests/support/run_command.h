// Runs a shell command and collects what it printed and how it ended, for
// suites that drive hyxsim and the tools from outside.
#pragma once

#include <cstdio>
#include <string>

struct CommandOutcome {
  int status;  // as waitpid gives it
  std::string output;
};

inline CommandOutcome RunCommand(const std::string &command) {
  CommandOutcome outcome{};
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  outcome.status = pclose(pipe);
  return outcome;
}
