// A snapshot of one host's system-information tree (hsiCacheFormat.h: node
// definitions, recorded gets and lists keyed by their instance values), read
// into the same node tables and value stores the server answers the
// profile's host from.
#pragma once

#include <deque>
#include <string>

#include "hsiStore.h"

namespace hyxsim {

struct HsiSnapshot {
  std::string build;              // what the signature exchange writes back
  std::string signature;          // the only interface signature the host accepts
  HsiModule kernel;               // the static nodes (module id 0)
  std::deque<HsiModule> modules;  // the kernel modules, in file order
};

// Reads the snapshot at path and checks every record the server will read:
// the block chain and trailer, every offset inside the data area, node slots
// inside their module, definitions that name their own slot and whose
// parents are described, parameter records of a known type, texts
// terminated, entries with as many instance values as their node takes.
// `interface` is the simulated kernel's own table: when the file was
// recorded against the same interface signature, it describes the static
// nodes the file leaves out.  False with the first fault in error.
bool HsiReadSnapshot(const std::string &path, const HsiTableSet &interface, HsiSnapshot &snapshot,
                     std::string &error);

}  // namespace hyxsim
