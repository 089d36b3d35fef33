#include "hsiPaths.h"

#include <cstring>

#include "simhsi/hsiTablesSim.h"

namespace hyxsim {

const HsiTableSet &OwnHsiTables() {
  static const HsiTableSet own{simhsi::hsiTables.nodes, simhsi::hsiTables.nodeCount, simhsi::HSI_SIGNATURE,
                               simhsi::hsiTables.types, simhsi::hsiTables.typeCount};
  return own;
}

uint32_t HsiNodeByPath(const HsiTableSet &tables, const std::string &path) {
  for (uint32_t id = tables.base + 1; tables.Has(id); id++) {
    // Match the path from its end, one name per ancestor.
    size_t end = path.size();
    uint32_t at = id;
    bool match = true;
    while (match) {
      const HsiNodeDef &node = tables.Node(at);
      size_t length = strlen(node.name);
      if (length > end || path.compare(end - length, length, node.name) != 0) {
        match = false;
        break;
      }
      end -= length;
      if (node.parent == tables.base || !tables.Has(node.parent)) break;
      if (end == 0 || (path[end - 1] != '_' && path[end - 1] != '/')) match = false;
      end--;
      at = node.parent;
    }
    if (match && end == 0) return id;
  }
  return HSI_NO_NODE;
}

bool HsiAppendNodePath(const HsiTableSet &tables, uint32_t node, std::string &out) {
  if (!tables.Has(node) || node == tables.base) return false;
  std::string path;
  for (uint32_t at = node; at != tables.base && tables.Has(at); at = tables.Node(at).parent)
    path = std::string(tables.Node(at).name) + (path.empty() ? "" : "/") + path;
  out += path;
  return true;
}

bool HsiTraceNodePrefix(const HsiTableSet &tables, const std::string &given, std::string &prefix) {
  std::string path = given;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  prefix.clear();
  if (path.find(':') != std::string::npos) {
    prefix = path;
    return true;
  }
  return HsiAppendNodePath(tables, HsiNodeByPath(tables, path), prefix);
}

std::string HsiUnknownNodeText(const std::string &shown) {
  return "\"" + shown + "\" names no system-information node (names joined by \"/\", such as net/pNics)";
}

}  // namespace hyxsim
