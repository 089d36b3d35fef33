// hyxsnap: records the host's system-information tree into a cache file
// that the library (HYXUSER_HSI_SNAPSHOT) and hyxinfo --snapshot answer
// from: every node definition with its data type, every instance list and
// every readable value, for every combination of instances, with the
// status of the calls that failed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "hsiCacheWriter.h"
#include "hsiWalk.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/hsiLoad.h"
#include "hyxsysinfo/hsiNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"

namespace {

constexpr char kUsage[] =
    "usage: hyxsnap [-o FILE] [--block-size BYTES] [NODE-PATH...]\n"
    "       hyxsnap --help | --version | --completion bash\n"
    "\n"
    "Records the host's system-information tree into a cache file: node\n"
    "definitions and data types, instance lists and values.  With paths\n"
    "(e.g. net/pNics or nfs41client:mounts), lists and values only of the\n"
    "subtrees they name (and the instances above them); definitions of all.\n"
    "  -o FILE             where to write it (default: standard output, not a terminal)\n"
    "  --block-size BYTES  split the file's data area into blocks of at most BYTES\n"
    "Exit status: 0 written, 1 the host could not be read or the file written, 2 bad usage.\n";

int Fail(const std::string &what, HYX_ReturnStatus status) {
  fprintf(stderr, "hyxsnap: %s: %s\n", what.c_str(), cli::StatusText(status).c_str());
  return 1;
}

// What was wrong with the command line, then the usage.
int Usage(const std::string &what) {
  fprintf(stderr, "hyxsnap: %s\n", what.c_str());
  fputs(kUsage, stderr);
  return 2;
}

constexpr char kCompletion[] =
    "# bash completion for hyxsnap, written by `hyxsnap --completion bash`\n"
    "_hyxsnap() {\n"
    "  local cur=${COMP_WORDS[COMP_CWORD]}\n"
    "  if [[ $cur == -* ]]; then\n"
    "    COMPREPLY=($(compgen -W \"-o --output --block-size --help --version --completion\" -- \"$cur\"))\n"
    "  else\n"
    "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
    "  fi\n"
    "}\n"
    "complete -F _hyxsnap hyxsnap\n";

struct Recorded {
  hsiwalk::Node node;
  const HsiTypeDef *type = nullptr;
  struct Get {
    hsiwalk::Args args;
    HYX_ReturnStatus status;
    std::vector<uint8_t> data;
  };
  struct List {
    hsiwalk::Args args;
    HYX_ReturnStatus status;
    hsiwalk::Args items;
  };
  std::vector<Get> gets;
  std::vector<List> lists;
};

// Keeps what the walk reports, in its order, and shows the counts on a
// terminal as it goes.
class Recorder : public hsiwalk::Visitor {
 public:
  Recorder() : progress_(isatty(STDERR_FILENO)) {}
  ~Recorder() override {
    for (Recorded &node : nodes_) hsiwalk::ReleaseType(node.type);
  }

  void OnModule(const hsiwalk::Module &module) override {
    for (const hsiwalk::Module &known : modules_)
      if (known.id == module.id) return;
    modules_.push_back(module);
  }
  void OnNode(const hsiwalk::Node &node) override {
    size_t known = nodes_.size();
    Recorded &recorded = At(node);
    if (nodes_.size() == known) return;
    if (hsiwalk::GetType(node, HSI_TYPE_OF_GET, &recorded.type) != HYX_OK) recorded.type = nullptr;
    Tick();
  }
  // A call made twice (two paths reaching the same node) is kept once.
  void OnList(const hsiwalk::Node &node, const hsiwalk::Args &args, HYX_ReturnStatus status,
              const hsiwalk::Args &items) override {
    Recorded &recorded = At(node);
    for (const Recorded::List &list : recorded.lists)
      if (list.args == args) return;
    recorded.lists.push_back({args, status, items});
    lists_++;
    Tick();
  }
  void OnGet(const hsiwalk::Node &node, const hsiwalk::Args &args, HYX_ReturnStatus status,
             const std::vector<uint8_t> &data) override {
    Recorded &recorded = At(node);
    for (const Recorded::Get &get : recorded.gets)
      if (get.args == args) return;
    recorded.gets.push_back({args, status, data});
    gets_++;
    Tick();
  }

