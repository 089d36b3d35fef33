// The system-information server of the simulated kernel, reached with raw
// kernel calls and lists laid out as the library lays them out.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hyxsysinfo/hsiParams.h"
#include "hyxsysinfo/hsiTables.h"
#include "hyxsysinfo/kernelCall.h"
#include "hyxsysinfo/kernelWire.h"
#include "instance_params.h"
#include "test_host.h"

namespace {

bool Renumbered() { return OnProfile("renumbered"); }

uint64_t Signature(uint32_t node) { return hsiTables.nodes[node].signature; }

HYX_ReturnStatus Get(uint32_t kernelNode, uint64_t signature, Params &params, void *buffer, uint32_t length,
                     uint32_t kind = HSI_CALL_GET) {
  HsiGetBlock block{kind, reinterpret_cast<uintptr_t>(buffer), length};
  return Kernel_Call(KERNEL_CALL_HSI_GET, kernelNode, int32_t{0}, signature, params.Record(), params.Size(),
                     &block);
}

// The kernel's own node ids, from its node-signature reply (node 1).
const HsiNodeHashReply &KernelHashes() {
  static HsiNodeHashReply *reply = [] {
    auto *r = new HsiNodeHashReply{};
    Params none;
    EXPECT_EQ(Get(1, Signature(1), none, r, sizeof *r), HYX_OK);
    return r;
  }();
  return *reply;
}

// The kernel's id for one of the library's nodes, matched by signature.
uint32_t KernelId(uint32_t node) {
  const HsiNodeHashReply &h = KernelHashes();
  for (uint32_t i = 0; i < h.count; i++)
    if (h.hashes[i] == Signature(node)) return i;
  ADD_FAILURE() << "the kernel lacks node " << node;
  return 0;
}

HYX_ReturnStatus GetNode(uint32_t node, Params &params, void *buffer, uint32_t length,
                         uint32_t kind = HSI_CALL_GET) {
  return Get(KernelId(node), Signature(node), params, buffer, length, kind);
}

HYX_ReturnStatus List(uint32_t node, Params &params, HsiParamList out) {
  HsiListBlock block{reinterpret_cast<uintptr_t>(HsiParamList_Record(out)), HsiParamList_BufferSize(out), 0};
  return Kernel_Call(KERNEL_CALL_HSI_LIST, KernelId(node), int32_t{0}, Signature(node), params.Record(),
                     params.Size(), &block);
}

TEST(SimHsi, SignatureExchange) {
  char build[64];
  memset(build, 'x', sizeof build);
  HYX_ReturnStatus status =
      Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, HSI_SIGNATURE, build, uint64_t{sizeof build});
  if (Renumbered()) {
    EXPECT_EQ(status, HYX_CHECKSUM_MISMATCH);
    EXPECT_EQ(build[0], 'x');
  } else {
    EXPECT_EQ(status, HYX_OK);
    EXPECT_STREQ(build, "Hyxkernel build 24585383");
    char small[9];
    EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, HSI_SIGNATURE, small, uint64_t{sizeof small}), HYX_OK);
    EXPECT_STREQ(small, "Hyxkerne");  // cut and terminated
  }
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_SIGNATURE, "0123456789abcdef0123456789abcdef", build,
                        uint64_t{sizeof build}),
            HYX_CHECKSUM_MISMATCH);
}

TEST(SimHsi, NodeHashesNameTheKernelsNumbering) {
  const HsiNodeHashReply &h = KernelHashes();
  ASSERT_EQ(h.count, hsiTables.nodeCount);
  std::map<uint64_t, int> kernel, library;
  uint32_t moved = 0;
  for (uint32_t i = 0; i < h.count; i++) {
    kernel[h.hashes[i]]++;
    library[Signature(i)]++;
    moved += h.hashes[i] != Signature(i);
  }
  EXPECT_EQ(kernel, library);  // the same nodes, however numbered
  EXPECT_EQ(h.hashes[1], Signature(1));
  if (Renumbered()) {
    EXPECT_GT(moved, 1000u);
  } else {
    EXPECT_EQ(moved, 0u);
  }
  for (uint32_t i = h.count; i < 3000; i++) ASSERT_EQ(h.hashes[i], 0u);
}

