#include "cli.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "json.h"
#include "statusNames.h"

namespace cli {
namespace {

// The library reads this variable while it loads, before main: a snapshot
// the user asks for on the command line reaches it only through a new
// start of the program with the variable set.
constexpr char kSnapshotVariable[] = "HYXUSER_HSI_SNAPSHOT";
// The kernel's name on a hypervisor host.
constexpr char kHostKernel[] = "Hyxkernel";
// Arguments are shown in messages up to this many bytes.
constexpr size_t kShownBytes = 64;

const Tool *current = nullptr;
const Command *currentCommand = nullptr;
bool json = false;
char *jsonText = nullptr;
size_t jsonSize = 0;
FILE *jsonBuffer = nullptr;

// The failure a command reported, for the JSON error object.  A command
// that failed says so through Fail or FailWith; one that answers with exit
// status 1 (a status the table lacks, an interface that does not match)
// says nothing of the kind, and its value stands.
bool failed = false;
struct Failure {
  bool set = false;
  std::string what;
  HYX_ReturnStatus status = HYX_OK;
} failure;

const char *Name() { return current ? current->name : "hyx"; }

// "uefi get NAME": the command, its action and its arguments.
std::string Synopsis(const Command &c, const Form &f) {
  std::string text = c.name;
  if (f.action) text += std::string(" ") + f.action;
  if (*f.args) text += std::string(" ") + f.args;
  return text;
}

// One line per form: the synopsis, then what it does (on a line of its own
// when the synopsis is long).  With shapes, each form's JSON shape follows.
void PrintForms(FILE *to, const Command &c, const char *action, bool shapes) {
  for (size_t i = 0; i < c.formCount; i++) {
    const Form &f = c.forms[i];
    if (action && (f.action == nullptr || strcmp(action, f.action) != 0)) continue;
    std::string synopsis = Synopsis(c, f);
    if (synopsis.size() <= 28)
      fprintf(to, "  %-28s  %s\n", synopsis.c_str(), f.summary);
    else
      fprintf(to, "  %s\n  %-28s  %s\n", synopsis.c_str(), "", f.summary);
    if (shapes) fprintf(to, "  %-28s  --json: %s\n", "", f.json);
  }
}

void PrintTopUsage(const Tool &tool, FILE *to) {
  fprintf(to,
          "usage: %s [--json] [--snapshot FILE] COMMAND [ACTION] [ARGS]\n"
          "       %s [COMMAND [ACTION]] --help\n"
          "       %s --help COMMAND [ACTION]\n"
          "       %s --version\n"
          "       %s --completion bash\n"
          "\n",
          tool.name, tool.name, tool.name, tool.name, tool.name);
  for (size_t i = 0; i < tool.commandCount; i++) PrintForms(to, *tool.commands[i], nullptr, false);
  fprintf(to,
          "\n"
          "--json anywhere on the line: one JSON value on stdout, in the shape that\n"
          "`%s COMMAND --help` gives; when the command fails, one error object\n"
          "{\"error\": {\"name\", \"code\", \"message\", \"what\"}} or nothing.  --snapshot\n"
          "FILE, first: the command answers from a system-information snapshot that\n"
          "hyxsnap wrote instead of the host (the tool starts again with\n"
          "HYXUSER_HSI_SNAPSHOT=FILE, which the library reads while it loads; exit\n"
          "status 1 when the file does not load).  Exit status: 0 success; 1 the\n"
          "library refused (status name, code and message on stderr); 2 bad usage.\n",
          tool.name);
  if (tool.notes) fprintf(to, "\n%s", tool.notes);
}

// The usage of one command, or of one of its actions.
void PrintCommandUsage(const Tool &tool, FILE *to, const Command &c, const char *action) {
  fprintf(to, "usage: %s [--json] %s%s%s ...\n\n", tool.name, c.name, action ? " " : "",
          action ? action : "");
  PrintForms(to, c, action, true);
}

const Command *CommandNamed(const Tool &tool, const char *name) {
  for (size_t i = 0; i < tool.commandCount; i++)
    if (strcmp(tool.commands[i]->name, name) == 0) return tool.commands[i];
  return nullptr;
}

// The action word of a command, when the command has one by that name.
const char *ActionNamed(const Command &c, const char *word) {
  if (word == nullptr) return nullptr;
  for (size_t i = 0; i < c.formCount; i++)
    if (c.forms[i].action && strcmp(c.forms[i].action, word) == 0) return c.forms[i].action;
  return nullptr;
}

bool IsHelp(const char *word) { return strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0; }

// The bash completion: options and command names, then each command's
// action words (and the status names for `status`), then file names.
void PrintBashCompletion(const Tool &tool) {
  printf(
      "# bash completion for %s, written by `%s --completion bash`\n"
      "_%s() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} words=() i\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    [[ ${COMP_WORDS[i]} == --json ]] || words+=(\"${COMP_WORDS[i]}\")\n"
      "  done\n"
      "  if ((${#words[@]} == 0)); then\n"
      "    COMPREPLY=($(compgen -W \"--json --help --version --snapshot --completion",
      tool.name, tool.name, tool.name);
  for (size_t i = 0; i < tool.commandCount; i++) printf(" %s", tool.commands[i]->name);
  fputs(
      "\" -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  if ((${#words[@]} == 1)); then\n"
      "    case ${words[0]} in\n",
      stdout);
  for (size_t n = 0; n < tool.commandCount; n++) {
    const Command &c = *tool.commands[n];
    printf("      %s) COMPREPLY=($(compgen -W \"--help --json", c.name);
    for (size_t i = 0; i < c.formCount; i++)
      if (c.forms[i].action && (i == 0 || c.forms[i - 1].action == nullptr ||
                                strcmp(c.forms[i - 1].action, c.forms[i].action) != 0))
        printf(" %s", c.forms[i].action);
    if (strcmp(c.name, "status") == 0)
      for (const StatusNameRow &row : kStatusNameRows) printf(" %s", row.name);
    printf("\" -- \"$cur\")) ;;\n");
  }
  printf(
      "      --completion) COMPREPLY=($(compgen -W \"bash\" -- \"$cur\")) ;;\n"
      "    esac\n"
      "    ((${#COMPREPLY[@]})) && return\n"
      "  fi\n"
      "  COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      "}\n"
      "complete -F _%s %s\n",
      tool.name, tool.name);
}

// Takes --json out of the arguments, wherever it stands.
int TakeJsonFlag(int argc, char **argv) {
  int kept = 0;
  for (int i = 0; i < argc; i++) {
    if (i > 0 && strcmp(argv[i], "--json") == 0)
      json = true;
    else
      argv[kept++] = argv[i];
  }
  argv[kept] = nullptr;
  return kept;
}

// --snapshot FILE (or --snapshot=FILE) first: starts the tool again with
// the library's snapshot variable set and the option taken out.  -1 when
// the option is not there, else the exit status.
int TakeSnapshotOption(int argc, char **argv) {
  const char *file = nullptr;
  int at = 1;
  if (argc >= 3 && strcmp(argv[1], "--snapshot") == 0) {
    file = argv[2];
    at = 3;
  } else if (argc >= 2 && strncmp(argv[1], "--snapshot=", 11) == 0) {
    file = argv[1] + 11;
    at = 2;
  } else if (argc >= 2 && strcmp(argv[1], "--snapshot") == 0) {
    file = "";
  } else {
    return -1;
  }
  if (*file == '\0') {
    fprintf(stderr, "%s: --snapshot needs a FILE\n", Name());
    return kUsage;
  }
  std::vector<char *> args{argv[0]};
  char jsonFlag[] = "--json";
  if (json) args.push_back(jsonFlag);
  for (int i = at; i < argc; i++) args.push_back(argv[i]);
  args.push_back(nullptr);
  if (setenv(kSnapshotVariable, file, 1) != 0) return FailWith(std::string("setenv: ") + strerror(errno));
  execv("/proc/self/exe", args.data());
  return FailWith(std::string("starting again with the snapshot: ") + strerror(errno));
}

// A snapshot named for the library that it did not take: the library
// refuses every call it gates, and the rest would quietly answer from the
// host instead of the file.
bool SnapshotRefused() {
  const char *file = getenv(kSnapshotVariable);
  if (file == nullptr || *file == '\0' || HyxuserCompat_VerifyHSISigniture() == HYX_OK) return false;
  FailWith(Shown(file) + ": the snapshot did not load");
  return true;
}

void PrintJsonError() {
  JsonWriter out(stdout);
  out.BeginObject();
  out.Key("error");
  out.BeginObject();
  const StatusNameRow *row = Status_Row(failure.status);
  int err = Status_CarriedErrno(failure.status);
  const char *errName = err ? strerrorname_np(err) : nullptr;
  out.Field("name", errName ? errName : Status_ToName(failure.status));
  out.Field("code", failure.status);
  out.Field("message", err ? strerror(err) : row ? row->message : "Unknown status");
  out.Field("what", failure.what.c_str());
  out.EndObject();
  out.EndObject();
}

int RunCommand(const Tool &tool, const Command &c, int argc, char **argv) {
  currentCommand = &c;
  if (json) {
    jsonBuffer = open_memstream(&jsonText, &jsonSize);
    if (jsonBuffer == nullptr) return FailWith(std::string("memory: ") + strerror(errno));
  }
  int result = c.run(argc, argv);
  if (jsonBuffer) {
    fclose(jsonBuffer);
    jsonBuffer = nullptr;
    if (!failed && result != kUsage)
      fwrite(jsonText, 1, jsonSize, stdout);
    else if (failure.set)
      PrintJsonError();
    free(jsonText);
    jsonText = nullptr;
  }
  if (result == kUsage) PrintCommandUsage(tool, stderr, c, ActionNamed(c, argc > 0 ? argv[0] : nullptr));
  return result;
}

}  // namespace

