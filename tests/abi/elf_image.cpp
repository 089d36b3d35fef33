#include "elf_image.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

struct Reader {
  std::vector<char> bytes;

  template <typename T>
  const T *At(uint64_t offset, uint64_t count = 1) const {
    if (offset > bytes.size() || count * sizeof(T) > bytes.size() - offset) return nullptr;
    return reinterpret_cast<const T *>(bytes.data() + offset);
  }
  std::string String(uint64_t tableOffset, uint64_t index) const {
    uint64_t at = tableOffset + index;
    if (at >= bytes.size()) return {};
    return std::string(bytes.data() + at, strnlen(bytes.data() + at, bytes.size() - at));
  }
};

const Elf64_Shdr *FindSection(const Reader &r, const Elf64_Ehdr &eh, uint32_t type) {
  const auto *sections = r.At<Elf64_Shdr>(eh.e_shoff, eh.e_shnum);
  if (!sections) return nullptr;
  for (int i = 0; i < eh.e_shnum; ++i)
    if (sections[i].sh_type == type) return &sections[i];
  return nullptr;
}

// Version index -> node name, and the verdef entries themselves.
std::map<uint16_t, std::string> ReadVersionDefinitions(const Reader &r, const Elf64_Ehdr &eh,
                                                       ElfImage &image) {
  std::map<uint16_t, std::string> byIndex;
  const Elf64_Shdr *verdef = FindSection(r, eh, SHT_GNU_verdef);
  if (!verdef) return byIndex;
  const auto *sections = r.At<Elf64_Shdr>(eh.e_shoff, eh.e_shnum);
  uint64_t strtab = sections[verdef->sh_link].sh_offset;
  uint64_t at = verdef->sh_offset;
  for (uint64_t i = 0; i < verdef->sh_info; ++i) {
    const auto *vd = r.At<Elf64_Verdef>(at);
    if (!vd) break;
    std::string name, parent;
    uint64_t auxAt = at + vd->vd_aux;
    for (int j = 0; j < vd->vd_cnt; ++j) {
      const auto *aux = r.At<Elf64_Verdaux>(auxAt);
      if (!aux) break;
      (j == 0 ? name : parent) = r.String(strtab, aux->vda_name);
      auxAt += aux->vda_next;
    }
    byIndex[vd->vd_ndx] = name;
    if (vd->vd_flags & VER_FLG_BASE)
      image.baseVersionName = name;
    else
      image.versions[name] = parent;
    if (vd->vd_next == 0) break;
    at += vd->vd_next;
  }
  return byIndex;
}

void ReadDynamic(const Reader &r, const Elf64_Ehdr &eh, ElfImage &image) {
  const Elf64_Shdr *dynamic = FindSection(r, eh, SHT_DYNAMIC);
  if (!dynamic) return;
  const auto *sections = r.At<Elf64_Shdr>(eh.e_shoff, eh.e_shnum);
  uint64_t strtab = sections[dynamic->sh_link].sh_offset;
  const auto *entries = r.At<Elf64_Dyn>(dynamic->sh_offset, dynamic->sh_size / sizeof(Elf64_Dyn));
  for (uint64_t i = 0; entries && i < dynamic->sh_size / sizeof(Elf64_Dyn); ++i) {
    if (entries[i].d_tag == DT_SONAME) image.hasSoname = true;
    if (entries[i].d_tag == DT_NEEDED) image.needed.push_back(r.String(strtab, entries[i].d_un.d_val));
  }
}

void ReadExports(const Reader &r, const Elf64_Ehdr &eh, const std::map<uint16_t, std::string> &nodes,
                 ElfImage &image) {
  const Elf64_Shdr *dynsym = FindSection(r, eh, SHT_DYNSYM);
  const Elf64_Shdr *versym = FindSection(r, eh, SHT_GNU_versym);
  if (!dynsym) return;
  const auto *sections = r.At<Elf64_Shdr>(eh.e_shoff, eh.e_shnum);
  uint64_t strtab = sections[dynsym->sh_link].sh_offset;
  uint64_t count = dynsym->sh_size / sizeof(Elf64_Sym);
  const auto *symbols = r.At<Elf64_Sym>(dynsym->sh_offset, count);
  const auto *versions = versym ? r.At<Elf64_Half>(versym->sh_offset, count) : nullptr;
  for (uint64_t i = 1; symbols && i < count; ++i) {
    const Elf64_Sym &s = symbols[i];
    int binding = ELF64_ST_BIND(s.st_info);
    if (s.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
    std::string name = r.String(strtab, s.st_name);
    uint16_t v = versions ? versions[i] : 0;
    auto node = nodes.find(v & 0x7fff);
    std::string nodeName = node == nodes.end() ? "" : node->second;
    if (s.st_shndx == SHN_ABS && name == nodeName) continue;  // the node's own marker symbol
    image.exports.insert({name, nodeName == image.baseVersionName ? "" : nodeName, !(v & 0x8000)});
  }
}

}  // namespace

ElfImage ReadElfImage(const std::string &path) {
  ElfImage image;
  std::ifstream in(path, std::ios::binary);
  Reader r{std::vector<char>(std::istreambuf_iterator<char>(in), {})};
  const auto *eh = r.At<Elf64_Ehdr>(0);
  if (!in.good() && !in.eof()) image.error = "cannot read " + path;
  if (!eh || memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_ident[EI_CLASS] != ELFCLASS64 ||
      eh->e_ident[EI_DATA] != ELFDATA2LSB) {
    image.error = path + " is not a 64-bit little-endian ELF file";
    return image;
  }
  auto nodes = ReadVersionDefinitions(r, *eh, image);
  ReadDynamic(r, *eh, image);
  ReadExports(r, *eh, nodes, image);
  return image;
}
