// The shipped library against its export manifest, both ways.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "elf_image.h"

namespace {

struct Manifest {
  std::map<std::string, std::string> nodes;  // node -> parent
  std::set<ElfExport> exports;
};

Manifest ReadManifest(const std::string &path) {
  Manifest m;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string kind, a, b, c;
    if (!(fields >> kind)) continue;
    fields >> a >> b >> c;
    if (kind == "node") m.nodes[a] = b;
    if (kind == "export") m.exports.insert({a, b, c == "default"});
  }
  return m;
}

std::string Env(const char *name) {
  const char *value = getenv(name);
  return value ? value : "";
}

class AbiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    image_ = new ElfImage(ReadElfImage(Env("HYX_LIBRARY")));
    manifest_ = new Manifest(ReadManifest(Env("HYX_MANIFEST")));
  }
  static void TearDownTestSuite() {
    delete image_;
    delete manifest_;
  }
  void SetUp() override {
    ASSERT_EQ(image_->error, "");
    ASSERT_FALSE(manifest_->nodes.empty()) << "no manifest at " << Env("HYX_MANIFEST");
  }
  static ElfImage *image_;
  static Manifest *manifest_;
};
ElfImage *AbiTest::image_;
Manifest *AbiTest::manifest_;

std::string Describe(const ElfExport &e) { return e.name + (e.isDefault ? "@@" : "@") + e.node; }

TEST_F(AbiTest, LibraryHasNoSonameAndItsVersionsCarryTheBaseName) {
  EXPECT_FALSE(image_->hasSoname);
  EXPECT_EQ(image_->baseVersionName, "libhyxuser.so");
}

TEST_F(AbiTest, EveryManifestNodeIsDefinedWithItsParentAndNoOther) {
  EXPECT_EQ(manifest_->nodes.size(), 34u);
  EXPECT_EQ(image_->versions, manifest_->nodes);
}

TEST_F(AbiTest, ExportsMatchTheManifestBothWays) {
  for (const ElfExport &e : manifest_->exports)
    EXPECT_TRUE(image_->exports.count(e)) << "missing from the library: " << Describe(e);
  for (const ElfExport &e : image_->exports)
    EXPECT_TRUE(manifest_->exports.count(e)) << "exported but not in the manifest: " << Describe(e);
}

TEST_F(AbiTest, PrivateNodeExportsNothing) {
  for (const ElfExport &e : image_->exports) EXPECT_NE(e.node, "NORVEX_HYXUSER_PRIVATE") << e.name;
}

TEST_F(AbiTest, NeedsOnlyGlibc) {
  if (!Env("HYX_SANITIZE").empty()) GTEST_SKIP() << "sanitizer runtimes are linked in";
  static const std::set<std::string> kGlibc = {"libc.so.6",
                                               "libm.so.6",
                                               "libdl.so.2",
                                               "libpthread.so.0",
                                               "librt.so.1",
                                               "ld-linux-x86-64.so.2",
                                               "ld-linux-aarch64.so.1"};
  for (const std::string &lib : image_->needed) EXPECT_TRUE(kGlibc.count(lib)) << "needs " << lib;
}

}  // namespace
