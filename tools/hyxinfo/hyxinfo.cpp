// hyxinfo: a command-line view of what libhyxuser can tell and do on its
// host.  `hyxinfo COMMAND [ACTION] ARGS`; each command lives in the source
// of its family.  The table below is the one description of the commands:
// the help at every level, the manual page and the bash completion are
// made from it.
#include "hyxinfo.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace hyxinfo {
namespace {

constexpr Form kStatusForms[] = {
    {nullptr, "CODE|NAME", "name, message, errno and PAM value of a status code, by number or name",
     "{\"code\": number, \"name\": text, \"message\": text, \"errno\": number, \"pam\": number or null, "
     "\"known\": bool}"},
    {"list", "", "the whole status table (also: status --all)",
     "[{\"code\": number, \"name\": text, \"errno\": number, \"message\": text}, ...]"},
};
constexpr Form kHostForms[] = {
    {nullptr, "", "the kernel, and whether it speaks the library's interfaces",
     "{\"sysname\": text, \"release\": text, \"matches\": bool, \"status\": number, \"statusName\": text}"},
};
constexpr Form kNotifyForms[] = {
    {nullptr, "--severity info|warning|error|N --component C --kb K TEXT",
     "an observation to the observation daemon", "{\"sent\": true}"},
};
constexpr Form kTrapForms[] = {
    {nullptr, "OID [OID:TYPE:VALUE ...]",
     "an SNMP trap; TYPE is integer, string, oid, gauge, timeticks or a code 0-6", "{\"sent\": true}"},
    {"throttle", "", "milliseconds until the next trap may pass, and the period",
     "{\"remainingMs\": number, \"periodMs\": number}"},
};
constexpr Form kEventForms[] = {
    {nullptr, "TYPEID [--severity info|warning|error|N] [KEY=VALUE ...]",
     "an event to the management daemon's event log", "{\"posted\": true}"},
    {"throttle", "", "milliseconds until the next event may pass, and the period (also: event --throttle)",
     "{\"remainingMs\": number, \"periodMs\": number}"},
};
constexpr Form kPamForms[] = {
    {"check", "SERVICE USER", "a password (read from stdin, no echo) and account through PAM",
     "{\"user\": text, \"authenticated\": true, \"accountValid\": true}"},
};
constexpr Form kVersionForms[] = {
    {nullptr, "", "the host kernel's product and build",
     "{\"product\", \"productVersion\", \"buildVersion\", \"buildType\", \"buildDate\", \"buildTime\", "
     "\"releaseUpdate\", \"releasePatch\": text, \"build\": number}"},
};
constexpr Form kUptimeForms[] = {
    {nullptr, "", "time since the host started", "{\"microseconds\": number, \"seconds\": number}"},
};
constexpr Form kAcpiForms[] = {
    {nullptr, "SIG [INSTANCE]", "an ACPI table as a hex dump",
     "{\"signature\": text, \"instance\": number, \"length\": number, \"bytes\": hex text}"},
    {nullptr, "SIG [INSTANCE] -o FILE", "an ACPI table's bytes to FILE",
     "{\"signature\": text, \"instance\": number, \"length\": number, \"file\": text}"},
};
constexpr Form kSmbiosForms[] = {
    {nullptr, "", "the BIOS, system and processor structures",
     "{\"length\": number, \"bios\": null or {\"vendor\", \"version\", \"releaseDate\"}, \"system\": null or "
     "{\"manufacturer\", \"product\", \"version\", \"serial\", \"uuid\"}, \"processors\": [{\"socket\", "
     "\"manufacturer\", \"version\", \"maxSpeedMHz\", \"currentSpeedMHz\", \"cores\"}]}"},
    {nullptr, "-o FILE", "the raw SMBIOS data block to FILE", "{\"length\": number, \"file\": text}"},
    {"raw", "", "hex dump of the SMBIOS data block", "{\"length\": number, \"bytes\": hex text}"},
};
constexpr Form kUefiForms[] = {
    {"list", "", "names of the firmware's UEFI variables", "{\"variables\": [text, ...]}"},
    {"get", "NAME", "a variable's attributes and contents",
     "{\"name\": text, \"attributes\": number, \"length\": number, \"data\": hex text}"},
    {"set", "NAME ATTRS FILE", "write a variable (FILE - is stdin; empty contents delete)",
     "{\"name\": text, \"attributes\": number, \"length\": number}"},
    {"rm", "NAME", "delete a variable", "{\"name\": text, \"removed\": true}"},
};
constexpr Form kNicsForms[] = {
    {nullptr, "", "the physical NICs: link, speed, MAC, capabilities",
     "[{\"name\": text, \"linkUp\": bool, \"linkSpeed\": number (Mb/s), \"mac\": \"xx:xx:xx:xx:xx:xx\", "
     "\"hwCapSupported\": number, \"hwCapActivated\": number}, ...]"},
};
constexpr Form kInterfacesForms[] = {
    {nullptr, "", "the default TCP/IP stack's interfaces: MTU, MAC, IPv4",
     "[{\"name\": text, \"mtu\": number, \"tsoMss\": number, \"mac\": \"xx:xx:xx:xx:xx:xx\", "
     "\"ipv4Address\": \"a.b.c.d\", \"ipv4Netmask\": \"a.b.c.d\"}, ...]"},
};
constexpr Form kStorageForms[] = {
    {"adapters", "", "adapters, their PCI location and the devices on active paths",
     "[{\"name\": text, \"pci\": {\"bus\", \"slot\", \"function\": number} or null, \"activeDevices\": "
     "[text, ...]}, ...]"},
    {"devices", "", "devices: next-generation NVMe, paths, inquiry page 0x83",
     "[{\"uid\": text, \"nextgenNvme\": bool, \"paths\": number, \"vpd83\": hex text}, ...]"},
    {"paths", "", "every path: adapter, channel, target, LUN and device",
     "[{\"device\": text, \"adapter\": text, \"channel\", \"target\", \"lun\": number}, ...]"},
    {"pci", "ADAPTER", "an adapter's PCI location",
     "{\"adapter\": text, \"bus\": number, \"slot\": number, \"function\": number}"},
};
constexpr Form kVmForms[] = {
    {nullptr, "WORLDID", "the virtual machine a world belongs to",
     "{\"world\": number, \"uuid\": text, \"instanceUuid\": text, \"configPath\": text}"},
};
constexpr Form kNvdForms[] = {
    {"caps", "", "the NVDIMM driver's capabilities",
     "{\"maxNamespaces\": number, \"minNamespaceSize\": number, \"supportedFeatures\": number, "
     "\"features\": [names of the bits set]}"},
};
constexpr Form kHxfsForms[] = {
    {"hosts", "PATH", "the hosts heartbeating on the HXFS volume holding PATH",
     "{\"volume\": text, \"hosts\": [{\"slot\": number, \"uuid\": text, \"mac\": text, \"state\": number, "
     "\"timestamp\": number, \"thisHost\": bool}, ...]}"},
    {"is", "PATH", "whether PATH lies on an HXFS volume", "{\"path\": text, \"hxfs\": bool}"},
};

#define HYXINFO_FORMS(forms) forms, std::size(forms)

constexpr Command kCommands[] = {
    {"status", HYXINFO_FORMS(kStatusForms), RunStatus},
    {"host", HYXINFO_FORMS(kHostForms), RunHost},
    {"notify", HYXINFO_FORMS(kNotifyForms), RunNotify},
    {"trap", HYXINFO_FORMS(kTrapForms), RunTrap},
    {"event", HYXINFO_FORMS(kEventForms), RunEvent},
    {"pam", HYXINFO_FORMS(kPamForms), RunPam},
    {"version", HYXINFO_FORMS(kVersionForms), RunVersion},
    {"uptime", HYXINFO_FORMS(kUptimeForms), RunUptime},
    {"acpi", HYXINFO_FORMS(kAcpiForms), RunAcpi},
    {"smbios", HYXINFO_FORMS(kSmbiosForms), RunSmbios},
    {"uefi", HYXINFO_FORMS(kUefiForms), RunUefi},
    {"nics", HYXINFO_FORMS(kNicsForms), RunNics},
    {"interfaces", HYXINFO_FORMS(kInterfacesForms), RunInterfaces},
    {"storage", HYXINFO_FORMS(kStorageForms), RunStorage},
    {"vm", HYXINFO_FORMS(kVmForms), RunVm},
    {"nvd", HYXINFO_FORMS(kNvdForms), RunNvd},
    {"hxfs", HYXINFO_FORMS(kHxfsForms), RunHxfs},
};

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

void PrintTopUsage(FILE *to) {
  fputs(
      "usage: hyxinfo [--json] COMMAND [ACTION] [ARGS]\n"
      "       hyxinfo [COMMAND [ACTION]] --help\n"
      "       hyxinfo --completion bash\n"
      "\n",
      to);
  for (const Command &c : kCommands) PrintForms(to, c, nullptr, false);
  fputs(
      "\n"
      "--json anywhere on the line: one JSON value on stdout, in the shape that\n"
      "`hyxinfo COMMAND --help` gives.  Exit status: 0 success; 1 the library\n"
      "refused (status name, code and message on stderr); 2 bad usage.\n",
      to);
}

// The usage of one command, or of one of its actions.
void PrintCommandUsage(FILE *to, const Command &c, const char *action) {
  fprintf(to, "usage: hyxinfo [--json] %s%s%s ...\n\n", c.name, action ? " " : "", action ? action : "");
  PrintForms(to, c, action, true);
}

// The action word of a command line, when the command has one by that name.
const char *ActionOf(const Command &c, int argc, char **argv) {
  if (argc < 3) return nullptr;
  for (size_t i = 0; i < c.formCount; i++)
    if (c.forms[i].action && strcmp(c.forms[i].action, argv[2]) == 0) return c.forms[i].action;
  return nullptr;
}

bool IsHelp(const char *word) { return strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0; }

// The bash completion: command names, then each command's action words
// (and the status names for `status`), then file names.
void PrintBashCompletion() {
  fputs(
      "# bash completion for hyxinfo, written by `hyxinfo --completion bash`\n"
      "_hyxinfo() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} words=() i\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    [[ ${COMP_WORDS[i]} == --json ]] || words+=(\"${COMP_WORDS[i]}\")\n"
      "  done\n"
      "  if ((${#words[@]} == 0)); then\n"
      "    COMPREPLY=($(compgen -W \"--json --help --completion",
      stdout);
  for (const Command &c : kCommands) printf(" %s", c.name);
  fputs(
      "\" -- \"$cur\"))\n"
      "    return\n"
      "  fi\n"
      "  if ((${#words[@]} == 1)); then\n"
      "    case ${words[0]} in\n",
      stdout);
  for (const Command &c : kCommands) {
    printf("      %s) COMPREPLY=($(compgen -W \"--help --json", c.name);
    for (size_t i = 0; i < c.formCount; i++)
      if (c.forms[i].action) printf(" %s", c.forms[i].action);
    if (strcmp(c.name, "status") == 0)
      for (size_t i = 0; StatusNameAt(i) != nullptr; i++) printf(" %s", StatusNameAt(i));
    printf("\" -- \"$cur\")) ;;\n");
  }
  fputs(
      "      --completion) COMPREPLY=($(compgen -W \"bash\" -- \"$cur\")) ;;\n"
      "    esac\n"
      "    ((${#COMPREPLY[@]})) && return\n"
      "  fi\n"
      "  COMPREPLY=($(compgen -f -- \"$cur\"))\n"
      "}\n"
      "complete -F _hyxinfo hyxinfo\n",
      stdout);
}

}  // namespace
}  // namespace hyxinfo