TEST(SimHsi, GetsProfileValues) {
  Params none;
  char version[368];
  ASSERT_EQ(GetNode(HSI_NODE_system_version, none, version, sizeof version), HYX_OK);
  EXPECT_STREQ(version, "Hyxkernel");
  EXPECT_STREQ(version + 32, "8.0.3");
  uint32_t build, arch;
  memcpy(&build, version + 292, 4);
  memcpy(&arch, version + 288, 4);
  EXPECT_EQ(build, 24585383u);
  EXPECT_EQ(arch, 1u);  // by name in the profile

  Params vmk1{"defaultTcpipStack", "vmk1"};
  uint32_t mtu = 0, address = 0;
  ASSERT_EQ(GetNode(HSI_NODE_net_tcpip_instances_vNics_mtu, vmk1, &mtu, 4), HYX_OK);
  EXPECT_EQ(mtu, 9000u);
  ASSERT_EQ(GetNode(HSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, vmk1, &address, 4), HYX_OK);
  EXPECT_EQ(address, inet_addr("192.168.40.11"));
  uint8_t mac[6];
  ASSERT_EQ(GetNode(HSI_NODE_net_tcpip_instances_vNics_macaddr, vmk1, mac, 6), HYX_OK);
  EXPECT_EQ(memcmp(mac, "\x00\x50\x56\x6a\x10\x02", 6), 0);

  // A variable-length value into a sized buffer, and its size query.
  Params var{"SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c"};
  uint8_t sized[8 + 16] = {16};
  ASSERT_EQ(GetNode(HSI_NODE_uefi_variable, var, sized, sizeof sized, HSI_CALL_GET_SIZED), HYX_OK);
  EXPECT_EQ(sized[4], 5u);  // length
  EXPECT_EQ(memcmp(sized + 8, "\x06\x00\x00\x00\x01", 5), 0);
  uint32_t size = 0;
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_GET_SIZE, KernelId(HSI_NODE_uefi_variable), int32_t{0},
                        Signature(HSI_NODE_uefi_variable), var.Record(), var.Size(), &size),
            HYX_OK);
  EXPECT_EQ(size, 5u);

  // Integer-keyed instances.
  Params world;
  world.Int(2097);
  char info[69];
  ASSERT_EQ(GetNode(HSI_NODE_world_info, world, info, sizeof info), HYX_OK);
  EXPECT_STREQ(info + 8, "hostd");
}

TEST(SimHsi, RefusesBadCalls) {
  Params none, vmk0{"defaultTcpipStack", "vmk0"}, oneValue{"defaultTcpipStack"},
      nine{"defaultTcpipStack", "vmk9"};
  Params intForString;
  intForString.Int(0).Int(1);
  uint32_t mtuNode = HSI_NODE_net_tcpip_instances_vNics_mtu;
  char buffer[400];
  struct Case {
    const char *what;
    uint32_t node;
    uint64_t signature;
    Params *params;
    uint32_t length;
    HYX_ReturnStatus status;
    int error;
  } cases[] = {
      {"too few values", KernelId(mtuNode), Signature(mtuNode), &oneValue, 4, HYX_BAD_PARAM_COUNT, 0},
      {"too many values", KernelId(HSI_NODE_system_version), Signature(HSI_NODE_system_version), &vmk0, 368,
       HYX_BAD_PARAM_COUNT, 0},
      {"integer for a string key", KernelId(mtuNode), Signature(mtuNode), &intForString, 4,
       HYX_BAD_PARAM_TYPE, 0},
      {"unknown node", hsiTables.nodeCount, 0, &none, 4, HYX_HSI_INVALID_NODE_ID, 0},
      {"another node's signature", KernelId(mtuNode), Signature(HSI_NODE_net_tcpip_instances_vNics_tsoMss),
       &vmk0, 4, HYX_CHECKSUM_MISMATCH, 0},
      {"no such instance", KernelId(mtuNode), Signature(mtuNode), &nine, 4, HYX_NOT_FOUND, ENOENT},
      {"buffer too small", KernelId(HSI_NODE_system_version), Signature(HSI_NODE_system_version), &none, 367,
       HYX_HSI_DATA_LENGTH_MISMATCH, 0},
  };
  for (const Case &c : cases) {
    errno = 0;
    EXPECT_EQ(Get(c.node, c.signature, *c.params, buffer, c.length), c.status) << c.what;
    if (c.error) {
      EXPECT_EQ(errno, c.error) << c.what;
    }
  }
  // Only bit 0 of the recursive byte makes instances nest: cartels' children
  // carry 2 there and take exactly one value, as cartels do.
  const uint32_t childInfo = HSI_NODE_userworld_cartels_children_info;
  std::vector<char> info(hsiTables.nodes[childInfo].getSize);
  Params two, three;
  two.Int(1).Int(2);
  three.Int(1).Int(2).Int(3);
  EXPECT_NE(GetNode(childInfo, two, info.data(), info.size()), HYX_BAD_PARAM_COUNT);
  EXPECT_EQ(GetNode(childInfo, three, info.data(), info.size()), HYX_BAD_PARAM_COUNT);
  // A node the library knows under its own id: the renumbered kernel holds
  // another node there, with another signature.
  if (Renumbered()) {
    EXPECT_EQ(Get(mtuNode, Signature(mtuNode), vmk0, buffer, 4), HYX_CHECKSUM_MISMATCH);
  }
}

