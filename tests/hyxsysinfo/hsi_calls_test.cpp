// The system-information call layer against a kernel scripted call by call:
// blocks, module resolution, list sizing and retries, node translation.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hyxsim/hyxsim.h"
#include "hyxsysinfo/hsiCallsUser.h"
#include "hyxsysinfo/hsiModuleNodes.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"

namespace {

constexpr uint64_t kGet = KERNEL_CALL_HSI_GET, kList = KERNEL_CALL_HSI_LIST,
                   kModuleId = KERNEL_CALL_HSI_MODULE_ID;

// What the kernel saw of each call, and how it answers.
struct Script {
  std::vector<HyxSimCall> calls;
  std::vector<uint32_t> capacities, dataCapacities;  // of the lists handed to kList
  std::vector<uint32_t> sentCounts;                  // values in the list each call sent
  std::vector<std::array<uint8_t, 16>> blocks;       // the first 16 bytes of each call's block
  uint32_t totalCount = 0;                           // instances the kernel reports
  uint32_t status = 0;
};

HsiParamListRecord *ListRecordOf(const HyxSimCall *call) {
  HsiListBlock block;
  memcpy(&block, reinterpret_cast<const void *>(call->args[5]), sizeof block);
  return reinterpret_cast<HsiParamListRecord *>(block.record);
}

void AnswerList(HyxSimCall *call, void *context) {
  auto *script = static_cast<Script *>(context);
  script->calls.push_back(*call);
  HsiParamListRecord *out = ListRecordOf(call);
  script->capacities.push_back(out->capacity);
  script->dataCapacities.push_back(out->dataCapacity);
  out->totalCount = script->totalCount;
  out->count = script->totalCount < out->capacity ? script->totalCount : out->capacity;
  call->status = script->status;
  call->error = 0;
}

void Record(HyxSimCall *call, void *context) {
  auto *script = static_cast<Script *>(context);
  script->calls.push_back(*call);
  script->sentCounts.push_back(reinterpret_cast<const HsiParamListRecord *>(call->args[3])->count);
  std::array<uint8_t, 16> block{};
  memcpy(block.data(), reinterpret_cast<const void *>(call->args[5]), block.size());
  script->blocks.push_back(block);
  call->status = script->status;
  call->error = 0;
}

class HsiCalls : public ::testing::Test {
 protected:
  void TearDown() override {
    HyxSim_ClearHandlers();
    Hsi_SetMaxListBytes(0x1FFFFFF);
  }
  Script script_;
};

TEST_F(HsiCalls, GetWithoutBufferReachesTheKernelAsAddressZeroLengthZero) {
  HyxSim_SetHandler(kGet, Record, &script_);
  EXPECT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, nullptr, 0), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_EQ(script_.calls.size(), 1u);
  const HyxSimCall &call = script_.calls[0];
  EXPECT_EQ(call.args[0], HSI_NODE_system_version);
  EXPECT_EQ(call.args[1], 0u);
  EXPECT_EQ(call.args[2], hsiTables.nodes[HSI_NODE_system_version].signature);
  EXPECT_EQ(script_.blocks[0], (std::array<uint8_t, 16>{}));  // kind 0, address 0, length 0
  EXPECT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, nullptr, 4),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(script_.calls.size(), 1u);
}

TEST_F(HsiCalls, ModuleNodesTakeTheirModuleFromTheFirstValue) {
  HyxSim_SetHandler(kGet, Record, &script_);
  HsiParamList empty = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 0);
  HyxSim_ResetCounts();
  char buffer[8];
  EXPECT_EQ(Hsi_Get(5003, empty, buffer, sizeof buffer), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM_COUNT));
  HsiParamList_AddInt(empty, 4);
  EXPECT_EQ(Hsi_Get(5003, empty, buffer, sizeof buffer), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM_TYPE));
  EXPECT_EQ(HyxSim_CallCount(kModuleId) + HyxSim_CallCount(kGet), 0u);
  HsiParamList_Free(empty);

  int32_t moduleId = -7;  // sign-extended on its way in
  HyxSim_ScriptAnswer(kModuleId, 0, 0, &moduleId, sizeof moduleId, 1);
  HsiParamList params = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 0);
  HsiParamList_AddString(params, "vmkModule");
  HsiParamList_AddString(params, "instanceA");
  EXPECT_EQ(Hsi_Get(5003, params, buffer, sizeof buffer), static_cast<HYX_ReturnStatus>(HYX_OK));
  HsiParamList_Free(params);
  ASSERT_EQ(script_.calls.size(), 1u);
  EXPECT_EQ(script_.calls[0].args[0], 5003u);
  EXPECT_EQ(script_.calls[0].args[1], 0xfffffffffffffff9ull);
  EXPECT_EQ(script_.calls[0].args[2], 0u);  // module nodes carry no signature
  EXPECT_EQ(script_.sentCounts[0], 1u);     // the module name is not sent
}

