// Spawn attribute records and file-action lists.  The kernel's spawn call
// reads both records by address, so their layouts are checked here.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/guard.h"
#include "hyxuser/hyxuser.h"

static_assert(sizeof(HyxuserSpawnAttr) == 64);
static_assert(offsetof(HyxuserSpawnAttr, flags) == 0);
static_assert(offsetof(HyxuserSpawnAttr, pgid) == 4);
static_assert(offsetof(HyxuserSpawnAttr, workingDirFd) == 8);
static_assert(offsetof(HyxuserSpawnAttr, uid) == 12);
static_assert(offsetof(HyxuserSpawnAttr, gid) == 16);
static_assert(offsetof(HyxuserSpawnAttr, reserved20) == 20);
static_assert(offsetof(HyxuserSpawnAttr, securityDomain) == 24);
static_assert(offsetof(HyxuserSpawnAttr, reserved28) == 28);
static_assert(offsetof(HyxuserSpawnAttr, sigDefault) == 32);
static_assert(offsetof(HyxuserSpawnAttr, sigMask) == 40);
static_assert(offsetof(HyxuserSpawnAttr, resourceGroup) == 48);
static_assert(offsetof(HyxuserSpawnAttr, memMB) == 56);

static_assert(sizeof(HyxuserSpawnFileAction) == 24);
static_assert(offsetof(HyxuserSpawnFileAction, kind) == 0);
static_assert(offsetof(HyxuserSpawnFileAction, fd) == 4);
static_assert(offsetof(HyxuserSpawnFileAction, arg.path) == 8);
static_assert(offsetof(HyxuserSpawnFileAction, arg.sourceFd) == 8);
static_assert(offsetof(HyxuserSpawnFileAction, openFlags) == 16);
static_assert(offsetof(HyxuserSpawnFileAction, mode) == 20);

static_assert(sizeof(HyxuserSpawnFileActions) == 16);
static_assert(offsetof(HyxuserSpawnFileActions, capacity) == 0);
static_assert(offsetof(HyxuserSpawnFileActions, count) == 4);
static_assert(offsetof(HyxuserSpawnFileActions, entries) == 8);

// The signal sets hold signals 1 to 64 as the first 64 bits of a glibc
// sigset_t, which is 128 bytes on every target of the library.
static_assert(sizeof(sigset_t) == 128);

