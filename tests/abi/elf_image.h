// A read-only view of the dynamic interface of a 64-bit little-endian ELF
// shared object: what it exports, at which version, and what it needs.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct ElfExport {
  std::string name;
  std::string node;  // version node, "" when unversioned
  bool isDefault;    // name@@node rather than name@node
  auto operator<=>(const ElfExport &) const = default;
};

struct ElfImage {
  std::string error;  // non-empty when the file could not be read
  bool hasSoname = false;
  std::vector<std::string> needed;
  std::string baseVersionName;                  // the VER_FLG_BASE definition
  std::map<std::string, std::string> versions;  // node -> parent ("" for none)
  std::set<ElfExport> exports;                  // defined global symbols, nodes' own names excluded
};

ElfImage ReadElfImage(const std::string &path);
