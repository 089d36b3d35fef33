// Runs a fuzz target without libFuzzer (every lane but the clang fuzz
// build): each file named on the command line, and every file of each
// directory named (a committed corpus, in name order), then a fixed number
// of pseudo-random inputs from a fixed seed, so the run is the same every
// time.  With libFuzzer's -max_total_time=N it goes on generating inputs
// (from -seed=S, else the fixed seed) for N seconds, for a long run where
// libFuzzer itself is not available.  Each input sits in a heap block of exactly its size, so that the
// sanitizers see a read past its end.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void RunOne(const std::vector<uint8_t> &bytes) {
  uint8_t *copy = static_cast<uint8_t *>(malloc(bytes.empty() ? 1 : bytes.size()));
  if (copy == nullptr) abort();
  if (!bytes.empty()) memcpy(copy, bytes.data(), bytes.size());
  LLVMFuzzerTestOneInput(copy, bytes.size());
  free(copy);
}

bool RunFile(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  RunOne(bytes);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  size_t files = 0;
  long seconds = 0;
  unsigned long seed = 20240607;
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "-max_total_time=", 16) == 0) seconds = strtol(argv[i] + 16, nullptr, 10);
    if (strncmp(argv[i], "-seed=", 6) == 0) seed = strtoul(argv[i] + 6, nullptr, 10);
    if (argv[i][0] == '-') continue;  // other libFuzzer options
    std::error_code error;
    if (!std::filesystem::is_directory(argv[i], error)) {
      if (!RunFile(argv[i])) return 1;
      files++;
      continue;
    }
    std::vector<std::filesystem::path> paths;
    for (const auto &entry : std::filesystem::directory_iterator(argv[i], error))
      if (entry.is_regular_file()) paths.push_back(entry.path());
    if (error) {
      fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    std::sort(paths.begin(), paths.end());
    for (const auto &path : paths) {
      if (!RunFile(path)) return 1;
      files++;
    }
  }
  std::mt19937 rng(static_cast<std::mt19937::result_type>(seed));
  std::vector<uint8_t> bytes;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  unsigned long runs = 0;
  for (; runs < 3000 || std::chrono::steady_clock::now() < end; runs++) {
    bytes.resize(rng() % 512);
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
    RunOne(bytes);
  }
  printf("%zu files and %lu generated inputs passed\n", files, runs);
  return 0;
}