struct RetryCase {
  const char *what;
  uint32_t reported;
  uint32_t secondCapacity;
};

TEST_F(HsiCalls, AnOverflowingListIsRetriedWithTheReportedCountAndAMargin) {
  const RetryCase cases[] = {{"5% above 99", 150, 157}, {"5 below 100", 40, 45}};
  for (const RetryCase &c : cases) {
    Script script;
    script.totalCount = c.reported;
    HyxSim_SetHandler(kList, AnswerList, &script);
    HsiParamList out = nullptr;
    EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &out), static_cast<HYX_ReturnStatus>(HYX_OK))
        << c.what;
    ASSERT_EQ(script.capacities.size(), 2u) << c.what;
    EXPECT_EQ(script.capacities[0], 10u) << c.what;
    EXPECT_EQ(script.capacities[1], c.secondCapacity) << c.what;
    EXPECT_EQ(script.dataCapacities[1], c.secondCapacity * 128) << c.what;
    EXPECT_EQ(HsiParamList_TotalCount(out), c.reported);
    HsiParamList_Free(out);
  }
}

// The kernel's instances grow by 3 % between calls.
void AnswerGrowingList(HyxSimCall *call, void *context) {
  AnswerList(call, context);
  static_cast<Script *>(context)->totalCount += 30;
}

TEST_F(HsiCalls, AListThatGrowsBetweenCallsNeedsNoThirdCall) {
  script_.totalCount = 1000;
  HyxSim_SetHandler(kList, AnswerGrowingList, &script_);
  HsiParamList out = nullptr;
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &out), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(script_.capacities, (std::vector<uint32_t>{10, 1050}));
  EXPECT_EQ(HsiParamList_TotalCount(out), 1030u);
  HsiParamList_Free(out);
}

TEST_F(HsiCalls, NoMemoryRetryDoublesTheBytesPerEntryUpTo2048) {
  script_.status = HYX_NO_MEMORY_RETRY;
  HyxSim_SetHandler(kList, AnswerList, &script_);
  HsiParamList out = reinterpret_cast<HsiParamList>(1);
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 10, &out),
            static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(script_.dataCapacities, (std::vector<uint32_t>{1280, 2560, 5120, 10240, 20480}));
}

TEST_F(HsiCalls, IntegerKeyedListsHaveNoDataAreaAndStopWhenNothingCanGrow) {
  script_.status = HYX_NO_MEMORY_RETRY;
  HyxSim_SetHandler(kList, AnswerList, &script_);
  HsiParamList out = nullptr;
  EXPECT_EQ(Hsi_GetList(HSI_NODE_world, nullptr, 0, &out), static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  EXPECT_EQ(script_.dataCapacities, (std::vector<uint32_t>{0}));  // no progress after one attempt
}

TEST_F(HsiCalls, TheListBoundStopsAListThatCannotFit) {
  Hsi_SetMaxListBytes(1000);
  script_.totalCount = 40;
  HyxSim_SetHandler(kList, AnswerList, &script_);
  HsiParamList out = nullptr;
  // 64 + 32 x 45 = 1504 and the fallback 64 + 32 x 40 = 1344 both exceed 1000.
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 10, &out),
            static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  EXPECT_EQ(script_.capacities.size(), 1u);
  Hsi_SetMaxListBytes(0);          // ignored
  Hsi_SetMaxListBytes(0x2000000);  // ignored
  EXPECT_EQ(Hsi_MaxListBytes(), 1000u);
}

TEST_F(HsiCalls, OtherKernelFailuresPassThroughUnchanged) {
  script_.status = HYX_NOT_FOUND;
  HyxSim_SetHandler(kList, AnswerList, &script_);
  HsiParamList out = nullptr;
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &out), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(out, nullptr);
}

