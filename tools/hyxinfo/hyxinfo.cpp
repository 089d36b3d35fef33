// hyxinfo: a command-line view of what libhyxuser can tell and do on its
// host.  `hyxinfo COMMAND [ACTION] ARGS`; each command lives in the source
// of its family.  This list is the one description of the tool: the help
// at every level, the manual page and the bash completion are made from it.
#include "hyxinfo.h"

#include <iterator>

namespace {

const cli::Command *const kCommands[] = {
    &hyxinfo::kStatusCommand,     &hyxinfo::kHostCommand,    &hyxinfo::kNotifyCommand,
    &hyxinfo::kTrapCommand,       &hyxinfo::kEventCommand,   &hyxinfo::kPamCommand,
    &hyxinfo::kVersionCommand,    &hyxinfo::kUptimeCommand,  &hyxinfo::kAcpiCommand,
    &hyxinfo::kSmbiosCommand,     &hyxinfo::kUefiCommand,    &hyxinfo::kNicsCommand,
    &hyxinfo::kInterfacesCommand, &hyxinfo::kStorageCommand, &hyxinfo::kVmCommand,
    &hyxinfo::kNvdCommand,        &hyxinfo::kHxfsCommand,
};

constexpr char kNotes[] =
    "The kernel's lists of adapters and devices and its system-information tree\n"
    "are shown by hyxhsi(1).\n";

}  // namespace

int main(int argc, char **argv) {
  const cli::Tool tool{"hyxinfo", kCommands, std::size(kCommands), kNotes};
  return cli::Main(tool, argc, argv);
}