namespace hyxinfo {
extern bool jsonOutput;
}

// Takes --json out of the arguments, wherever it stands.
int TakeJsonFlag(int argc, char **argv) {
  int kept = 0;
  for (int i = 0; i < argc; i++) {
    if (i > 0 && strcmp(argv[i], "--json") == 0)
      hyxinfo::jsonOutput = true;
    else
      argv[kept++] = argv[i];
  }
  argv[kept] = nullptr;
  return kept;
}

int main(int argc, char **argv) {
  using namespace hyxinfo;
  argc = TakeJsonFlag(argc, argv);
  if (argc == 2 && IsHelp(argv[1])) {
    PrintTopUsage(stdout);
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "--completion") == 0 && strcmp(argv[2], "bash") == 0) {
    PrintBashCompletion();
    return 0;
  }
  for (const Command &c : kCommands) {
    if (argc < 2 || strcmp(argv[1], c.name) != 0) continue;
    const char *action = ActionOf(c, argc, argv);
    for (int i = 2; i < argc; i++) {
      if (IsHelp(argv[i])) {
        PrintCommandUsage(stdout, c, action);
        return 0;
      }
    }
    int result = c.run(argc - 2, argv + 2);
    if (result == kUsage) PrintCommandUsage(stderr, c, action);
    return result;
  }
  if (argc >= 2) fprintf(stderr, "hyxinfo: no command %s\n", argv[1]);
  PrintTopUsage(stderr);
  return kUsage;
}