TEST(SimHsi, ListsFillTheCallersRecord) {
  Params none;
  // Three NICs, strings placed inline from the header on.
  HsiParamList nics = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 16, 16 * 128, 0);
  ASSERT_EQ(List(HSI_NODE_net_pNics, none, nics), HYX_OK);
  HsiParamListRecord *record = HsiParamList_Record(nics);
  ASSERT_EQ(record->count, 3u);
  EXPECT_EQ(record->totalCount, 3u);
  EXPECT_TRUE(HsiParamList_IsPacked(nics));
  const char *names[] = {"vmnic0", "vmnic1", "vmnic2"};
  for (uint32_t i = 0; i < 3; i++) {
    const char *text = nullptr;
    ASSERT_EQ(HsiParamList_GetString(nics, i, &text), HYX_OK);
    EXPECT_STREQ(text, names[i]);
    EXPECT_EQ(HsiParamList_GetParam(nics, i)->value, record->base);
  }
  HsiParamList_Free(nics);

  // The default stack's interfaces: the stack's name selects them.
  Params stack{"defaultTcpipStack"};
  HsiParamList vnics = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 4 * 128, 0);
  ASSERT_EQ(List(HSI_NODE_net_tcpip_instances_vNics, stack, vnics), HYX_OK);
  EXPECT_TRUE(HsiParamList_FindString(vnics, "vmk0") && HsiParamList_FindString(vnics, "vmk1"));
  EXPECT_EQ(HsiParamList_Count(vnics), 2u);
  HsiParamList_Free(vnics);

  // Eight worlds into four slots: four filled, eight counted.
  HsiParamList worlds = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 0, HSI_PARAMLIST_FIXED);
  ASSERT_EQ(List(HSI_NODE_world, none, worlds), HYX_OK);
  EXPECT_EQ(HsiParamList_Count(worlds), 4u);
  EXPECT_EQ(HsiParamList_TotalCount(worlds), 8u);
  uint64_t id = 0;
  ASSERT_EQ(HsiParamList_GetInt(worlds, 1, &id), HYX_OK);
  EXPECT_EQ(id, 2097u);
  HsiParamList_Free(worlds);

  // Strings that miss the data area ask for a retry and leave the list alone.
  HsiParamList tight = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 16, 20, 0);
  EXPECT_EQ(List(HSI_NODE_net_pNics, none, tight), HYX_NO_MEMORY_RETRY);
  EXPECT_EQ(HsiParamList_Count(tight), 0u);
  HsiParamList_Free(tight);

  // Listing a node that is no instance node.
  HsiParamList out = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 512, 0);
  EXPECT_EQ(List(HSI_NODE_system_version, none, out), HYX_HSI_INVALID_NODE_ID);
  HsiParamList_Free(out);
}

