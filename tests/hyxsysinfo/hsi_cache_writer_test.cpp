// The cache-file writer: the block chain and trailer, the chains of records
// reached from the trailer, and the placement it reports.  The file is read
// back here by walking offsets, independently of the library's reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hsiCacheWriter.h"
#include "hyxsysinfo/hsiCacheFormat.h"
#include "hyxsysinfo/kernelWire.h"
#include "hyxuser/hyxuser.h"

namespace {

using hsicache::Param;

template <typename T>
T At(const std::vector<uint8_t> &file, uint64_t offset) {
  EXPECT_LE(offset + sizeof(T), file.size());
  T value{};
  if (offset + sizeof(T) <= file.size()) std::memcpy(&value, file.data() + offset, sizeof(T));
  return value;
}

std::string StringAt(const std::vector<uint8_t> &file, uint64_t offset) {
  if (offset >= file.size()) return "<outside>";
  return std::string(reinterpret_cast<const char *>(file.data() + offset),
                     strnlen(reinterpret_cast<const char *>(file.data() + offset), file.size() - offset));
}

// The blocks as [start, end) ranges; fails the test when the chain does not
// end exactly where the trailer starts.
std::vector<std::pair<uint32_t, uint32_t>> Blocks(const std::vector<uint8_t> &file) {
  std::vector<std::pair<uint32_t, uint32_t>> blocks;
  uint32_t at = 0;
  for (;;) {
    uint32_t header = At<uint32_t>(file, at);
    uint32_t length = HsiCacheBlockLength(header);
    EXPECT_GE(length, 4u);
    if (length < 4) return blocks;
    blocks.emplace_back(at, at + length);
    at += length;
    if (header & HSI_CACHE_LAST_BLOCK) break;
  }
  EXPECT_EQ(at + sizeof(HsiCacheTrailer), file.size());
  return blocks;
}

// Whether [offset, offset + size) lies inside one block, past its header.
bool InsideABlock(const std::vector<std::pair<uint32_t, uint32_t>> &blocks, uint64_t offset, uint64_t size) {
  for (const auto &[start, end] : blocks) {
    if (offset >= start + 4 && offset + size <= end) return true;
  }
  return false;
}

Param ParamAt(const std::vector<uint8_t> &file, uint32_t offset) {
  auto slot = At<HsiParam>(file, offset);
  if (slot.type == HSI_PARAM_STRING) {
    EXPECT_EQ(slot.value, 0u);
    std::string text = StringAt(file, slot.offset);
    EXPECT_EQ(slot.length, text.size() + 1);
    return Param::String(text);
  }
  EXPECT_EQ(slot.type, HSI_PARAM_INT);
  return Param::Int(slot.value);
}

// The chain from its first link (the last argument), returned in call order.
std::vector<Param> Args(const std::vector<uint8_t> &file, uint32_t first) {
  std::vector<Param> args;
  for (uint32_t link = first; link && args.size() < 100; link = At<HsiCacheArgLink>(file, link).next) {
    args.insert(args.begin(), ParamAt(file, At<HsiCacheArgLink>(file, link).param));
  }
  return args;
}

// A small tree: a struct of a u32 and an enum, and an array of it.
const HsiTypeDef kU32{"u32", HSI_TYPE_SCALAR, 4, "%u", {0}, {nullptr}, 0};
const HsiEnumValueDef kStateValues[] = {{"up", 1, "link up"}, {"down", 2, nullptr}};
const HsiTypeDef kState{"state", HSI_TYPE_ENUM, 4, "link state", {2}, {.values = kStateValues}, 0};
const HsiFieldDef kPortFields[] = {{"speed", &kU32, 9, 0, "Mb/s"}, {"state", &kState, 30, 4, nullptr}};
const HsiTypeDef kPort{"port", HSI_TYPE_STRUCT, 8, "one port", {2}, {.fields = kPortFields}, 0};
const HsiTypeDef kPorts{"ports", HSI_TYPE_ARRAY, 16, nullptr, {.element = &kPort}, {.elementIndex = 31}, 0};

struct Sample {
  hsicache::Writer writer;
  size_t net, vmk, ports, link, child;
  Sample() {
    uint8_t def[HSI_NODE_REPLY_SIZE];
    for (size_t i = 0; i < sizeof def; i++) def[i] = static_cast<uint8_t>(i + 1);
    net = writer.AddModule(7, "net", 12);
    vmk = writer.AddModule(-1, "vmkernel", 300);
    ports = writer.AddNode(net, 3, 0x1122334455667788ull, 16, def, "ports", &kPorts);
    link = writer.AddNode(net, 5, 42, 0, def, "link");
    child = writer.AddNode(vmk, 200, 43, 4, def, "child", &kU32);
    writer.AddGet(ports, {Param::String("vmnic0"), Param::Int(3)}, 0, std::vector<uint8_t>(16, 0xab));
    writer.AddList(link, {Param::Int(9)}, 0, {Param::String("a"), Param::Int(5), Param::String("")});
    writer.AddGet(ports, {}, HYX_NOT_FOUND, {});
    writer.AddGet(child, {Param::Int(1)}, 0, {1, 2});
    writer.AddList(link, {}, HYX_BAD_PARAM, {});
  }
};

TEST(HsiCacheWriter, AnEmptyFileIsOneLastBlockAndTheTrailer) {
  hsicache::Writer writer;
  hsicache::Placement placement;
  auto file = writer.Finish("build-1", std::string(32, 'f'), 0, &placement);
  ASSERT_EQ(file.size(), 4 + sizeof(HsiCacheTrailer));
  EXPECT_EQ(At<uint32_t>(file, 0), 4u | HSI_CACHE_LAST_BLOCK);
  auto trailer = At<HsiCacheTrailer>(file, 4);
  EXPECT_EQ(trailer.moduleCount, 0u);
  EXPECT_EQ(trailer.firstModule, 0u);
  EXPECT_STREQ(trailer.build, "build-1");
  EXPECT_EQ(std::string(trailer.signature), std::string(32, 'f'));
  EXPECT_EQ(placement.trailer, 4u);

  // An over-long build string and signature are cut, still terminated.
  file = writer.Finish(std::string(40, 'b'), std::string(40, 'a'));
  trailer = At<HsiCacheTrailer>(file, file.size() - sizeof trailer);
  EXPECT_EQ(std::string(trailer.build), std::string(20, 'b'));
  EXPECT_EQ(std::string(trailer.signature), std::string(32, 'a'));
}

TEST(HsiCacheWriter, RecordsAreReachedFromTheTrailerWhereFinishSays) {
  Sample sample;
  hsicache::Placement p;
  auto file = sample.writer.Finish("b", "s", 0, &p);
  auto blocks = Blocks(file);
  ASSERT_EQ(blocks.size(), 1u);
  auto trailer = At<HsiCacheTrailer>(file, p.trailer);
  ASSERT_EQ(p.trailer + sizeof trailer, file.size());
  EXPECT_EQ(trailer.moduleCount, 2u);

  // Module chain in add order.
  ASSERT_EQ(p.modules.size(), 2u);
  EXPECT_EQ(trailer.firstModule, p.modules[0]);
  auto net = At<HsiCacheModuleRecord>(file, p.modules[0]);
  auto vmk = At<HsiCacheModuleRecord>(file, p.modules[1]);
  EXPECT_EQ(net.nextModule, p.modules[1]);
  EXPECT_EQ(vmk.nextModule, 0u);
  EXPECT_EQ(net.moduleId, 7u);
  EXPECT_EQ(static_cast<int32_t>(vmk.moduleId), -1);
  EXPECT_STREQ(net.name, "net");
  EXPECT_STREQ(vmk.name, "vmkernel");
  EXPECT_EQ(net.slotCount, 12);
  EXPECT_EQ(net.nodeCount, 2u);
  EXPECT_EQ(vmk.nodeCount, 1u);

  // Nodes, their infos and names.
  EXPECT_EQ(net.firstNode, p.nodes[sample.ports]);
  auto ports = At<HsiCacheNodeRecord>(file, p.nodes[sample.ports]);
  auto link = At<HsiCacheNodeRecord>(file, p.nodes[sample.link]);
  EXPECT_EQ(ports.nextNode, p.nodes[sample.link]);
  EXPECT_EQ(link.nextNode, 0u);
  EXPECT_EQ(vmk.firstNode, p.nodes[sample.child]);
  EXPECT_EQ(ports.slot, 3u);
  EXPECT_EQ(ports.signature, 0x1122334455667788ull);
  EXPECT_EQ(ports.dataLength, 16u);
  EXPECT_EQ(ports.info, p.infos[sample.ports]);
  auto info = At<HsiCacheNodeInfo>(file, ports.info);
  EXPECT_EQ(info.def[0], 1);
  EXPECT_EQ(info.def[58], 59);
  EXPECT_EQ(info.name, p.names[sample.ports]);
  EXPECT_EQ(StringAt(file, info.name), "ports");
  EXPECT_EQ(info.type, p.types[sample.ports]);
  EXPECT_EQ(At<HsiCacheNodeInfo>(file, link.info).type, 0u);
  EXPECT_EQ(p.types[sample.link], 0u);

  // Get entries in add order for their node; arguments chained last to
  // first, read back in call order.
  EXPECT_EQ(ports.getCount, 2u);
  EXPECT_EQ(ports.listCount, 0u);
  EXPECT_EQ(ports.firstGet, p.gets[0]);
  auto get = At<HsiCacheGetEntry>(file, p.gets[0]);
  EXPECT_EQ(get.next, p.gets[1]);
  EXPECT_EQ(get.status, 0u);
  EXPECT_EQ(get.data, p.getData[0]);
  EXPECT_EQ(At<uint8_t>(file, get.data + 15), 0xab);
  EXPECT_EQ(Args(file, get.args), (std::vector<Param>{Param::String("vmnic0"), Param::Int(3)}));
  ASSERT_EQ(p.getArgLinks[0].size(), 2u);
  EXPECT_EQ(get.args, p.getArgLinks[0][0]);
  EXPECT_EQ(At<HsiCacheArgLink>(file, p.getArgLinks[0][0]).param, p.getArgs[0][1]);
  EXPECT_EQ(At<HsiCacheArgLink>(file, p.getArgLinks[0][1]).next, 0u);
  auto failed = At<HsiCacheGetEntry>(file, p.gets[1]);
  EXPECT_EQ(failed.args, 0u);
  EXPECT_EQ(failed.status, static_cast<uint32_t>(HYX_NOT_FOUND));
  EXPECT_EQ(failed.data, 0u);
  EXPECT_EQ(p.getData[1], 0u);
  EXPECT_EQ(failed.next, 0u);

  // A short data vector is padded to the node's length.
  auto childGet = At<HsiCacheGetEntry>(file, p.gets[2]);
  EXPECT_EQ(At<uint32_t>(file, childGet.data), 0x0201u);

  // List entries with their items in order.
  EXPECT_EQ(link.listCount, 2u);
  EXPECT_EQ(link.firstList, p.lists[0]);
  auto list = At<HsiCacheListEntry>(file, p.lists[0]);
  EXPECT_EQ(list.next, p.lists[1]);
  EXPECT_EQ(list.itemCount, 3u);
  EXPECT_EQ(Args(file, list.args), std::vector<Param>{Param::Int(9)});
  std::vector<Param> items;
  for (uint32_t item = list.firstItem; item && items.size() < 10;
       item = At<HsiCacheListItem>(file, item).next) {
    items.push_back(ParamAt(file, At<HsiCacheListItem>(file, item).param));
  }
  EXPECT_EQ(items, (std::vector<Param>{Param::String("a"), Param::Int(5), Param::String("")}));
  EXPECT_EQ(p.listItems[0].front(), list.firstItem);
  EXPECT_EQ(p.listItemParams[0][1], At<HsiCacheListItem>(file, p.listItems[0][1]).param);
  auto empty = At<HsiCacheListEntry>(file, p.lists[1]);
  EXPECT_EQ(empty.status, static_cast<uint32_t>(HYX_BAD_PARAM));
  EXPECT_EQ(empty.itemCount, 0u);
  EXPECT_EQ(empty.firstItem, 0u);
  EXPECT_EQ(empty.args, 0u);
}

TEST(HsiCacheWriter, TypeTreesKeepEveryDescriptor) {
  Sample sample;
  hsicache::Placement p;
  auto file = sample.writer.Finish("b", "s", 0, &p);
  auto array = At<HsiCacheTypeDef>(file, p.types[sample.ports]);
  EXPECT_EQ(StringAt(file, array.name), "ports");
  EXPECT_EQ(array.kind, HSI_TYPE_ARRAY);
  EXPECT_EQ(array.size, 16u);
  EXPECT_EQ(array.description, 0u);
  EXPECT_EQ(array.b, 31u);  // the element's index stays an index
  auto port = At<HsiCacheTypeDef>(file, array.a);
  EXPECT_EQ(port.kind, HSI_TYPE_STRUCT);
  EXPECT_EQ(StringAt(file, port.description), "one port");
  ASSERT_EQ(port.a, 2u);
  auto speed = At<HsiCacheFieldDef>(file, port.b);
  auto state = At<HsiCacheFieldDef>(file, port.b + sizeof(HsiCacheFieldDef));
  EXPECT_EQ(StringAt(file, speed.name), "speed");
  EXPECT_EQ(StringAt(file, speed.description), "Mb/s");
  EXPECT_EQ(speed.typeIndex, 9u);
  EXPECT_EQ(state.offset, 4u);
  EXPECT_EQ(state.description, 0u);
  auto u32 = At<HsiCacheTypeDef>(file, speed.type);
  EXPECT_EQ(StringAt(file, u32.description), "%u");
  auto stateType = At<HsiCacheTypeDef>(file, state.type);
  EXPECT_EQ(stateType.kind, HSI_TYPE_ENUM);
  ASSERT_EQ(stateType.a, 2u);
  auto down = At<HsiCacheEnumValueDef>(file, stateType.b + sizeof(HsiCacheEnumValueDef));
  EXPECT_EQ(StringAt(file, down.name), "down");
  EXPECT_EQ(down.value, 2u);
  EXPECT_EQ(down.description, 0u);
  EXPECT_EQ(StringAt(file, At<HsiCacheEnumValueDef>(file, stateType.b).description), "link up");
}

TEST(HsiCacheWriter, EqualDescriptorsAreWrittenOnce) {
  // A copy of the port struct at another address, as a rebuilt tree would be.
  const HsiTypeDef copy = kPort;
  HsiTypeDef other = kPort;
  other.size = 12;
  hsicache::Writer writer;
  size_t module = writer.AddModule(0, "", 10);
  size_t a = writer.AddNode(module, 1, 1, 8, nullptr, "a", &kPort);
  size_t b = writer.AddNode(module, 2, 1, 8, nullptr, "b", &copy);
  size_t c = writer.AddNode(module, 3, 1, 12, nullptr, "c", &other);
  size_t d = writer.AddNode(module, 4, 1, 4, nullptr, "d", &kU32);
  hsicache::Placement p;
  auto file = writer.Finish("b", "s", 0, &p);
  EXPECT_EQ(p.types[a], p.types[b]);
  EXPECT_NE(p.types[a], p.types[c]);
  // The struct's field of type u32 is the record node d uses.
  auto port = At<HsiCacheTypeDef>(file, p.types[c]);
  EXPECT_EQ(At<HsiCacheFieldDef>(file, port.b).type, p.types[d]);
}

TEST(HsiCacheWriter, ABlockSizeSplitsTheDataAreaWithoutCuttingARecord) {
  Sample sample;
  // Many small entries, and one record larger than a block.
  for (int i = 0; i < 40; i++)
    sample.writer.AddGet(sample.child, {Param::Int(uint64_t(i) + 2)}, 0, {uint8_t(i)});
  size_t big = sample.writer.AddNode(sample.net, 6, 1, 300, nullptr, "big");
  sample.writer.AddGet(big, {}, 0, std::vector<uint8_t>(300, 7));

  hsicache::Placement whole, split;
  auto one = sample.writer.Finish("b", "s", 0, &whole);
  auto file = sample.writer.Finish("b", "s", 128, &split);
  auto blocks = Blocks(file);
  ASSERT_GT(blocks.size(), 5u);
  ASSERT_EQ(blocks.size(), split.blocks.size());
  size_t large = 0;
  for (size_t b = 0; b < blocks.size(); b++) {
    EXPECT_EQ(blocks[b].first, split.blocks[b]);
    uint32_t length = blocks[b].second - blocks[b].first;
    EXPECT_EQ(length % 2, 0u) << "block " << b;
    if (length > 128) large++;
    EXPECT_EQ((At<uint32_t>(file, blocks[b].first) & HSI_CACHE_LAST_BLOCK) != 0, b + 1 == blocks.size());
  }
  EXPECT_EQ(large, 1u);  // only the 300-byte record's block

  for (uint32_t at : split.modules) EXPECT_TRUE(InsideABlock(blocks, at, sizeof(HsiCacheModuleRecord)));
  for (uint32_t at : split.nodes) EXPECT_TRUE(InsideABlock(blocks, at, sizeof(HsiCacheNodeRecord)));
  for (uint32_t at : split.infos) EXPECT_TRUE(InsideABlock(blocks, at, sizeof(HsiCacheNodeInfo)));
  for (uint32_t at : split.gets) EXPECT_TRUE(InsideABlock(blocks, at, sizeof(HsiCacheGetEntry)));
  for (const auto &params : split.getArgs) {
    for (uint32_t at : params) EXPECT_TRUE(InsideABlock(blocks, at, sizeof(HsiParam)));
  }
  EXPECT_TRUE(InsideABlock(blocks, split.getData.back(), 300));

  // The same records as the one-block file, only placed differently.
  auto trailer = At<HsiCacheTrailer>(file, split.trailer);
  EXPECT_EQ(trailer.firstModule, split.modules[0]);
  auto child = At<HsiCacheNodeRecord>(file, split.nodes[sample.child]);
  EXPECT_EQ(child.getCount, 41u);
  uint32_t entry = child.firstGet;
  for (int i = 0; i < 40; i++) entry = At<HsiCacheGetEntry>(file, entry).next;
  auto last = At<HsiCacheGetEntry>(file, entry);
  EXPECT_EQ(last.next, 0u);
  EXPECT_EQ(Args(file, last.args), std::vector<Param>{Param::Int(41)});
  EXPECT_EQ(At<uint8_t>(file, last.data), 39);
  EXPECT_EQ(entry, split.gets[split.gets.size() - 2]);
  EXPECT_LT(one.size(), file.size());
}

TEST(HsiCacheWriter, UnknownIndexesAreRefused) {
  hsicache::Writer writer;
  EXPECT_EQ(writer.AddNode(0, 1, 1, 0, nullptr, "x"), SIZE_MAX);
  EXPECT_FALSE(writer.AddGet(0, {}, 0, {}));
  EXPECT_FALSE(writer.AddList(3, {}, 0, {}));
}

}  // namespace
