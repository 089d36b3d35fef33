// The parameter-list case: sixteen 32-byte strings appended to a list sized
// for them and read back, and a std::vector<std::string> doing the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hyxsysinfo/hsiParams.h"

namespace hsi_params_cases {

constexpr int kStrings = 16;
constexpr size_t kLength = 32;

inline const std::vector<std::string> &Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < kStrings; i++)
      t.push_back(std::string(kLength - 2, static_cast<char>('a' + i)) + "%d");
    return t;
  }();
  return texts;
}

// Builds, reads back and frees one list; returns a sum of the bytes read.
inline size_t BuildList(const std::vector<std::string> &texts) {
  HsiParamList list = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, kStrings, kStrings * (kLength + 1), 0);
  for (const std::string &t : texts) HsiParamList_AddString(list, t.c_str());
  size_t total = 0;
  for (uint32_t i = 0; i < kStrings; i++) {
    const char *s;
    HsiParamList_GetString(list, i, &s);
    total += s[kLength - 1];
  }
  HsiParamList_Free(list);
  return total;
}

inline size_t BuildVector(const std::vector<std::string> &texts) {
  std::vector<std::string> list;
  list.reserve(kStrings);
  for (const std::string &t : texts) list.emplace_back(t.c_str());
  size_t total = 0;
  for (uint32_t i = 0; i < kStrings; i++) total += list[i].c_str()[kLength - 1];
  return total;
}

}  // namespace hsi_params_cases
