// hyxinfo: a command-line view of what libhyxuser can tell and do on its
// host.  `hyxinfo COMMAND ...`; each command lives in the source of its
// family.
#include "hyxinfo.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hyxsysinfo/hsiLoad.h"

namespace hyxinfo {
namespace {

constexpr Command kCommands[] = {
    {"status",
     "status CODE       name, message, errno and PAM value of a status code\n"
     "       status --all      the whole status table\n",
     RunStatus},
    {"host", "host              the kernel and whether it speaks the library's interfaces\n", RunHost},
    {"notify",
     "notify --severity info|warning|error --component C --kb K TEXT\n"
     "                         an observation to the observation daemon\n",
     RunNotify},
    {"trap",
     "trap OID [OID:TYPE:VALUE ...]\n"
     "                         an SNMP trap; TYPE is integer, string, oid, gauge, timeticks or a code 0-6\n",
     RunTrap},
    {"event",
     "event TYPEID [--severity info|warning|error|N] [KEY=VALUE ...]\n"
     "                         an event to the management daemon's event log\n"
     "       event --throttle  milliseconds until the next event may pass, and the period\n",
     RunEvent},
    {"pam", "pam check SERVICE USER   a password (read from stdin) and account through PAM\n", RunPam},
    {"version", "version           the host kernel's product and build\n", RunVersion},
    {"uptime", "uptime            time since the host started\n", RunUptime},
    {"acpi", "acpi SIG [INSTANCE] [-o FILE]   an ACPI table: hex dump, or its bytes to FILE\n", RunAcpi},
    {"smbios",
     "smbios [-o FILE]  the BIOS, system and processor structures (or the raw block to FILE)\n"
     "       smbios raw        hex dump of the SMBIOS data block\n",
     RunSmbios},
    {"uefi",
     "uefi list         names of the firmware's UEFI variables\n"
     "       uefi get NAME     a variable's attributes and contents\n"
     "       uefi set NAME ATTRS FILE   write a variable (FILE - is stdin; empty contents delete)\n"
     "       uefi rm NAME      delete a variable\n",
     RunUefi},
    {"nics", "nics              the physical NICs: link, speed, MAC, capabilities\n", RunNics},
    {"interfaces", "interfaces        the default TCP/IP stack's interfaces: MTU, MAC, IPv4\n",
     RunInterfaces},
    {"storage",
     "storage adapters  adapters, their PCI location and the devices on active paths\n"
     "       storage devices   devices: next-generation NVMe, paths, inquiry page 0x83\n"
     "       storage paths     every path: adapter, channel, target, LUN and device\n"
     "       storage pci ADAPTER   an adapter's PCI location\n",
     RunStorage},
    {"vm", "vm WORLDID        the virtual machine a world belongs to\n", RunVm},
    {"nvd", "nvd caps          the NVDIMM driver's capabilities\n", RunNvd},
    {"hxfs",
     "hxfs hosts PATH   the hosts heartbeating on the HXFS volume holding PATH\n"
     "       hxfs is PATH      whether PATH lies on an HXFS volume\n",
     RunHxfs},
    {"hsi",
     "hsi ls [PATH [ARGS]]    a node of the system-information tree, its children, modules, instances\n"
     "       hsi get PATH [ARGS]     a leaf's value decoded through its type\n"
     "       hsi types PATH    the node's data types\n"
     "                         PATH: net/pNics/properties, net_pNics_properties, MODULE:path;\n"
     "                         ARGS: instance values, outermost first\n",
     RunHsi},
};

void PrintUsage(FILE *to) {
  fputs("usage: hyxinfo [--json] [--snapshot FILE] COMMAND [ARGS]\n", to);
  fputs(
      "       --snapshot FILE   answer from a system-information cache file (hyxsnap) instead of the host\n",
      to);
  for (const Command &c : kCommands) fprintf(to, "       %s", c.usage);
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

// The library turns its cache on while it loads, so --snapshot FILE is
// handed to it through the environment and hyxinfo starts again, without
// the option.  The restarted hyxinfo refuses to answer from the host when
// the file did not load (the library has said why on stderr).
constexpr char kRestartedVariable[] = "HYXINFO_SNAPSHOT_RESTARTED";

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
    fputs("hyxinfo: --snapshot needs a FILE\n", stderr);
    return hyxinfo::kUsage;
  } else {
    return -1;
  }
  if (*file == '\0') {
    fputs("hyxinfo: --snapshot needs a FILE\n", stderr);
    return hyxinfo::kUsage;
  }
  std::vector<char *> args{argv[0]};
  char json[] = "--json";
  if (hyxinfo::JsonOutput()) args.push_back(json);
  for (int i = at; i < argc; i++) args.push_back(argv[i]);
  args.push_back(nullptr);
  if (setenv(HSI_SNAPSHOT_VARIABLE, file, 1) != 0 || setenv(kRestartedVariable, "1", 1) != 0) {
    perror("hyxinfo: setenv");
    return hyxinfo::kFailed;
  }
  execv("/proc/self/exe", args.data());
  fprintf(stderr, "hyxinfo: restarting with the snapshot: %s\n", strerror(errno));
  return hyxinfo::kFailed;
}

int main(int argc, char **argv) {
  using namespace hyxinfo;
  argc = TakeJsonFlag(argc, argv);
  int restart = TakeSnapshotOption(argc, argv);
  if (restart >= 0) return restart;
  bool restarted = getenv(kRestartedVariable) != nullptr;
  unsetenv(kRestartedVariable);
  if (!FollowSnapshot() && restarted) {
    fprintf(stderr, "hyxinfo: %s: the snapshot did not load\n", getenv(HSI_SNAPSHOT_VARIABLE));
    return kFailed;
  }
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  for (const Command &c : kCommands) {
    if (argc < 2 || strcmp(argv[1], c.name) != 0) continue;
    int result = c.run(argc - 2, argv + 2);
    return result == kUsage ? UsageOf(c) : result;
  }
  PrintUsage(stderr);
  return kUsage;
}
