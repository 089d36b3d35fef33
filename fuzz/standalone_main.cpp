// Runs a fuzz target without libFuzzer (compilers other than clang): the
// files named on the command line, then a fixed number of pseudo-random
// inputs from a fixed seed, so the run is the same every time.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '-') continue;  // libFuzzer options
    std::ifstream file(argv[i], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::mt19937 rng(20240607);
  std::vector<uint8_t> bytes;
  for (int run = 0; run < 3000; run++) {
    bytes.resize(rng() % 512);
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  printf("3000 inputs passed\n");
  return 0;
}
