// Runs before a sanitizer's runtime has set itself up (its own start-up
// allocates), so this file is built without instrumentation and uses no
// inline library code that other files instantiate with it.
#include "alloc_fail.h"

#include <dlfcn.h>
#include <link.h>
#include <sched.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

using MallocFn = void *(*)(size_t);
using CallocFn = void *(*)(size_t, size_t);
using ReallocFn = void *(*)(void *, size_t);
using FreeFn = void (*)(void *);

MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
FreeFn realFree;

// What the loader itself allocates while the real functions are looked up
// comes from here and is never given back.
alignas(alignof(max_align_t)) unsigned char bootstrap[64 * 1024];
size_t bootstrapUsed;
bool resolving;

bool FromBootstrap(const void *p) {
  auto *bytes = static_cast<const unsigned char *>(p);
  return bytes >= bootstrap && bytes < bootstrap + sizeof bootstrap;
}

void *BootstrapAllocate(size_t size) {
  size_t rounded = (size + alignof(max_align_t) - 1) & ~(alignof(max_align_t) - 1);
  size_t at = __atomic_fetch_add(&bootstrapUsed, rounded, __ATOMIC_SEQ_CST);
  if (at + rounded > sizeof bootstrap) return nullptr;
  return bootstrap + at;  // static storage: already zero
}

// The next definitions after the program's: glibc's, or a sanitizer's.
bool Resolve() {
  if (realFree != nullptr) return true;
  if (__atomic_exchange_n(&resolving, true, __ATOMIC_SEQ_CST)) return false;
  realMalloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
  realCalloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
  realRealloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
  realFree = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
  __atomic_store_n(&resolving, false, __ATOMIC_SEQ_CST);
  return true;
}

// The executable segments of the library's code.
struct Range {
  uintptr_t begin, end;
};
Range ranges[8];
int rangeCount;

bool IsLibrary(const char *name) {
  size_t length = strlen(name);
  constexpr char kName[] = "/libhyxuser.so";
  return length >= sizeof kName - 1 && strcmp(name + length - (sizeof kName - 1), kName) == 0;
}

int AddRanges(const dl_phdr_info *info, Range *out, int count) {
  for (int i = 0; i < info->dlpi_phnum && count < 8; i++) {
    const ElfW(Phdr) &segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
    uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    out[count++] = {begin, begin + segment.p_memsz};
  }
  return count;
}

// Found once, when the program's own initialisers run (the library's
// load-time allocations are not counted).
__attribute__((constructor)) void FindLibrary() {
  struct Found {
    Range library[8], program[8];
    int libraryCount = 0, programCount = 0;
    bool first = true;
  } found;
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *data) {
        auto *f = static_cast<Found *>(data);
        if (f->first)
          f->programCount = AddRanges(info, f->program, 0);
        else if (IsLibrary(info->dlpi_name))
          f->libraryCount = AddRanges(info, f->library, f->libraryCount);
        f->first = false;
        return 0;
      },
      &found);
  const Range *chosen = found.libraryCount > 0 ? found.library : found.program;
  int count = found.libraryCount > 0 ? found.libraryCount : found.programCount;
  memcpy(ranges, chosen, sizeof(Range) * count);
  __atomic_store_n(&rangeCount, count, __ATOMIC_SEQ_CST);
}

uint64_t calls;
uint64_t failAt;  // the counted call that fails; 0 = none

// The blocks the library's code allocated that nobody has freed yet: an
// open-addressed set without tombstones (a removal shifts its cluster back),
// under a spin lock, since it lives below the allocator.  Past its capacity
// blocks are no longer tracked and the count is given up on.
constexpr size_t kLiveSlots = size_t{1} << 16;
uintptr_t live[kLiveSlots];
uint64_t liveCount;
bool liveOverflow;
bool liveLock;

struct LiveLocked {
  LiveLocked() {
    while (__atomic_exchange_n(&liveLock, true, __ATOMIC_ACQUIRE)) sched_yield();
  }
  ~LiveLocked() { __atomic_store_n(&liveLock, false, __ATOMIC_RELEASE); }
};

size_t Home(uintptr_t p) {
  return static_cast<size_t>((p >> 4) * 0x9e3779b97f4a7c15ull >> 48) & (kLiveSlots - 1);
}