  void EndProgress() {
    if (progress_ && shown_) fputs("\r\033[K", stderr);
  }

  std::vector<uint8_t> Write(const std::string &build, const std::string &signature,
                             uint32_t blockSize) const {
    hsicache::Writer writer;
    std::map<HsiModuleID, size_t> modules;
    modules[0] = writer.AddModule(0, "", static_cast<int32_t>(hsiTables.nodeCount));
    // A reader looks a module up by name prefix, in the reverse of the
    // file's order: a module whose name begins another's ("nfs", "nfsx")
    // is written after it, so that the reader meets it first.  Names in
    // descending byte order give that.
    std::vector<hsiwalk::Module> ordered = modules_;
    std::stable_sort(ordered.begin(), ordered.end(), [](const hsiwalk::Module &a, const hsiwalk::Module &b) {
      return a.name.compare(b.name) > 0;
    });
    for (const hsiwalk::Module &module : ordered) {
      // The module's node table holds every node recorded, whatever count
      // the host gave.
      uint32_t slots = module.nodeCount;
      for (const Recorded &recorded : nodes_)
        if (recorded.node.IsModuleNode() && recorded.node.module == module.id)
          slots = std::max(slots, recorded.node.Slot() + 1);
      modules[module.id] = writer.AddModule(module.id, module.name, static_cast<int32_t>(slots));
    }
    for (const Recorded &recorded : nodes_) {
      const hsiwalk::Node &node = recorded.node;
      auto module = modules.find(node.IsModuleNode() ? node.module : 0);
      if (module == modules.end()) continue;
      // A variable-length value is kept as the sized buffer a get of the
      // largest one fills: capacity, length, data.
      uint32_t length = node.def.getSize;
      if (node.def.variableLength) {
        size_t largest = 0;
        for (const Recorded::Get &get : recorded.gets) largest = std::max(largest, get.data.size());
        length = static_cast<uint32_t>(largest + sizeof(HsiSizedHeader));
      }
      if (!node.Readable()) length = 0;
      size_t index = writer.AddNode(module->second, node.Slot(), node.def.signature, length,
                                    reinterpret_cast<const uint8_t *>(&node.def), node.name, recorded.type);
      for (const Recorded::Get &get : recorded.gets) {
        if (!node.def.variableLength || get.status != HYX_OK) {
          writer.AddGet(index, get.args, get.status, get.data);
          continue;
        }
        HsiSizedHeader header{length - static_cast<uint32_t>(sizeof(HsiSizedHeader)),
                              static_cast<uint32_t>(get.data.size())};
        std::vector<uint8_t> sized(sizeof header + get.data.size());
        std::memcpy(sized.data(), &header, sizeof header);
        if (!get.data.empty()) std::memcpy(sized.data() + sizeof header, get.data.data(), get.data.size());
        writer.AddGet(index, get.args, get.status, sized);
      }
      for (const Recorded::List &list : recorded.lists)
        writer.AddList(index, list.args, list.status, list.items);
    }
    return writer.Finish(build, signature, blockSize);
  }

 private:
  Recorded &At(const hsiwalk::Node &node) {
    auto key = std::make_pair(node.IsModuleNode() ? node.module : 0, node.id);
    auto found = index_.find(key);
    if (found != index_.end()) return nodes_[found->second];
    index_[key] = nodes_.size();
    nodes_.push_back(Recorded{node, nullptr, {}, {}});
    return nodes_.back();
  }

  void Tick() {
    if (!progress_ || ++events_ % 64 != 0) return;
    fprintf(stderr, "\rhyxsnap: %zu nodes, %zu values, %zu lists", nodes_.size(), gets_, lists_);
    shown_ = true;
  }