TEST(SimHsi, SetValuesAreReadBack) {
  Params vmk0{"defaultTcpipStack", "vmk0"};
  uint32_t node = HSI_NODE_net_tcpip_instances_vNics_tsoMss;
  uint32_t mss = 8948;
  HsiSetBlock block{HSI_CALL_SET_BUFFER, reinterpret_cast<uintptr_t>(&mss), 4, 0, 0, 0};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_SET, KernelId(node), int32_t{0}, Signature(node), vmk0.Record(),
                        vmk0.Size(), &block),
            HYX_OK);
  uint32_t read = 0;
  ASSERT_EQ(GetNode(node, vmk0, &read, 4), HYX_OK);
  EXPECT_EQ(read, 8948u);

  // A set on a new instance makes it appear in the instance list.
  Params vmk7{"defaultTcpipStack", "vmk7"};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_SET, KernelId(node), int32_t{0}, Signature(node), vmk7.Record(),
                        vmk7.Size(), &block),
            HYX_OK);
  Params stack{"defaultTcpipStack"};
  HsiParamList vnics = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 512, 0);
  ASSERT_EQ(List(HSI_NODE_net_tcpip_instances_vNics, stack, vnics), HYX_OK);
  EXPECT_TRUE(HsiParamList_FindString(vnics, "vmk7"));
  HsiParamList_Free(vnics);

  // A variable-length value from a sized buffer, with a sized output that
  // comes back empty; then a set from a value list.
  Params var{"Timeout-8be4df61-93ca-11d2-aa0d-00e098032b8c"};
  uint32_t uefi = HSI_NODE_uefi_variable;
  uint8_t in[8 + 8] = {8, 0, 0, 0, 3, 0, 0, 0, 7, 0, 9};
  uint8_t out[8 + 4] = {4, 0, 0, 0, 0xff, 0xff, 0xff, 0xff};
  HsiSetBlock sized{HSI_CALL_SET_SIZED, reinterpret_cast<uintptr_t>(in),
                    sizeof in,          reinterpret_cast<uintptr_t>(out),
                    sizeof out,         0};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_SET, KernelId(uefi), int32_t{0}, Signature(uefi), var.Record(),
                        var.Size(), &sized),
            HYX_OK);
  EXPECT_EQ(out[4] | out[5] | out[6] | out[7], 0);
  uint8_t back[8] = {};
  ASSERT_EQ(GetNode(uefi, var, back, sizeof back), HYX_OK);
  EXPECT_EQ(memcmp(back, "\x07\x00\x09", 3), 0);
  uint32_t size = 0;
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_GET_SIZE, KernelId(uefi), int32_t{0}, Signature(uefi), var.Record(),
                        var.Size(), &size),
            HYX_OK);
  EXPECT_EQ(size, 3u);

  Params input{"on"};
  input.Int(5);
  HsiSetBlock fromList{
      HSI_CALL_SET_PARAMS, reinterpret_cast<uintptr_t>(input.Record()), input.Size(), 0, 0, 0};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_SET, KernelId(uefi), int32_t{0}, Signature(uefi), var.Record(),
                        var.Size(), &fromList),
            HYX_OK);
  uint8_t listBytes[16] = {};
  ASSERT_EQ(GetNode(uefi, var, listBytes, sizeof listBytes), HYX_OK);
  EXPECT_EQ(memcmp(listBytes, "on\0\x05\0\0\0\0\0\0\0", 11), 0);
}

}  // namespace

