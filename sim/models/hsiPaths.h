// Node paths over the kernel's node tables: the one reading of a path that
// the system-information server, the call trace and hyxsim's option check
// share.  Nothing here depends on the host profile, so hyxsim links it with
// the generated tables alone.
#pragma once

#include <cstdint>
#include <string>

#include "hyxsysinfo/hsiDefs.h"

namespace hyxsim {

// A node table: the kernel's static nodes (ids from 0, node 0 the root) or
// one module's nodes (ids from HSI_MODULE_NODE_BASE, that id its root).
struct HsiTableSet {
  const HsiNodeDef *nodes;
  uint32_t nodeCount;
  const char *signature;
  const HsiTypeDef *types;
  uint32_t typeCount;
  uint32_t base = 0;
  // A snapshot's table: which ids it describes (null: every id in range).
  const uint8_t *described = nullptr;
  bool Has(uint32_t id) const {
    return id >= base && id - base < nodeCount && (described == nullptr || described[id - base]);
  }
  const HsiNodeDef &Node(uint32_t id) const { return nodes[id - base]; }
};

// The kernel's static tables in the interface's own numbering.  A renumbered
// kernel names the same nodes by the same paths, under other ids.
const HsiTableSet &OwnHsiTables();

// The node's id by path, its names joined by "/" or "_" ("net/pNics/properties",
// "net_pNics_properties"); HSI_NO_NODE when absent.
uint32_t HsiNodeByPath(const HsiTableSet &tables, const std::string &path);

// Appends the path of node as the tools spell it ("net/pNics/properties")
// to out.  False for the root or a node the tables lack.
bool HsiAppendNodePath(const HsiTableSet &tables, uint32_t node, std::string &out);

// The prefix a --trace-nodes value names, spelt as the trace spells node
// paths: a node of the kernel's tree in either spelling ("net/pNics",
// "net_pNics", a trailing "/" dropped), or a module's ("MODULE:" or
// "MODULE:path", taken as given: the modules are the host's).  False when
// the value names no node of the kernel's tree.
bool HsiTraceNodePrefix(const HsiTableSet &tables, const std::string &given, std::string &prefix);

// Why a --trace-nodes value is refused, after `shown` (the value as the
// message shows it): "\"bogus\" names no system-information node (...)".
std::string HsiUnknownNodeText(const std::string &shown);

}  // namespace hyxsim