namespace {

constexpr int32_t kMaxFileActions = 8192;

template <typename Field, typename Value>
HYX_ReturnStatus SetField(HyxuserSpawnAttr *attr, Field HyxuserSpawnAttr::*field, Value value) {
  if (attr == nullptr) return HYX_BAD_PARAM;
  attr->*field = static_cast<Field>(value);
  return HYX_OK;
}

template <typename Field, typename Value>
HYX_ReturnStatus GetField(const HyxuserSpawnAttr *attr, Field HyxuserSpawnAttr::*field, Value *out) {
  if (attr == nullptr || out == nullptr) return HYX_BAD_PARAM;
  *out = static_cast<Value>(attr->*field);
  return HYX_OK;
}

HYX_ReturnStatus SetSignals(HyxuserSpawnAttr *attr, uint64_t HyxuserSpawnAttr::*field, const sigset_t *set) {
  if (attr == nullptr || set == nullptr) return HYX_BAD_PARAM;
  memcpy(&(attr->*field), set, sizeof(uint64_t));
  return HYX_OK;
}

HYX_ReturnStatus GetSignals(const HyxuserSpawnAttr *attr, uint64_t HyxuserSpawnAttr::*field, sigset_t *set) {
  if (attr == nullptr || set == nullptr) return HYX_BAD_PARAM;
  memset(set, 0, sizeof *set);
  memcpy(set, &(attr->*field), sizeof(uint64_t));
  return HYX_OK;
}

// Takes the next entry of the list, or says why there is none.
HYX_ReturnStatus NextEntry(HyxuserSpawnFileActions *list, HyxuserSpawnFileAction **entry) {
  if (list->count >= list->capacity) return HYX_FAILURE;
  *entry = &list->entries[list->count];
  return HYX_OK;
}

}  // namespace

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrInit(HyxuserSpawnAttr **attrOut) {
  if (attrOut == nullptr) return HYX_BAD_PARAM;
  auto *attr = static_cast<HyxuserSpawnAttr *>(calloc(1, sizeof(HyxuserSpawnAttr)));
  *attrOut = attr;
  if (attr == nullptr) return HYX_NO_MEMORY;
  attr->workingDirFd = -1;
  attr->uid = 0xFFFFFFFF;
  attr->gid = 0xFFFFFFFF;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrDestroy(HyxuserSpawnAttr *attr) {
  if (attr == nullptr) return HYX_OK;
  free(attr->resourceGroup);
  free(attr);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetFlags(HyxuserSpawnAttr *attr, uint32_t flags) {
  return SetField(attr, &HyxuserSpawnAttr::flags, flags);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetFlags(const HyxuserSpawnAttr *attr, uint32_t *flags) {
  return GetField(attr, &HyxuserSpawnAttr::flags, flags);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetPGID(HyxuserSpawnAttr *attr, pid_t pgid) {
  return SetField(attr, &HyxuserSpawnAttr::pgid, pgid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetPGID(const HyxuserSpawnAttr *attr, pid_t *pgid) {
  return GetField(attr, &HyxuserSpawnAttr::pgid, pgid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetWorkingDirFd(HyxuserSpawnAttr *attr, int32_t fd) {
  return SetField(attr, &HyxuserSpawnAttr::workingDirFd, fd);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetWorkingDirFd(const HyxuserSpawnAttr *attr,
                                                                   int32_t *fd) {
  return GetField(attr, &HyxuserSpawnAttr::workingDirFd, fd);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetUID(HyxuserSpawnAttr *attr, uid_t uid) {
  return SetField(attr, &HyxuserSpawnAttr::uid, uid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetUID(const HyxuserSpawnAttr *attr, uid_t *uid) {
  return GetField(attr, &HyxuserSpawnAttr::uid, uid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetGID(HyxuserSpawnAttr *attr, gid_t gid) {
  return SetField(attr, &HyxuserSpawnAttr::gid, gid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetGID(const HyxuserSpawnAttr *attr, gid_t *gid) {
  return GetField(attr, &HyxuserSpawnAttr::gid, gid);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSecurityDomain(HyxuserSpawnAttr *attr,
                                                                     uint32_t domain) {
  return SetField(attr, &HyxuserSpawnAttr::securityDomain, domain);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSecurityDomain(const HyxuserSpawnAttr *attr,
                                                                     uint32_t *domain) {
  return GetField(attr, &HyxuserSpawnAttr::securityDomain, domain);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetMemMB(HyxuserSpawnAttr *attr, uint64_t memMB) {
  return SetField(attr, &HyxuserSpawnAttr::memMB, memMB);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetMemMB(const HyxuserSpawnAttr *attr, uint64_t *memMB) {
  return GetField(attr, &HyxuserSpawnAttr::memMB, memMB);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSigDefault(HyxuserSpawnAttr *attr,
                                                                 const sigset_t *set) {
  return SetSignals(attr, &HyxuserSpawnAttr::sigDefault, set);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSigDefault(const HyxuserSpawnAttr *attr,
                                                                 sigset_t *set) {
  return GetSignals(attr, &HyxuserSpawnAttr::sigDefault, set);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetSigMask(HyxuserSpawnAttr *attr, const sigset_t *set) {
  return SetSignals(attr, &HyxuserSpawnAttr::sigMask, set);
}
HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetSigMask(const HyxuserSpawnAttr *attr, sigset_t *set) {
  return GetSignals(attr, &HyxuserSpawnAttr::sigMask, set);
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrSetRP(HyxuserSpawnAttr *attr, const char *group) {
  if (attr == nullptr || group == nullptr) return HYX_BAD_PARAM;
  if (attr->resourceGroup != nullptr) return HYX_FAILURE;
  attr->resourceGroup = strdup(group);
  return attr->resourceGroup ? HYX_OK : HYX_NO_MEMORY;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnAttrGetRP(const HyxuserSpawnAttr *attr, char **groupOut) {
  if (attr == nullptr || groupOut == nullptr) return HYX_BAD_PARAM;
  if (attr->resourceGroup == nullptr) return HYX_FAILURE;
  *groupOut = strdup(attr->resourceGroup);
  return *groupOut ? HYX_OK : HYX_NO_MEMORY;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnFileActionsInit(HyxuserSpawnFileActions **listOut,
                                                               int32_t capacity) {
  if (listOut == nullptr || capacity < 1 || capacity > kMaxFileActions) return HYX_BAD_PARAM;
  guard::Malloced<HyxuserSpawnFileActions> list(
      static_cast<HyxuserSpawnFileActions *>(malloc(sizeof(HyxuserSpawnFileActions))));
  if (!list) return HYX_NO_MEMORY;
  list->entries = static_cast<HyxuserSpawnFileAction *>(calloc(capacity, sizeof(HyxuserSpawnFileAction)));
  if (list->entries == nullptr) return HYX_NO_MEMORY;
  list->capacity = static_cast<uint32_t>(capacity);
  list->count = 0;
  *listOut = list.release();
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnFileActionsDestroy(HyxuserSpawnFileActions *list) {
  if (list == nullptr) return HYX_OK;
  for (uint32_t i = 0; i < list->capacity; ++i)
    if (list->entries[i].kind == SPAWN_FILE_ACTION_OPEN) free(list->entries[i].arg.path);
  free(list->entries);
  free(list);
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnFileActionsAddOpen(HyxuserSpawnFileActions *list, int32_t fd,
                                                                  const char *path, uint32_t openFlags,
                                                                  uint32_t mode) {
  if (list == nullptr || fd < 0 || path == nullptr) return HYX_BAD_PARAM;
  HyxuserSpawnFileAction *entry;
  if (HYX_ReturnStatus status = NextEntry(list, &entry); status != HYX_OK) return status;
  char *copy = strdup(path);
  if (copy == nullptr) return HYX_NO_MEMORY;
  entry->fd = fd;
  entry->arg.path = copy;
  entry->openFlags = openFlags;
  entry->mode = mode;
  entry->kind = SPAWN_FILE_ACTION_OPEN;
  list->count++;
  return HYX_OK;
}

HYX_EXPORT HYX_ReturnStatus HyxuserCompat_SpawnFileActionsAddDup2(HyxuserSpawnFileActions *list, int32_t fd,
                                                                  int32_t newFd) {
  if (list == nullptr || fd < 0 || newFd < 0) return HYX_BAD_PARAM;
  HyxuserSpawnFileAction *entry;
  if (HYX_ReturnStatus status = NextEntry(list, &entry); status != HYX_OK) return status;
  memset(entry, 0, sizeof *entry);
  entry->kind = SPAWN_FILE_ACTION_DUP2;
  entry->fd = newFd;
  entry->arg.sourceFd = fd;
  list->count++;
  return HYX_OK;
}