// The kernel numbers nodes its own way: node i of ours is its node
// (i + 1) % count; one node it does not have at all.
void AnswerShiftedSignatures(HyxSimCall *call, void *) {
  HsiGetBlock block;
  memcpy(&block, reinterpret_cast<const void *>(call->args[5]), sizeof block);
  auto *reply = reinterpret_cast<HsiNodeHashReply *>(block.address);
  uint32_t count = hsiTables.nodeCount;
  for (uint32_t ours = 0; ours < count; ours++)
    reply->hashes[(ours + 1) % count] = ours == HSI_NODE_timer_info ? 1 : hsiTables.nodes[ours].signature;
  reply->count = count;
  call->status = 0;
  call->error = 0;
}

TEST_F(HsiCalls, TranslationSendsTheKernelsIdsAndOwnIdsForNodesItLacks) {
  EXPECT_EXIT(
      {
        HyxSim_SetHandler(kGet, AnswerShiftedSignatures, nullptr);
        bool built = HsiNodeTranslation_Build() && HsiNodeTranslation_Build();
        Script script;
        HyxSim_SetHandler(kGet, Record, &script);
        char buffer[8];
        Hsi_Get(HSI_NODE_system_version, nullptr, buffer, sizeof buffer);
        Hsi_Get(HSI_NODE_timer_info, nullptr, buffer, sizeof buffer);
        bool ok = built && script.calls.size() == 2 &&
                  script.calls[0].args[0] == HSI_NODE_system_version + 1u &&
                  script.calls[1].args[0] == HSI_NODE_timer_info && HsiNodeTranslation_Apply(5001) == 5001;
        exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

// A module whose type 1 is struct "point" {x: type 2 at 0, mode: type 3 at 4},
// type 2 a 4-byte scalar and type 3 an enum of two values.
void AnswerModuleType(HyxSimCall *call, void *) {
  uint32_t type = static_cast<uint32_t>(call->args[1]);
  HsiModuleTypeReply reply{};
  reply.kind = type == 1 ? HSI_TYPE_STRUCT : type == 2 ? HSI_TYPE_SCALAR : HSI_TYPE_ENUM;
  reply.size = type == 1 ? 8 : 4;
  reply.countOrElement = type == 1 ? 2 : type == 3 ? 2 : 0;
  memcpy(reinterpret_cast<void *>(call->args[2]), &reply, sizeof reply);
  snprintf(reinterpret_cast<char *>(call->args[3]), call->args[4], "type%u", type);
  call->status = 0;
  call->error = 0;
}

void AnswerModuleField(HyxSimCall *call, void *) {
  uint32_t index = static_cast<uint32_t>(call->args[2]);
  uint32_t type = index == 0 ? 2 : 3, offset = index * 4;
  memcpy(reinterpret_cast<void *>(call->args[3]), &type, 4);
  memcpy(reinterpret_cast<void *>(call->args[4]), &offset, 4);
  HsiModuleFieldText texts;
  memcpy(&texts, reinterpret_cast<const void *>(call->args[5]), sizeof texts);
  snprintf(reinterpret_cast<char *>(texts.name), texts.nameSize, "%s", index == 0 ? "x" : "mode");
  call->status = 0;
  call->error = 0;
}

void AnswerModuleEnumValue(HyxSimCall *call, void *) {
  uint64_t value = 10 + call->args[2];
  memcpy(reinterpret_cast<void *>(call->args[3]), &value, 8);
  snprintf(reinterpret_cast<char *>(call->args[4]), 128, "value%lu",
           static_cast<unsigned long>(call->args[2]));
  call->status = 0;
  call->error = 0;
}

TEST_F(HsiCalls, ModuleTypesAreRebuiltFromTheKernel) {
  HyxSim_SetHandler(KERNEL_CALL_HSI_MODULE_TYPE, AnswerModuleType, nullptr);
  HyxSim_SetHandler(KERNEL_CALL_HSI_MODULE_ENUM_VALUE, AnswerModuleEnumValue, nullptr);
  HyxSim_SetHandler(KERNEL_CALL_HSI_MODULE_FIELD, AnswerModuleField, nullptr);
  const HsiTypeDef *type = nullptr;
  ASSERT_EQ(HsiModuleNode_GetType(3, 1, &type), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_STREQ(type->name, "type1");
  EXPECT_EQ(type->kind, HSI_TYPE_STRUCT);
  ASSERT_EQ(type->a.count, 2u);
  EXPECT_STREQ(type->b.fields[1].name, "mode");
  EXPECT_EQ(type->b.fields[1].offset, 4u);
  const HsiTypeDef *mode = type->b.fields[1].type;
  EXPECT_EQ(mode->kind, HSI_TYPE_ENUM);
  ASSERT_EQ(mode->a.count, 2u);
  EXPECT_EQ(mode->b.values[1].value, 11u);
  EXPECT_STREQ(mode->b.values[1].name, "value1");
  HsiModuleNode_FreeType(type);

  HyxSim_ScriptAnswer(KERNEL_CALL_HSI_MODULE_FIELD, HYX_NOT_FOUND, 0, nullptr, 0,
                      0);  // a failure frees what was built
  EXPECT_EQ(HsiModuleNode_GetType(3, 1, &type), static_cast<HYX_ReturnStatus>(HYX_NOT_FOUND));
  EXPECT_EQ(type, nullptr);
}

TEST_F(HsiCalls, SizedBuffers) {
  EXPECT_EQ(HsiSizedBuffer_Alloc(4, "abcde", 5), nullptr);
  EXPECT_EQ(HsiSizedBuffer_Alloc(4, nullptr, 1), nullptr);
  // A total size (capacity and header) past 32 bits could not be told to
  // the kernel: refused before anything is allocated.
  EXPECT_EQ(HsiSizedBuffer_Alloc(UINT32_MAX - 7, nullptr, 0), nullptr);
  EXPECT_EQ(HsiSizedBuffer_Alloc(UINT32_MAX, nullptr, 0), nullptr);
  HsiSizedBuffer *buffer = HsiSizedBuffer_Alloc(8, "abc", 3);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(HsiSizedBuffer_TotalSize(buffer), 16u);
  EXPECT_EQ(memcmp(buffer->data, "abc\0\0\0\0\0", 8), 0);
  EXPECT_EQ(HsiSizedBuffer_TotalSize(nullptr), 0u);
  EXPECT_EQ(HsiSizedBuffer_Free(nullptr), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HsiSizedBuffer_Free(buffer), static_cast<HYX_ReturnStatus>(HYX_OK));
}

// A kernel that fills the list record with something the library never
// made: each case must give HYX_READ_ERROR, an empty list, and a free that
// touches nothing the kernel named.
struct Malformed {
  const char *what;
  void (*spoil)(HsiParamListRecord *rec, HsiParam *slots);
};

const Malformed kMalformed[] = {
    {"count beyond the slots", [](HsiParamListRecord *rec, HsiParam *) { rec->count = rec->capacity + 5; }},
    {"a string that looks spilled",
     [](HsiParamListRecord *, HsiParam *slots) {
       slots[0] = HsiParam{0x1234560, 0, 0, 4, HSI_PARAM_STRING};  // would be freed as the library's own
     }},
    {"a string past the data area",
     [](HsiParamListRecord *rec, HsiParam *slots) {
       slots[0] =
           HsiParam{rec->base, 0, uint64_t{rec->headerSize} + rec->dataCapacity - 2, 4, HSI_PARAM_STRING};
     }},
    {"a string inside the header",
     [](HsiParamListRecord *rec, HsiParam *slots) {
       slots[0] = HsiParam{rec->base, 0, 8, 4, HSI_PARAM_STRING};
     }},
    {"a string based elsewhere",
     [](HsiParamListRecord *rec, HsiParam *slots) {
       slots[0] = HsiParam{rec->base + 64, 0, rec->headerSize, 4, HSI_PARAM_STRING};
     }},
    {"an unknown slot type", [](HsiParamListRecord *, HsiParam *slots) { slots[0].type = 7; }},
    {"capacity rewritten", [](HsiParamListRecord *rec, HsiParam *) { rec->capacity *= 4; }},
    {"header size rewritten", [](HsiParamListRecord *rec, HsiParam *) { rec->headerSize += 32; }},
    {"data used beyond the area",
     [](HsiParamListRecord *rec, HsiParam *) { rec->dataUsed = rec->dataCapacity + 1; }},
    {"next data offset beyond the area",
     [](HsiParamListRecord *rec, HsiParam *) {
       rec->nextDataOffset = uint64_t{rec->headerSize} + rec->dataCapacity + 1;
     }},
};

struct SpoilScript {
  const Malformed *malformed;
  uint32_t status;
};

void AnswerSpoiledList(HyxSimCall *call, void *context) {
  auto *script = static_cast<SpoilScript *>(context);
  HsiParamListRecord *rec = ListRecordOf(call);
  auto *slots = reinterpret_cast<HsiParam *>(rec + 1);
  rec->count = rec->totalCount = 1;  // one honest integer first
  slots[0] = HsiParam{42, 0, 0, 0, HSI_PARAM_INT};
  script->malformed->spoil(rec, slots);
  call->status = script->status;
  call->error = 0;
}

TEST_F(HsiCalls, AListTheKernelFilledIsCheckedBeforeUse) {
  for (const Malformed &m : kMalformed) {
    SCOPED_TRACE(m.what);
    SpoilScript script{&m, HYX_OK};
    HyxSim_SetHandler(kList, AnswerSpoiledList, &script);
    HsiParamList out = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 256, 0);
    EXPECT_EQ(Hsi_GetListInto(HSI_NODE_net_pNics, nullptr, out),
              static_cast<HYX_ReturnStatus>(HYX_READ_ERROR));
    EXPECT_EQ(HsiParamList_Count(out), 0u);
    EXPECT_EQ(HsiParamList_Capacity(out), 4u);
    const char *text = nullptr;
    EXPECT_EQ(HsiParamList_GetString(out, 0, &text), static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM_COUNT));
    EXPECT_EQ(HsiParamList_Free(out), static_cast<HYX_ReturnStatus>(HYX_OK));

    HsiParamList listed = reinterpret_cast<HsiParamList>(1);
    EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &listed),
              static_cast<HYX_ReturnStatus>(HYX_READ_ERROR));
    EXPECT_EQ(listed, nullptr);

    // A failing call may have written too: the list is freed without
    // trusting it, and the kernel's status comes back.
    script.status = HYX_NO_MEMORY_RETRY;
    EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &listed),
              static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  }
}