  bool progress_;
  bool shown_ = false;
  size_t events_ = 0, gets_ = 0, lists_ = 0;
  std::vector<hsiwalk::Module> modules_;
  std::vector<Recorded> nodes_;
  std::map<std::pair<HsiModuleID, HsiNodeID>, size_t> index_;
};

// Writes bytes to path through a temporary file renamed into place, so a
// failed run leaves no half-written cache behind.  The temporary file is
// made afresh: whatever already stands at its name (a link planted there,
// another run's file) is neither followed nor overwritten, and the run
// fails.
bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  bool toStdout = path == "-";
  std::string temporary = path + ".partial";
  int fd = toStdout ? STDOUT_FILENO
                    : open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "hyxsnap: %s: %s\n", temporary.c_str(), strerror(errno));
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int error = done == bytes.size() ? 0 : errno ? errno : EIO;
  if (!toStdout) {
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) unlink(temporary.c_str());
  }
  if (error != 0) fprintf(stderr, "hyxsnap: %s: %s\n", path.c_str(), strerror(error));
  return error == 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string output = "-";
  uint32_t blockSize = 0;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      printf("hyxsnap %s\n", HYX_TOOLS_VERSION);
      return 0;
    }
    if (arg == "--completion") {
      if (i + 1 >= argc) return Usage("--completion needs a shell: bash");
      if (strcmp(argv[i + 1], "bash") != 0)
        return Usage("--completion: no completion for " + cli::Shown(argv[i + 1]) +
                     "; there is one for bash");
      fputs(kCompletion, stdout);
      return 0;
    }
    if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc) return Usage(arg + " needs a FILE");
      output = argv[++i];
    } else if (arg == "--block-size") {
      if (i + 1 >= argc) return Usage("--block-size needs a number of BYTES");
      const char *text = argv[++i];
      char *end = nullptr;
      errno = 0;
      unsigned long value = strtoul(text, &end, 0);
      if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value < 16 || value > 0x7fffffff)
        return Usage("--block-size is a number of bytes from 16 to 2147483647: " + cli::Shown(text));
      blockSize = static_cast<uint32_t>(value);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + cli::Shown(argv[i]));
    } else {
      paths.push_back(arg);
    }
  }
  if (output == "-" && isatty(STDOUT_FILENO)) {
    fputs("hyxsnap: not writing a cache file to a terminal (use -o FILE)\n", stderr);
    return 2;
  }

  char build[HSI_CACHE_BUILD_SIZE];
  const char *libraryBuild = nullptr;
  bool translated = false;
  HYX_ReturnStatus status = Hsi_GetBuildInfo(build, sizeof build, &libraryBuild, &translated);
  if (status != HYX_OK) return Fail("the host's build information", status);
  // A host that refuses the library's interface signature is recorded as
  // one: the file's signature then matches no library's.
  std::string signature = translated ? std::string(32, '0') : std::string(HSI_SIGNATURE);

  std::vector<hsiwalk::Node> starts;
  if (paths.empty()) paths.push_back("/");
  for (const std::string &path : paths) {
    hsiwalk::Node node;
    status = hsiwalk::Resolve(path, node);
    if (status != HYX_OK) return Fail(cli::Shown(path.c_str()), status);
    starts.push_back(node);
  }
  Recorder recorder;
  // Chosen subtrees still get every definition, so that paths resolve
  // from the file as they do on the host.
  if (!(paths.size() == 1 && starts[0].id == 0) && (status = hsiwalk::Describe(recorder)) != HYX_OK) {
    recorder.EndProgress();
    return Fail("reading the node definitions", status);
  }
  for (const hsiwalk::Node &node : starts) {
    status = hsiwalk::Walk(node, {}, recorder);
    if (status != HYX_OK) {
      recorder.EndProgress();
      return Fail("walking " + hsiwalk::PathOf(node), status);
    }
  }
  recorder.EndProgress();
  std::vector<uint8_t> file = recorder.Write(build, signature, blockSize);
  if (file.empty()) {
    fputs("hyxsnap: the tree does not fit a cache file\n", stderr);
    return 1;
  }
  return WriteFile(output, file) ? 0 : 1;
}
