// hyxhsi: a browser of the host's system-information tree and the kernel's
// storage lists, through the library's own client.  `hyxhsi COMMAND ARGS`;
// this list is the one description of the tool: the help at every level,
// the manual page and the bash completion are made from it.
#include "hyxhsi.h"

#include <iterator>

namespace {

const cli::Command *const kCommands[] = {
    &hyxhsi::kLsCommand,
    &hyxhsi::kGetCommand,
    &hyxhsi::kTypesCommand,
    &hyxhsi::kStorageCommand,
};

constexpr char kNotes[] =
    "PATH names a node: its names joined by \"/\" (\"net/pNics/properties\"); a\n"
    "module's node is \"MODULE:path\" (\"nfs41client:mounts/info\"), \"MODULE:\" the\n"
    "module's top.  ARGS are the instance values, outermost first.\n";

}  // namespace

int main(int argc, char **argv) {
  const cli::Tool tool{"hyxhsi", kCommands, std::size(kCommands), kNotes};
  return cli::Main(tool, argc, argv);
}