TEST_F(HsiCalls, ListSizesAreComputedWithoutWrapping) {
  // 0x2000001 slots of 128 bytes: a 32-bit product would leave a 128-byte
  // data area for 33 million strings.
  HyxSim_SetHandler(kList, AnswerList, &script_);
  HsiParamList out = reinterpret_cast<HsiParamList>(1);
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0x2000001, &out),
            static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  EXPECT_EQ(out, nullptr);
  EXPECT_TRUE(script_.calls.empty());

  // A kernel reporting 0xffffffff instances: the margin is not wrapped into
  // a small list, the bound refuses it after one call.
  script_.totalCount = 0xffffffffu;
  EXPECT_EQ(Hsi_GetList(HSI_NODE_net_pNics, nullptr, 0, &out),
            static_cast<HYX_ReturnStatus>(HYX_LIMIT_EXCEEDED));
  EXPECT_EQ(script_.capacities, (std::vector<uint32_t>{10}));
}

// The 32-byte block of a set, and the list record the call sent.
struct SetSeen {
  HsiSetBlock block{};
  const HsiParamListRecord *sentRecord = nullptr;
  uint32_t sentCount = 0;
  uint32_t inputListType = 0xffffffff, inputCount = 0xffffffff;
  std::string inputFirst;
  int calls = 0;
};

