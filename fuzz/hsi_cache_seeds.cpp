// Writes the seed corpus of hsi_cache_fuzz: snapshots made with the shared
// writer (tests/support/hsi_cache_fixture.h).  Built in every build; its
// test holds the committed seeds to what it writes.  To write them again:
//   build/default/fuzz/hsi_cache_seeds fuzz/corpus/hsi_cache_fuzz
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hsi_cache_fixture.h"

namespace {

bool Save(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  // The same blocks with each length in the header word's 31-bit field
  // above the last-block bit, as some hosts write them.
  hsicache::Placement placement;
  std::vector<uint8_t> shifted = hsicachefixture::SampleFile(512, &placement);
  for (uint32_t block : placement.blocks) {
    uint32_t header;
    memcpy(&header, shifted.data() + block, sizeof header);
    header = (header & ~1u) << 1 | (header & 1u);
    memcpy(shifted.data() + block, &header, sizeof header);
  }
  hsicache::Writer empty;
  bool ok = Save(dir + "/empty", empty.Finish(hsicachefixture::kBuild, HSI_SIGNATURE)) &&
            Save(dir + "/sample", hsicachefixture::SampleFile()) &&
            Save(dir + "/sample-blocks", hsicachefixture::SampleFile(512)) &&
            Save(dir + "/sample-blocks-shifted", shifted) &&
            Save(dir + "/other-signature",
                 hsicachefixture::SampleWriter().Finish("other", std::string(32, '0'), 2048));
  return ok ? 0 : 1;
}
