// hyxinfo and hyxhsi as a whole, run as a user runs them inside this
// suite's sandbox (daemons listening, HXFS volumes mounted): the help at
// every level, usage errors, the --json output of every form their help
// lists, and the bash completion they write.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hyxuser/hyxuser.h"
#include "run_command.h"

namespace {

struct ToolRun {
  int exitCode;
  std::string out, err;
};

// Runs a tool with arguments (shell words), keeping stdout and stderr apart.
ToolRun RunTool(const std::string &tool, const std::string &arguments, const std::string &input = "") {
  const std::string errFile = "/tmp/tool_cli_stderr";
  std::string command = tool + " " + arguments + " 2>" + errFile;
  if (!input.empty()) command = "printf '%s\\n' '" + input + "' | " + command;
  CommandOutcome outcome = RunCommand(command);
  ToolRun run{WIFEXITED(outcome.status) ? WEXITSTATUS(outcome.status) : -1, outcome.output, ""};
  if (FILE *f = fopen(errFile.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) run.err.append(buffer, n);
    fclose(f);
  }
  return run;
}

ToolRun Hyxinfo(const std::string &arguments, const std::string &input = "") {
  return RunTool(HYX_HYXINFO, arguments, input);
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The forms a help text lists: "  SYNOPSIS  summary" lines (a synopsis is
// words with single spaces; a line of its own when long).
std::vector<std::string> Forms(const std::string &help) {
  std::vector<std::string> forms;
  for (const std::string &line : Lines(help)) {
    if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
    size_t end = line.find("  ", 2);
    forms.push_back(line.substr(2, end == std::string::npos ? std::string::npos : end - 2));
  }
  return forms;
}

std::string FirstWord(const std::string &text) { return text.substr(0, text.find(' ')); }

// The action word of a form, when its second word is one (lower case, no
// placeholder).
std::string ActionOf(const std::string &form) {
  size_t start = form.find(' ');
  if (start == std::string::npos) return "";
  std::string second = FirstWord(form.substr(start + 1));
  for (char c : second)
    if (!(c >= 'a' && c <= 'z')) return "";
  return second;
}

// The two tools and where they are.
class ToolCli : public testing::TestWithParam<const char *> {
 protected:
  std::string Name() const { return GetParam(); }
  std::string Path() const { return Name() == "hyxinfo" ? HYX_HYXINFO : HYX_HYXHSI; }
  ToolRun Run(const std::string &arguments) const { return RunTool(Path(), arguments); }
};

INSTANTIATE_TEST_SUITE_P(Tools, ToolCli, testing::Values("hyxinfo", "hyxhsi"),
                         [](const testing::TestParamInfo<const char *> &info) { return info.param; });

TEST_P(ToolCli, HelpAtEveryLevelGoesToStdoutAndExitsZero) {
  ToolRun top = Run("--help");
  ASSERT_EQ(top.exitCode, 0) << top.err;
  EXPECT_EQ(top.err, "");
  EXPECT_EQ(top.out.rfind("usage: " + Name() + " [--json] [--snapshot FILE] COMMAND [ACTION] [ARGS]\n", 0),
            0u)
      << top.out;
  std::vector<std::string> forms = Forms(top.out);
  ASSERT_GT(forms.size(), 5u) << top.out;

  std::set<std::string> commands;
  for (const std::string &form : forms) commands.insert(FirstWord(form));
  for (const std::string &command : commands) {
    ToolRun family = Run(command + " --help");
    ASSERT_EQ(family.exitCode, 0) << command << ": " << family.err;
    EXPECT_EQ(family.err, "") << command;
    EXPECT_EQ(family.out.rfind("usage: " + Name() + " [--json] " + command + " ...\n", 0), 0u) << family.out;
    // The same help, asked for first.
    EXPECT_EQ(Run("--help " + command).out, family.out) << command;
    // Every form of the command, each with its JSON shape.
    size_t shapes = 0;
    for (const std::string &line : Lines(family.out)) shapes += line.find("--json: ") != std::string::npos;
    std::vector<std::string> own = Forms(family.out);
    EXPECT_EQ(shapes, own.size()) << family.out;
    for (const std::string &form : forms) {
      if (FirstWord(form) == command) {
        EXPECT_NE(std::find(own.begin(), own.end(), form), own.end()) << form;
      }
    }

    for (const std::string &form : own) {
      std::string action = ActionOf(form);
      if (action.empty()) continue;
      ToolRun one = Run(command + " " + action + " --help");
      ASSERT_EQ(one.exitCode, 0) << form << ": " << one.err;
      for (const std::string &shown : Forms(one.out))
        EXPECT_EQ(shown.rfind(command + " " + action, 0), 0u) << shown;
    }
  }
}

TEST(HyxinfoCli, UsageErrorsGoToStderrWithExitTwo) {
  const char *kCases[] = {
      "",
      "nosuch",
      "uefi",
      "uefi get",
      "uefi nosuch x",
      "status",
      "status 0xzz",
      "status NO_SUCH",
      "vm abc",
      "storage disks",
      "trap",
      "notify",
      "nvd",
      "hxfs hosts",
      "event",
      "pam check x",
      "acpi APIC 0 -o",
  };
  for (const char *arguments : kCases) {
    ToolRun run = Hyxinfo(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
    EXPECT_NE(run.err.find("usage: hyxinfo"), std::string::npos) << arguments << ": " << run.err;
  }
}

TEST(HyxinfoCli, StatusCodesByNameAndByNumber) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(HYX_NOT_FOUND));
  const std::string decimal = std::to_string(static_cast<unsigned>(HYX_NOT_FOUND));
  for (const std::string &code : {std::string("HYX_NOT_FOUND"), std::string("hyx_not_found"),
                                  std::string("NOT_FOUND"), std::string(hex), decimal}) {
    ToolRun run = Hyxinfo("--json status " + code);
    ASSERT_EQ(run.exitCode, 0) << code << ": " << run.err;
    nlohmann::json value = nlohmann::json::parse(run.out);
    EXPECT_EQ(value["name"], "HYX_NOT_FOUND") << code;
    EXPECT_EQ(value["code"], static_cast<unsigned>(HYX_NOT_FOUND)) << code;
  }
  // Below the kernel's codes and not HYX_OK: no row has it.
  ToolRun unknown = Hyxinfo("--json status 0x1234");
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_EQ(nlohmann::json::parse(unknown.out)["known"], false);
}

// Every form the tool's help lists, by its synopsis, and a command line
// that runs it on this host: each prints one JSON value on one line.  Forms
// the help lists and runs lacks fail the test.
void ExpectEveryFormRuns(const std::string &tool,
                         const std::vector<std::pair<std::string, std::string>> &runs) {
  std::map<std::string, std::string> byForm(runs.begin(), runs.end());
  for (const std::string &form : Forms(RunTool(tool, "--help").out))
    EXPECT_EQ(byForm.count(form), 1u) << "no JSON run for the form \"" << form << "\"";

  for (const auto &[form, arguments] : runs) {
#if defined(__SANITIZE_ADDRESS__)
    if (form.rfind("pam ", 0) == 0) continue;  // pam_unix.so crashes under AddressSanitizer
#endif
    ToolRun run = RunTool(tool, "--json " + arguments, form.rfind("pam ", 0) == 0 ? "hyx-secret" : "");
    ASSERT_EQ(run.exitCode, 0) << arguments << ": " << run.err;
    nlohmann::json value = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(value.is_discarded()) << arguments << ": " << run.out;
    EXPECT_TRUE(value.is_object() || value.is_array()) << arguments;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << arguments << ": one value, one line";
  }
}

TEST(HyxinfoCli, EveryFormPrintsOneJsonValue) {
  const std::string uefiName = "HyxCliTest-0e4c9f5a-2b7d-4c1e-8f3a-5d6b7c8d9e0f";
  RunCommand("printf 'hyx' > /tmp/cli-uefi");
  const std::vector<std::pair<std::string, std::string>> kRuns = {
      {"status CODE|NAME", "status HYX_BAD_PARAM"},
      {"status list", "status list"},
      {"host", "host"},
      {"notify --severity info|warning|error|N --component C --kb K TEXT",
       "notify --severity info --component hyxcli --kb kb.1 'the tour'"},
      {"trap OID [OID:TYPE:VALUE ...]", "trap 1.3.6.1.4.1.1234.1.0.7 1.3.6.1.2.1.1.5.0:string:h"},
      {"trap throttle", "trap throttle"},
      {"event TYPEID [--severity info|warning|error|N] [KEY=VALUE ...]",
       "event hyx.Example --severity error disk=sda"},
      {"event throttle", "event throttle"},
      {"pam check SERVICE USER", "pam check hyxsim hyxuser"},
      {"version", "version"},
      {"uptime", "uptime"},
      {"acpi SIG [INSTANCE]", "acpi APIC"},
      {"acpi SIG [INSTANCE] -o FILE", "acpi APIC 0 -o /tmp/cli-apic"},
      {"smbios", "smbios"},
      {"smbios -o FILE", "smbios -o /tmp/cli-smbios"},
      {"smbios raw", "smbios raw"},
      {"uefi list", "uefi list"},
      {"uefi set NAME ATTRS FILE", "uefi set " + uefiName + " 7 /tmp/cli-uefi"},
      {"uefi get NAME", "uefi get " + uefiName},
      {"uefi rm NAME", "uefi rm " + uefiName},
      {"nics", "nics"},
      {"interfaces", "interfaces"},
      {"storage pci ADAPTER", "storage pci vmhba2"},
      {"vm WORLDID", "vm 526441"},
      {"nvd caps", "nvd caps"},
      {"hxfs hosts PATH", "hxfs hosts /hxfs/volumes/datastore1"},
      {"hxfs is PATH", "hxfs is /hxfs/volumes/datastore1"},
  };
  ExpectEveryFormRuns(HYX_HYXINFO, kRuns);
}

TEST(HyxhsiCli, EveryFormPrintsOneJsonValue) {
  ExpectEveryFormRuns(HYX_HYXHSI, {
                                      {"ls [PATH [ARGS]]", "ls net/pNics"},
                                      {"get PATH [ARGS]", "get net/pNics/properties vmnic0"},
                                      {"types PATH", "types timer/info"},
                                      {"storage adapters", "storage adapters"},
                                      {"storage devices", "storage devices"},
                                      {"storage paths", "storage paths"},
                                  });
}

TEST_P(ToolCli, BashCompletionFollowsTheCommandTable) {
  ToolRun script = Run("--completion bash");
  ASSERT_EQ(script.exitCode, 0) << script.err;
  const std::string file = "/tmp/" + Name() + "-completion";
  FILE *f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(script.out.c_str(), f);
  fclose(f);
  // The words after the tool's name, the last one being completed.
  const std::string driver = "/tmp/" + Name() + "-complete.sh";
  f = fopen(driver.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fprintf(f,
          "source %s\n"
          "COMP_WORDS=(%s \"$@\"); COMP_CWORD=$#\n"
          "_%s\n"
          "printf '%%s\\n' \"${COMPREPLY[@]}\" | sort\n",
          file.c_str(), Name().c_str(), Name().c_str());
  fclose(f);
  auto complete = [&](const std::string &words) { return RunCommand("bash " + driver + " " + words).output; };

  std::vector<std::string> forms = Forms(Run("--help").out);
  std::set<std::string> commands, offered;
  for (const std::string &form : forms) commands.insert(FirstWord(form));
  for (const std::string &word : Lines(complete("''"))) offered.insert(word);
  for (const std::string &command : commands) EXPECT_EQ(offered.count(command), 1u) << command;

  std::map<std::string, std::set<std::string>> actions;
  for (const std::string &form : forms)
    if (!ActionOf(form).empty()) actions[FirstWord(form)].insert(ActionOf(form));
  for (const auto &[command, expected] : actions) {
    std::set<std::string> got;
    for (const std::string &word : Lines(complete(command + " ''"))) got.insert(word);
    for (const std::string &action : expected) EXPECT_EQ(got.count(action), 1u) << command << " " << action;
  }
  if (Name() == "hyxinfo") {
    EXPECT_EQ(complete("--json uefi r"), "rm\n");
    EXPECT_EQ(complete("status HYX_NOT_FOU"), "HYX_NOT_FOUND\n");
  } else {
    EXPECT_EQ(complete("--json storage d"), "devices\n");
  }
}

}  // namespace