void AddLive(void *block) {
  if (block == nullptr) return;
  auto p = reinterpret_cast<uintptr_t>(block);
  LiveLocked locked;
  if (liveCount + 1 >= kLiveSlots / 2) {
    liveOverflow = true;
    return;
  }
  size_t i = Home(p);
  while (live[i] != 0) i = (i + 1) & (kLiveSlots - 1);
  live[i] = p;
  liveCount++;
}

void RemoveLive(void *block) {
  if (block == nullptr) return;
  auto p = reinterpret_cast<uintptr_t>(block);
  LiveLocked locked;
  if (liveCount == 0) return;
  size_t i = Home(p);
  while (live[i] != 0 && live[i] != p) i = (i + 1) & (kLiveSlots - 1);
  if (live[i] == 0) return;
  live[i] = 0;
  liveCount--;
  // Moves back each later entry of the cluster whose home does not lie
  // cyclically in (i, j].
  for (size_t j = (i + 1) & (kLiveSlots - 1); live[j] != 0; j = (j + 1) & (kLiveSlots - 1)) {
    size_t home = Home(live[j]);
    bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    live[i] = live[j];
    live[j] = 0;
    i = j;
  }
}

bool FromLibrary(const void *caller) {
  auto address = reinterpret_cast<uintptr_t>(caller);
  int count = __atomic_load_n(&rangeCount, __ATOMIC_SEQ_CST);
  bool library = false;
  for (int i = 0; i < count && !library; i++) library = address >= ranges[i].begin && address < ranges[i].end;
  return library;
}

// Counts a call made from caller; true when it is the one to fail.
bool Fails(const void *caller) {
  if (!FromLibrary(caller)) return false;
  uint64_t n = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
  uint64_t expected = n;
  return __atomic_compare_exchange_n(&failAt, &expected, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

// What the library's code was handed, tracked until it is freed.
void *Tracked(void *block, const void *caller) {
  if (FromLibrary(caller)) AddLive(block);
  return block;
}

void *Allocate(size_t size, const void *caller) {
  if (!Resolve()) return BootstrapAllocate(size);
  if (Fails(caller)) {
    errno = ENOMEM;
    return nullptr;
  }
  return Tracked(realMalloc(size), caller);
}

}  // namespace

extern "C" {

void *malloc(size_t size) { return Allocate(size, __builtin_return_address(0)); }

void *calloc(size_t count, size_t size) {
  if (!Resolve()) return BootstrapAllocate(count * size);
  if (Fails(__builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  return Tracked(realCalloc(count, size), __builtin_return_address(0));
}

void *realloc(void *p, size_t size) {
  if (!Resolve()) return nullptr;
  if (Fails(__builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  if (!FromBootstrap(p)) {
    void *moved = realRealloc(p, size);
    if (moved != nullptr || size == 0) RemoveLive(p);
    return Tracked(moved, __builtin_return_address(0));
  }
  void *moved = realMalloc(size);
  if (moved != nullptr) memcpy(moved, p, size);  // the bootstrap block is at least as long as any use of it
  return moved;
}

void free(void *p) {
  if (p == nullptr || FromBootstrap(p)) return;
  RemoveLive(p);
  if (Resolve()) realFree(p);
}

// glibc's own strdup would allocate from inside glibc, where the caller is
// not the library; these count the library's call itself.
char *strdup(const char *s) {
  size_t length = strlen(s) + 1;
  auto *copy = static_cast<char *>(Allocate(length, __builtin_return_address(0)));
  if (copy != nullptr) memcpy(copy, s, length);
  return copy;
}

char *strndup(const char *s, size_t n) {
  size_t length = strnlen(s, n);
  auto *copy = static_cast<char *>(Allocate(length + 1, __builtin_return_address(0)));
  if (copy == nullptr) return nullptr;
  memcpy(copy, s, length);
  copy[length] = '\0';
  return copy;
}

}  // extern "C"

void AllocFail_Arm(uint64_t nth) {
  __atomic_store_n(&failAt, nth ? __atomic_load_n(&calls, __ATOMIC_SEQ_CST) + nth : 0, __ATOMIC_SEQ_CST);
}

uint64_t AllocFail_Count() { return __atomic_load_n(&calls, __ATOMIC_SEQ_CST); }

int64_t AllocFail_Outstanding() {
  LiveLocked locked;
  return liveOverflow ? -1 : static_cast<int64_t>(liveCount);
}
