// The information cache: answers the read-only system-information questions
// (gets, lists, module ids, module node definitions and types, the build
// information) from a snapshot file instead of the kernel.  The file
// (hsiCacheFormat.h) is read once into the cache's own memory and indexed;
// lookups then follow offsets inside that copy, so a file changed after
// init changes nothing.  Block lengths are read from the header words with
// bit 0 cleared or, when the chain does not hold that way, as the 31-bit
// field above bit 0 (a diagnostic at init says which).
//
// The file is not trusted: every offset, length, count and chain is checked
// against the copy, at init for what the index and the lookups rely on, and
// while copying for type descriptors (whose copy is bounded by a multiple
// of the file's size).  A malformed file fails init
// (HYX_FAILURE for a broken block chain, HYX_READ_ERROR for a bad record) or
// the lookup that meets it (HYX_READ_ERROR).
//
// Messages go to stderr as "<function>():<text>\n", then every stream is
// flushed: errors when hsiCacheVerbosity is 0 or more, diagnostics when it
// is 1 or more.  Init and cleanup must not race the lookups.
#pragma once

#include <cstdint>

#include "hyxsysinfo/hsiDefs.h"
#include "hyxsysinfo/hsiParams.h"
#include "hyxuser/hyxuser.h"

// 0 until the first successful init, then its argument; 0 again after cleanup.
extern int32_t hsiCacheVerbosity;

// HYX_EXISTS when already initialised; the errno's status when the file
// cannot be opened, sized or read (EINVAL for an empty file, which cannot
// be mapped, EFBIG for one larger than offsets reach); HYX_FAILURE when the block chain and
// the trailer disagree with the file's size; HYX_READ_ERROR for a record
// that does not fit; HYX_NO_MEMORY.  A failure leaves nothing behind.
HYX_ReturnStatus HsiCache_Init(const char *path, int32_t verbosity);
void HsiCache_Cleanup();

// The recorded get of node for these instance arguments into buffer, which
// must be exactly the recorded length; a recorded failure is returned and
// leaves the buffer untouched.
HYX_ReturnStatus HsiCache_Get(HsiNodeID node, HsiModuleID module, HsiParamList args, void *buffer,
                              uint32_t length);
// Appends the recorded instances of node for these arguments to list.
HYX_ReturnStatus HsiCache_GetInstanceList(HsiNodeID node, HsiModuleID module, HsiParamList args,
                                          HsiParamList list);
// Whether args (an instance list) holds one value of the right kind for each
// instance node from node up to its tree's top; for a list call node's own
// value is left out.
HYX_ReturnStatus HsiCacheVerifyInstanceArgs(HsiNodeID node, HsiModuleID module, bool isList,
                                            HsiParamList args);

// The first module, in index order (the reverse of the file's), whose name
// begins with name.  *id is -1 when there is none.
HYX_ReturnStatus HsiCache_GetModuleID(const char *name, HsiModuleID *id);
// The first child of module's root (node HSI_MODULE_NODE_BASE).
HYX_ReturnStatus HsiCache_GetModuleRootChild(HsiModuleID module, HsiNodeID *child);
// The snapshot's build string; HYX_FAILURE when the snapshot was taken with
// another interface signature.  size must be at least 21.
HYX_ReturnStatus HsiCache_GetBuildInfo(char *buffer, uint32_t size);
bool HsiCache_NodeExists(HsiNodeID node, HsiModuleID module);
// The recorded HSI_NODE_REPLY_SIZE bytes of node's definition and its name
// (not terminated when it fills nameLength).
HYX_ReturnStatus HsiCache_GetNodeDef(HsiNodeID node, HsiModuleID module, HsiNodeDef *def, char *name,
                                     uint32_t nameLength);
// A copy of node's recorded get-data type (null when none), released with
// HsiNode_ReleaseType.
HYX_ReturnStatus HsiCache_GetNodeType(HsiNodeID node, HsiModuleID module, const HsiTypeDef **type);
// Copies the type descriptor tree at a file offset into malloc'd memory.
HYX_ReturnStatus HsiCache_CopyType(uint64_t offset, const HsiTypeDef **type);