void RecordSet(HyxSimCall *call, void *context) {
  auto *seen = static_cast<SetSeen *>(context);
  seen->calls++;
  memcpy(&seen->block, reinterpret_cast<const void *>(call->args[5]), sizeof seen->block);
  seen->sentRecord = reinterpret_cast<const HsiParamListRecord *>(call->args[3]);
  seen->sentCount = seen->sentRecord->count;
  if (seen->block.kind == HSI_CALL_SET_PARAMS) {  // a second list travels as the input
    auto *input = reinterpret_cast<const HsiParamListRecord *>(seen->block.input);
    seen->inputListType = input->listType;
    seen->inputCount = input->count;
    auto *slots = reinterpret_cast<const HsiParam *>(input + 1);
    if (input->count && slots[0].type == HSI_PARAM_STRING) seen->inputFirst = HsiParam_GetString(&slots[0]);
  }
  call->status = HYX_OK;
  call->error = 0;
}

TEST_F(HsiCalls, SetsSendTheirBlocks) {
  SetSeen seen;
  HyxSim_SetHandler(KERNEL_CALL_HSI_SET, RecordSet, &seen);
  char input[5] = "abcd", output[8];
  ASSERT_EQ(Hsi_Set(HSI_NODE_system_version, nullptr, input, 4, output, sizeof output),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(seen.block.kind, HSI_CALL_SET_BUFFER);
  EXPECT_EQ(seen.block.input, reinterpret_cast<uintptr_t>(input));
  EXPECT_EQ(seen.block.inputLength, 4u);
  EXPECT_EQ(seen.block.output, reinterpret_cast<uintptr_t>(output));
  EXPECT_EQ(seen.block.outputLength, 8u);
  EXPECT_EQ(Hsi_Set(HSI_NODE_system_version, nullptr, nullptr, 4, nullptr, 0),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(Hsi_Set(HSI_NODE_system_version, nullptr, input, 4, nullptr, 1),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(seen.calls, 1);

  // No input list: an empty value list is sent.  A spilled input list is
  // sent as a packed copy.
  ASSERT_EQ(Hsi_SetWithParams(HSI_NODE_system_version, nullptr, nullptr, nullptr, 0),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(seen.block.kind, HSI_CALL_SET_PARAMS);
  EXPECT_EQ(seen.inputListType, HSI_PARAMLIST_VALUES);
  EXPECT_EQ(seen.inputCount, 0u);
  EXPECT_EQ(seen.block.output, 0u);
  HsiParamList spilled = HsiParamList_AllocSized(HSI_PARAMLIST_VALUES, 2, 2, 0);
  ASSERT_EQ(HsiParamList_AddString(spilled, "spilled value"), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_FALSE(HsiParamList_IsPacked(spilled));
  ASSERT_EQ(Hsi_SetWithParams(HSI_NODE_system_version, nullptr, spilled, output, sizeof output),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(seen.inputCount, 1u);
  EXPECT_EQ(seen.inputFirst, "spilled value");
  EXPECT_NE(seen.block.input, reinterpret_cast<uintptr_t>(HsiParamList_Record(spilled)));
  EXPECT_EQ(seen.block.inputLength, 64u + 32 * 1 + 14);  // the copy's wire size
  EXPECT_EQ(Hsi_SetWithParams(HSI_NODE_system_version, nullptr, spilled, nullptr, 2),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  HsiParamList_Free(spilled);
}

TEST_F(HsiCalls, SizedSetsAlwaysSendAListOfTheirOwn) {
  SetSeen seen;
  HyxSim_SetHandler(KERNEL_CALL_HSI_SET, RecordSet, &seen);
  HsiSizedBuffer *input = HsiSizedBuffer_Alloc(16, "value", 5);
  HsiSizedBuffer *output = HsiSizedBuffer_Alloc(8, nullptr, 0);
  HsiParamList params = HsiParamList_AllocSized(HSI_PARAMLIST_VALUES, 2, 64, 0);
  ASSERT_EQ(HsiParamList_AddString(params, "defaultTcpipStack"), static_cast<HYX_ReturnStatus>(HYX_OK));
  ASSERT_TRUE(HsiParamList_IsPacked(params));
  ASSERT_EQ(Hsi_SetSized(HSI_NODE_net_tcpip_instances_config_arpTimeout, params, input, output),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_NE(seen.sentRecord, HsiParamList_Record(params));  // a packed copy, though the caller's was packed
  EXPECT_EQ(seen.sentCount, 1u);
  EXPECT_EQ(seen.block.kind, HSI_CALL_SET_SIZED);
  EXPECT_EQ(seen.block.input, reinterpret_cast<uintptr_t>(input));
  EXPECT_EQ(seen.block.inputLength, 24u);
  EXPECT_EQ(seen.block.output, reinterpret_cast<uintptr_t>(output));
  EXPECT_EQ(seen.block.outputLength, 16u);

  // An empty list of the caller's goes as it is; no output is address 0, size 0.
  HsiParamList empty = HsiParamList_Alloc(HSI_PARAMLIST_VALUES, 0);
  ASSERT_EQ(Hsi_SetSized(HSI_NODE_system_version, empty, input, nullptr),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(seen.sentRecord, HsiParamList_Record(empty));
  EXPECT_EQ(seen.block.output, 0u);
  EXPECT_EQ(seen.block.outputLength, 0u);
  EXPECT_EQ(Hsi_SetSized(HSI_NODE_system_version, empty, nullptr, output),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(seen.calls, 2);
  HsiParamList_Free(empty);
  HsiParamList_Free(params);
  HsiSizedBuffer_Free(input);
  HsiSizedBuffer_Free(output);
}

TEST_F(HsiCalls, SizedGetsAndSizeQueries) {
  HyxSim_SetHandler(kGet, Record, &script_);
  HsiSizedBuffer *buffer = HsiSizedBuffer_Alloc(24, nullptr, 0);
  ASSERT_EQ(Hsi_GetSized(HSI_NODE_system_version, nullptr, buffer), static_cast<HYX_ReturnStatus>(HYX_OK));
  HsiGetBlock sent;
  memcpy(&sent, script_.blocks.back().data(), sizeof sent);
  EXPECT_EQ(sent.kind, HSI_CALL_GET_SIZED);
  EXPECT_EQ(sent.address, reinterpret_cast<uintptr_t>(buffer));
  EXPECT_EQ(sent.length, 32u);  // the whole buffer
  ASSERT_EQ(Hsi_GetSized(HSI_NODE_system_version, nullptr, nullptr), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(script_.blocks.back(), (std::array<uint8_t, 16>{HSI_CALL_GET_SIZED}));  // address 0, size 0
  HsiSizedBuffer_Free(buffer);

  uint32_t length = 0, reported = 417;
  HyxSim_ScriptAnswer(KERNEL_CALL_HSI_GET_SIZE, HYX_OK, 0, &reported, sizeof reported, 5);
  ASSERT_EQ(Hsi_GetSize(HSI_NODE_system_version, nullptr, &length), static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(length, 417u);
  HyxSim_ResetCounts();
  EXPECT_EQ(Hsi_GetSize(HSI_NODE_system_version, nullptr, nullptr),
            static_cast<HYX_ReturnStatus>(HYX_BAD_PARAM));
  EXPECT_EQ(HyxSim_CallCount(KERNEL_CALL_HSI_GET_SIZE), 0u);
}

TEST_F(HsiCalls, AnErrorRegisterBesideSuccessStillSetsErrno) {
  char buffer[8];
  HyxSim_ScriptAnswer(kGet, HYX_OK, -EIO, nullptr, 0, 0);
  errno = 0;
  EXPECT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, buffer, sizeof buffer),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(errno, EIO);
  HyxSim_ScriptAnswer(kGet, HYX_OK, 0, nullptr, 0, 0);
  errno = ENOENT;
  EXPECT_EQ(Hsi_Get(HSI_NODE_system_version, nullptr, buffer, sizeof buffer),
            static_cast<HYX_ReturnStatus>(HYX_OK));
  EXPECT_EQ(errno, ENOENT);  // a zero error register leaves errno alone
}

// The reply claims more nodes than it holds, and names one signature twice.
void AnswerOversizedSignatures(HyxSimCall *call, void *) {
  uint64_t address;
  memcpy(&address, reinterpret_cast<const char *>(call->args[5]) + 4, sizeof address);
  auto *reply = reinterpret_cast<uint8_t *>(address);
  uint64_t filler = 1;
  for (uint32_t i = 0; i < 3000; i++) memcpy(reply + 8 * i, &filler, 8);
  uint64_t version = hsiTables.nodes[HSI_NODE_system_version].signature;
  uint64_t timer = hsiTables.nodes[HSI_NODE_timer_info].signature;
  memcpy(reply + 8 * 2999, &version, 8);  // the last entry the reply holds
  memcpy(reply + 8 * 5, &timer, 8);       // the first of two: this one counts
  memcpy(reply + 8 * 7, &timer, 8);
  uint32_t count = 0xffffffffu;
  memcpy(reply + 24000, &count, sizeof count);
  call->status = 0;
  call->error = 0;
}

TEST_F(HsiCalls, TranslationReadsAtMost3000SignaturesAndKeepsTheFirstOfTwins) {
  EXPECT_EXIT(
      {
        HyxSim_SetHandler(kGet, AnswerOversizedSignatures, nullptr);
        bool built = HsiNodeTranslation_Build();
        bool ok = built && HsiNodeTranslation_Apply(HSI_NODE_system_version) == 2999 &&
                  HsiNodeTranslation_Apply(HSI_NODE_timer_info) == 5;
        exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace
