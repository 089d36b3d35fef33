// UEFI variables through the shipped library, against the simulated host's
// variable store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/kernelCall.h"
#include "kernel_answers.h"

namespace {

constexpr uint64_t kGet = KERNEL_CALL_HSI_GET, kGetSize = KERNEL_CALL_HSI_GET_SIZE,
                   kSet = KERNEL_CALL_HSI_SET, kList = KERNEL_CALL_HSI_LIST;
constexpr HYX_ReturnStatus kOk = HYX_OK, kBadParam = HYX_BAD_PARAM, kNotFound = HYX_NOT_FOUND;

bool OnPlainLinux() {
  return std::string(getenv("HYX_TEST_PROFILE") ? getenv("HYX_TEST_PROFILE") : "") == "plain-linux";
}

std::vector<std::string> Names() {
  char **names = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(HyxuserUefi_GetVariableList(&names, &count), kOk);
  std::vector<std::string> result;
  for (uint32_t i = 0; i < count; i++) {
    result.push_back(names[i]);
    free(names[i]);
  }
  free(names);
  return result;
}

bool Listed(const std::string &name) {
  std::vector<std::string> names = Names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

class Uefi : public ::testing::Test {
 protected:
  void SetUp() override {
    if (OnPlainLinux()) GTEST_SKIP();
  }
  void TearDown() override { HyxSim_ClearHandlers(); }
};

TEST_F(Uefi, TheHostsVariablesAreListedAndRead) {
  std::vector<std::string> names = Names();
  EXPECT_EQ(names.size(), 4u);
  EXPECT_TRUE(Listed("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c"));
  uint32_t attributes = 0;
  uint64_t length = 0;
  void *data = nullptr;
  ASSERT_EQ(
      HyxuserUefi_GetVariable("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c", &attributes, &length, &data),
      kOk);
  EXPECT_EQ(attributes, 7u);
  ASSERT_EQ(length, 8u);
  EXPECT_EQ(memcmp(data, "\0\0\1\0\2\0\3\0", 8), 0);
  free(data);
}

TEST_F(Uefi, SetReplaceAndRemoveRoundTrip) {
  const char *name = "HyxRoundTrip-1b2c3d4e-0000-4000-8000-00e098032b8c";
  ASSERT_EQ(HyxuserUefi_SetVariable(name, 7, 3, "abc"), kOk);
  ASSERT_EQ(HyxuserUefi_SetVariable(name, 3, 5, "hello"), kOk);
  uint32_t attributes = 0;
  uint64_t length = 0;
  void *data = nullptr;
  ASSERT_EQ(HyxuserUefi_GetVariable(name, &attributes, &length, &data), kOk);
  EXPECT_EQ(attributes, 3u);
  ASSERT_EQ(length, 5u);
  EXPECT_EQ(memcmp(data, "hello", 5), 0);
  free(data);
  EXPECT_TRUE(Listed(name));

  ASSERT_EQ(HyxuserUefi_RemoveVariable(name), kOk);
  EXPECT_FALSE(Listed(name));
  data = &attributes;
  length = 9;
  EXPECT_EQ(HyxuserUefi_GetVariable(name, &attributes, &length, &data), kNotFound);
  EXPECT_EQ(HyxuserUefi_RemoveVariable(name), kNotFound);
}

// Records the sized input of every set, then lets the host answer.
struct SeenSet {
  uint32_t length = 0;
  uint32_t attributes = 0;
  int calls = 0;
};

void WatchSet(HyxSimCall *call, void *context) {
  auto *seen = static_cast<SeenSet *>(context);
  HsiSetBlock block;
  memcpy(&block, reinterpret_cast<const void *>(call->args[5]), sizeof block);
  HsiSizedHeader header;
  memcpy(&header, reinterpret_cast<const void *>(block.input), sizeof header);
  seen->length = header.length;
  memcpy(&seen->attributes, reinterpret_cast<const uint8_t *>(block.input) + sizeof header, 4);
  seen->calls++;
  HyxSim_RunModel(call);
}

TEST_F(Uefi, WritesWithoutContentsSendTheAttributesAloneAndRemoveSendsSeven) {
  const char *name = "Timeout-8be4df61-93ca-11d2-aa0d-00e098032b8c";
  SeenSet seen;
  HyxSim_SetHandler(kSet, WatchSet, &seen);
  EXPECT_EQ(HyxuserUefi_SetVariable("HyxAbsent-0", 5, 0, nullptr), kNotFound);
  EXPECT_EQ(seen.length, 4u);
  EXPECT_EQ(seen.attributes, 5u);
  EXPECT_EQ(HyxuserUefi_RemoveVariable(name), kOk);
  EXPECT_EQ(seen.length, 4u);
  EXPECT_EQ(seen.attributes, 7u);
  EXPECT_EQ(seen.calls, 2);
  EXPECT_FALSE(Listed(name));
}

TEST_F(Uefi, BadArgumentsAreRefusedBeforeTheKernelAndAllocateNothing) {
  HyxSim_ResetCounts();
  uint32_t attributes;
  uint64_t length;
  void *data;
  char **names;
  uint32_t count;
  size_t heap = HeapInUse();
  EXPECT_EQ(HyxuserUefi_SetVariable("BootOrder-8be4df61-93ca-11d2-aa0d-00e098032b8c", 0, 2, "xy"), kBadParam);
  EXPECT_EQ(HyxuserUefi_SetVariable(nullptr, 7, 2, "xy"), kBadParam);
  EXPECT_EQ(HyxuserUefi_SetVariable("HyxNoData-0", 7, 2, nullptr), kBadParam);
  // Lengths whose buffer would not fit 32 bits: refused before any copy
  // (a copy would read far past these two bytes).
  for (uint64_t tooLong :
       {uint64_t{0xFFFFFFF4}, uint64_t{0xFFFFFFFC}, uint64_t{1} << 32, (uint64_t{1} << 32) + 3})
    EXPECT_EQ(HyxuserUefi_SetVariable("HyxHuge-0", 7, tooLong, "xy"), kBadParam) << tooLong;
  EXPECT_EQ(HyxuserUefi_RemoveVariable(nullptr), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariable(nullptr, &attributes, &length, &data), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariable("x", nullptr, &length, &data), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariable("x", &attributes, nullptr, &data), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariable("x", &attributes, &length, nullptr), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariableList(nullptr, &count), kBadParam);
  EXPECT_EQ(HyxuserUefi_GetVariableList(&names, nullptr), kBadParam);
  EXPECT_EQ(HeapInUse(), heap);
  EXPECT_EQ(
      HyxSim_CallCount(kSet) + HyxSim_CallCount(kGet) + HyxSim_CallCount(kGetSize) + HyxSim_CallCount(kList),
      0u);
}

TEST_F(Uefi, NamesUpTo2047CharactersAreAccepted) {
  std::string longest(2047, 'n'), tooLong(2048, 'n');
  ASSERT_EQ(HyxuserUefi_SetVariable(longest.c_str(), 7, 1, "z"), kOk);
  uint32_t attributes = 0;
  uint64_t length = 0;
  void *data = nullptr;
  ASSERT_EQ(HyxuserUefi_GetVariable(longest.c_str(), &attributes, &length, &data), kOk);
  EXPECT_EQ(length, 1u);
  free(data);
  EXPECT_TRUE(Listed(longest));
  EXPECT_EQ(HyxuserUefi_RemoveVariable(longest.c_str()), kOk);

  HyxSim_ResetCounts();
  const HYX_ReturnStatus limit = HYX_LIMIT_EXCEEDED;
  EXPECT_EQ(HyxuserUefi_SetVariable(tooLong.c_str(), 7, 1, "z"), limit);
  EXPECT_EQ(HyxuserUefi_GetVariable(tooLong.c_str(), &attributes, &length, &data), limit);
  EXPECT_EQ(HyxuserUefi_RemoveVariable(tooLong.c_str()), limit);
  EXPECT_EQ(HyxSim_CallCount(kSet) + HyxSim_CallCount(kGetSize), 0u);
}

// A sized get answered with `length` bytes of data (attributes 0x27 first),
// whatever room the caller gave; the kernel's size query says `size`.
struct SizedAnswer {
  uint32_t size;
  uint32_t length;
};

void AnswerSize(HyxSimCall *call, void *context) {
  memcpy(reinterpret_cast<void *>(call->args[5]), &static_cast<SizedAnswer *>(context)->size, 4);
  call->status = HYX_OK;
  call->error = 0;
}

void AnswerSized(HyxSimCall *call, void *context) {
  const HsiGetBlock block = GetBlockOf(call);
  auto *header = reinterpret_cast<HsiSizedHeader *>(block.address);
  uint8_t *data = reinterpret_cast<uint8_t *>(header + 1);
  const uint32_t attributes = 0x27;
  memcpy(data, &attributes, header->capacity < 4 ? header->capacity : 4);
  for (uint32_t i = 4; i < header->capacity; i++) data[i] = static_cast<uint8_t>(i);
  header->length = static_cast<SizedAnswer *>(context)->length;
  call->status = HYX_OK;
  call->error = 0;
}

TEST_F(Uefi, WhatTheKernelReportsIsReadOnlyAsFarAsTheBuffer) {
  struct Case {
    SizedAnswer answer;
    uint64_t expectedLength;
  } cases[] = {
      {{4, 4}, 0},     // attributes only: no contents, no allocation
      {{12, 12}, 8},   // the ordinary case
      {{12, 400}, 8},  // a length past the capacity is cut to it
      {{2, 2}, 0},     // a size below the attributes word
  };
  for (const Case &c : cases) {
    SizedAnswer answer = c.answer;
    HyxSim_SetHandler(kGetSize, AnswerSize, &answer);
    HyxSim_SetHandler(kGet, AnswerSized, &answer);
    uint32_t attributes = 0;
    uint64_t length = 99;
    void *data = &attributes;
    ASSERT_EQ(HyxuserUefi_GetVariable("Scripted-0", &attributes, &length, &data), kOk) << answer.size;
    EXPECT_EQ(attributes, 0x27u) << answer.size;
    EXPECT_EQ(length, c.expectedLength) << answer.size;
    if (c.expectedLength == 0) {
      EXPECT_EQ(data, nullptr);
    } else {
      ASSERT_NE(data, nullptr);
      EXPECT_EQ(static_cast<uint8_t *>(data)[c.expectedLength - 1], c.expectedLength + 3);
    }
    free(data);
  }
}

TEST_F(Uefi, AFailedReadClearsTheDataOutputsAndKeepsTheKernelsErrno) {
  HyxSim_ScriptAnswer(kGet, HYX_NO_ACCESS, -EACCES, nullptr, 0, 0);
  uint32_t attributes = 77;
  uint64_t length = 9;
  void *data = &length;
  errno = 0;
  EXPECT_EQ(
      HyxuserUefi_GetVariable("SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c", &attributes, &length, &data),
      static_cast<HYX_ReturnStatus>(HYX_NO_ACCESS));
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(attributes, 77u);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(data, nullptr);
}

TEST_F(Uefi, WhatTheKernelRefusesLeavesTheOutputsAsTheyWere) {
  // The kernel out of memory is the kernel's answer, not the library's own
  // allocation failing: the list's outputs stay as they were.
  HyxSim_ScriptAnswer(kList, HYX_NO_MEMORY, -ENOMEM, nullptr, 0, 0);
  char **names = reinterpret_cast<char **>(&names);
  uint32_t count = 9;
  EXPECT_EQ(HyxuserUefi_GetVariableList(&names, &count), static_cast<HYX_ReturnStatus>(HYX_NO_MEMORY));
  EXPECT_EQ(names, reinterpret_cast<char **>(&names));
  EXPECT_EQ(count, 9u);
  HyxSim_ClearHandlers();

  // A read refused before the contents are asked for leaves every output.
  HyxSim_ScriptAnswer(kGetSize, HYX_NO_MEMORY, -ENOMEM, nullptr, 0, 0);
  uint32_t attributes = 77;
  uint64_t length = 9;
  void *data = &length;
  EXPECT_EQ(
      HyxuserUefi_GetVariable("SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c", &attributes, &length, &data),
      static_cast<HYX_ReturnStatus>(HYX_NO_MEMORY));
  EXPECT_EQ(attributes, 77u);
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(data, &length);
}

TEST_F(Uefi, AListThatFailsAtTheThirdNameLeavesNothingBehind) {
  std::vector<ListItem> items = {{"First-0"}, {"Second-0"}, {"", true}, {"Fourth-0"}};
  HyxSim_SetHandler(kList, AnswerInstanceList, &items);
  char **names;
  uint32_t count;
  // Measured on a second call: the first pays for the simulated host's
  // one-time set-up.
  for (int call = 0; call < 2; call++) {
    names = reinterpret_cast<char **>(&items);
    count = 9;
    size_t heap = HeapInUse();
    EXPECT_EQ(HyxuserUefi_GetVariableList(&names, &count), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM_TYPE));
    if (call == 1) {
      EXPECT_EQ(HeapInUse(), heap);
    }
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(count, 0u);
  }

  // No variables at all: an empty array the caller still frees.
  items.clear();
  ASSERT_EQ(HyxuserUefi_GetVariableList(&names, &count), kOk);
  EXPECT_EQ(count, 0u);
  EXPECT_NE(names, nullptr);
  free(names);
}

TEST(UefiOffTheHyxkernel, OnlyTheListIsGated) {
  if (!OnPlainLinux()) GTEST_SKIP();
  HyxSim_ResetCounts();
  char **names = nullptr;
  uint32_t count = 5;
  EXPECT_EQ(HyxuserUefi_GetVariableList(&names, &count),
            static_cast<HYX_ReturnStatus>(HYX_CHECKSUM_MISMATCH));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(HyxSim_CallCount(kList), 0u);
  // The others go to the kernel, which here has no such call.
  EXPECT_NE(HyxuserUefi_SetVariable("Any-0", 7, 1, "a"), kOk);
  EXPECT_EQ(HyxSim_CallCount(kSet), 1u);
}

}  // namespace