namespace {

// The profile's module: its id, tree, values and the types its nodes use.
TEST(SimHsi, ModuleNodes) {
  int32_t module = -1;
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_ID, "nfs41client", &module), HYX_OK);
  EXPECT_EQ(module, 12);
  int32_t none = -1;
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_ID, "nosuchmodule", &none), HYX_NOT_FOUND);

  uint32_t count = 0, top = 0;
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_COUNT, module, &count), HYX_OK);
  EXPECT_EQ(count, 5u);  // its root and four nodes
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_FIRST_NODE, module, &top), HYX_OK);
  EXPECT_EQ(top, 5002u);  // the highest-numbered top node: mounts

  // Walk the tree: mounts' children, highest first.
  HsiNodeDef def{};
  char name[128] = {};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_DEF, top, module, &def, name, uint32_t{128}), HYX_OK);
  EXPECT_STREQ(name, "mounts");
  EXPECT_EQ(def.instance, 1);
  EXPECT_EQ(def.parent, HSI_MODULE_NODE_BASE);
  EXPECT_EQ(def.nextSibling, 5001u);
  EXPECT_EQ(def.firstChild, 5004u);
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_NODE_DEF, uint32_t{5003}, module, &def, name, uint32_t{128}),
            HYX_OK);
  EXPECT_STREQ(name, "info");
  EXPECT_EQ(def.getSize, 417u);
  uint32_t infoType = def.getType;

  // Values: the module's name is not sent; node signatures are 0.
  uint32_t version = 0;
  Params empty;
  HsiGetBlock block{HSI_CALL_GET, reinterpret_cast<uintptr_t>(&version), 4};
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_GET, uint32_t{5001}, module, uint64_t{0}, empty.Record(),
                        empty.Size(), &block),
            HYX_OK);
  EXPECT_EQ(version, 41u);
  HsiParamList mounts = HsiParamList_AllocSized(HSI_PARAMLIST_INSTANCE, 4, 512, 0);
  HsiListBlock list{reinterpret_cast<uintptr_t>(HsiParamList_Record(mounts)), HsiParamList_BufferSize(mounts),
                    0};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_LIST, uint32_t{5002}, module, uint64_t{0}, empty.Record(),
                        empty.Size(), &list),
            HYX_OK);
  EXPECT_EQ(HsiParamList_Count(mounts), 2u);
  EXPECT_TRUE(HsiParamList_FindString(mounts, "/vmfs/volumes/backup"));
  HsiParamList_Free(mounts);
  Params iso{"/vmfs/volumes/iso"};
  char info[417];
  block = HsiGetBlock{HSI_CALL_GET, reinterpret_cast<uintptr_t>(info), sizeof info};
  ASSERT_EQ(
      Kernel_Call(KERNEL_CALL_HSI_GET, uint32_t{5003}, module, uint64_t{0}, iso.Record(), iso.Size(), &block),
      HYX_OK);
  EXPECT_STREQ(info + 256, "nfs41");

  // The struct's type, a field and an enum value of the kernel's type table.
  HsiModuleTypeReply reply{};
  char description[128];
  HsiModuleTypeText text{reinterpret_cast<uintptr_t>(description), sizeof description, 0};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_TYPE, module, infoType, &reply, name, uint32_t{128}, &text),
            HYX_OK);
  EXPECT_STREQ(name, "SystemHsi_MountInfo");
  EXPECT_STREQ(description, "mounted file system");
  EXPECT_EQ(uint32_t{reply.kind}, HSI_TYPE_STRUCT);
  EXPECT_EQ(uint32_t{reply.size}, 417u);
  EXPECT_EQ(uint32_t{reply.countOrElement}, 6u);
  uint32_t fieldType = 0, offset = 0;
  char fieldName[64];
  HsiModuleFieldText names{reinterpret_cast<uintptr_t>(fieldName), sizeof fieldName,
                           reinterpret_cast<uintptr_t>(description), sizeof description};
  ASSERT_EQ(
      Kernel_Call(KERNEL_CALL_HSI_MODULE_FIELD, module, infoType, uint32_t{1}, &fieldType, &offset, &names),
      HYX_OK);
  EXPECT_STREQ(fieldName, "type");
  EXPECT_EQ(offset, 256u);
  uint64_t value = 0;
  HsiModuleEnumText valueNames{sizeof fieldName, reinterpret_cast<uintptr_t>(description),
                               sizeof description};
  ASSERT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_ENUM_VALUE, module, uint32_t{HSI_TYPE_INDEX_TIME_UNIT},
                        uint32_t{2}, &value, fieldName, &valueNames),
            HYX_OK);
  EXPECT_EQ(value, 2u);
  EXPECT_STREQ(fieldName, "HsiTime_Microseconds");
  EXPECT_STREQ(description, "us");
  EXPECT_EQ(Kernel_Call(KERNEL_CALL_HSI_MODULE_FIELD, module, uint32_t{HSI_TYPE_INDEX_TIME_UNIT}, uint32_t{0},
                        &fieldType, &offset, &names),
            HYX_BAD_PARAM_TYPE);
}

}  // namespace