bool JsonOutput() { return json; }

FILE *Out() { return jsonBuffer ? jsonBuffer : stdout; }

std::string StatusText(HYX_ReturnStatus status) {
  char text[512];
  int err = Status_CarriedErrno(status);
  const char *errName = err ? strerrorname_np(err) : nullptr;
  const StatusNameRow *row = Status_Row(status);
  if (err)
    snprintf(text, sizeof text, "%s (0x%08x): %s", errName ? errName : "HYX_GENERIC_LINUX_ERROR", status,
             strerror(err));
  else
    snprintf(text, sizeof text, "%s (0x%08x): %s", Status_ToName(status), status,
             row ? row->message : "Unknown status");
  return text;
}

int Fail(const std::string &what, HYX_ReturnStatus status) {
  const char *snapshot = getenv(kSnapshotVariable);
  if (snapshot != nullptr && *snapshot != '\0' && status == HYX_READ_ERROR)
    fprintf(stderr, "%s: %s: not recorded in the snapshot %s (%s)\n", Name(), what.c_str(),
            Shown(snapshot).c_str(), StatusText(status).c_str());
  else
    fprintf(stderr, "%s: %s: %s\n", Name(), what.c_str(), StatusText(status).c_str());
  struct utsname host;
  if (status == HYX_CHECKSUM_MISMATCH && uname(&host) == 0 && strcmp(host.sysname, kHostKernel) != 0 &&
      getenv(kSnapshotVariable) == nullptr)
    fprintf(stderr,
            "%s: this is not a hypervisor host (the kernel is %s); run it on one, or on a simulated one:\n"
            "  hyxsim -- %s ...\n",
            Name(), host.sysname, Name());
  if (!failure.set) failure = Failure{true, what, status};
  failed = true;
  return kFailed;
}

int FailWith(const std::string &what) {
  fprintf(stderr, "%s: %s\n", Name(), what.c_str());
  failed = true;
  return kFailed;
}

int UsageError(const std::string &what) {
  failed = true;
  if (currentCommand)
    fprintf(stderr, "%s: %s: %s\n", Name(), currentCommand->name, what.c_str());
  else
    fprintf(stderr, "%s: %s\n", Name(), what.c_str());
  return kUsage;
}

int WrongCount(int argc, char **argv, int most, const char *missing) {
  if (argc > most) return UsageError("not expected: " + Shown(argv[most]));
  return UsageError(std::string("missing ") + missing);
}

std::string Shown(const char *argument) {
  size_t length = strlen(argument);
  if (length <= kShownBytes) return argument;
  return std::string(argument, kShownBytes) + "... (" + std::to_string(length) + " bytes)";
}

int PrintDone(const char *key) {
  if (JsonOutput()) {
    JsonWriter out(Out());
    out.BeginObject();
    out.Field(key, true);
    out.EndObject();
  }
  return 0;
}

int Main(const Tool &tool, int argc, char **argv) {
  current = &tool;
  argc = TakeJsonFlag(argc, argv);
  int restart = TakeSnapshotOption(argc, argv);
  if (restart >= 0) return restart;
  if (argc < 2) {
    fprintf(stderr, "%s: no command given\n", tool.name);
    PrintTopUsage(tool, stderr);
    return kUsage;
  }
  const char *first = argv[1];
  if (IsHelp(first)) {
    const Command *c = argc >= 3 ? CommandNamed(tool, argv[2]) : nullptr;
    if (argc >= 3 && c == nullptr) {
      fprintf(stderr, "%s: --help: no command %s\n", tool.name, Shown(argv[2]).c_str());
      PrintTopUsage(tool, stderr);
      return kUsage;
    }
    if (c)
      PrintCommandUsage(tool, stdout, *c, ActionNamed(*c, argc >= 4 ? argv[3] : nullptr));
    else
      PrintTopUsage(tool, stdout);
    return 0;
  }
  if (strcmp(first, "--version") == 0) {
    printf("%s %s\n", tool.name, HYX_TOOLS_VERSION);
    return 0;
  }
  if (strcmp(first, "--completion") == 0) {
    if (argc == 3 && strcmp(argv[2], "bash") == 0) {
      PrintBashCompletion(tool);
      return 0;
    }
    if (argc < 3)
      fprintf(stderr, "%s: --completion needs a shell: bash\n", tool.name);
    else if (argc > 3)
      fprintf(stderr, "%s: --completion takes one shell: bash\n", tool.name);
    else
      fprintf(stderr, "%s: --completion: no completion for %s; there is one for bash\n", tool.name,
              Shown(argv[2]).c_str());
    return kUsage;
  }
  if (first[0] == '-') {
    fprintf(stderr, "%s: unknown option %s\n", tool.name, Shown(first).c_str());
    PrintTopUsage(tool, stderr);
    return kUsage;
  }
  const Command *c = CommandNamed(tool, first);
  if (c == nullptr) {
    fprintf(stderr, "%s: no command %s\n", tool.name, Shown(first).c_str());
    PrintTopUsage(tool, stderr);
    return kUsage;
  }
  for (int i = 2; i < argc; i++) {
    if (IsHelp(argv[i])) {
      PrintCommandUsage(tool, stdout, *c, ActionNamed(*c, argc > 2 ? argv[2] : nullptr));
      return 0;
    }
  }
  if (SnapshotRefused()) return kFailed;
  return RunCommand(tool, *c, argc - 2, argv + 2);
}

}  // namespace cli
