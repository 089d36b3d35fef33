#include "kernel.h"

#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "hyxuser/hyxuser.h"
#include "profile.h"
#include "profileValues.h"

namespace hyxsim {
namespace {

// Call numbers are sparse; a small open-addressed table keyed by number
// holds each one's model, scripted handler and count.
constexpr size_t kSlots = 256;

struct Slot {
  std::atomic<uint64_t> number{0};  // 0 = free (number 0 is never trapped)
  std::atomic<Model> model{nullptr};
  std::atomic<HyxSimHandler> handler{nullptr};
  std::atomic<void *> context{nullptr};
  std::atomic<uint64_t> count{0};
};
Slot slots[kSlots];

Slot *FindSlot(uint64_t number, bool create) {
  for (size_t i = 0, at = (number * 0x9E3779B97F4A7C15ull) >> 56; i < kSlots; ++i, at = (at + 1) % kSlots) {
    uint64_t seen = slots[at].number.load(std::memory_order_acquire);
    if (seen == number) return &slots[at];
    if (seen == 0) {
      if (!create) return nullptr;
      uint64_t expected = 0;
      if (slots[at].number.compare_exchange_strong(expected, number) || expected == number) return &slots[at];
    }
  }
  return nullptr;
}

// Kernel calls nobody models: the Hyxkernel says the call is undefined;
// plain Linux returns -ENOSYS in the status register and leaves the other.
void Undefined(Call &call) {
  if (CurrentProfile().hyxkernel)
    Answer(call, HYX_UNDEFINED_SYSCALL, ENOSYS);
  else
    AnswerLinux(call, -ENOSYS);
}

}  // namespace

void Answer(Call &call, uint32_t status, int err) {
  call.status = status;
  call.error = static_cast<uint64_t>(-static_cast<int64_t>(err));
}

void AnswerLinux(Call &call, long result) { call.status = static_cast<uint64_t>(result); }

void RegisterModel(uint64_t number, Model model) {
  if (Slot *slot = FindSlot(number, true)) slot->model.store(model);
}

void Dispatch(Call &call) {
  Slot *slot = FindSlot(call.number, true);
  if (slot == nullptr) return Undefined(call);
  slot->count.fetch_add(1, std::memory_order_relaxed);
  if (HyxSimHandler handler = slot->handler.load()) return handler(&call, slot->context.load());
  RunModel(call);
}

void RunModel(Call &call) {
  Slot *slot = FindSlot(call.number, false);
  if (Model model = slot ? slot->model.load() : nullptr) return model(call);
  Undefined(call);
}

long RawSyscall(long number, long a0, long a1, long a2, long a3, long a4, long a5) {
#if defined(__x86_64__)
  long result;
  register long r10 asm("r10") = a3;
  register long r8 asm("r8") = a4;
  register long r9 asm("r9") = a5;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(number), "D"(a0), "S"(a1), "d"(a2), "r"(r10), "r"(r8), "r"(r9)
               : "rcx", "r11", "memory");
  return result;
#elif defined(__aarch64__)
  register long x8 asm("x8") = number;
  register long x0 asm("x0") = a0;
  register long x1 asm("x1") = a1;
  register long x2 asm("x2") = a2;
  register long x3 asm("x3") = a3;
  register long x4 asm("x4") = a4;
  register long x5 asm("x5") = a5;
  asm volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3), "r"(x4), "r"(x5) : "memory");
  return x0;
#else
#error "the simulated kernel knows aarch64 and x86_64"
#endif
}

}  // namespace hyxsim

using hyxsim::FindSlot;

extern "C" {

void HyxSim_SetHandler(uint64_t number, HyxSimHandler handler, void *context) {
  if (hyxsim::Slot *slot = FindSlot(number, true)) {
    slot->handler.store(nullptr);
    slot->context.store(context);
    slot->handler.store(handler);
  }
}

namespace {

struct ScriptedAnswer {
  uint32_t status;
  int32_t error;
  unsigned char bytes[4096];
  size_t length;
  unsigned argIndex;
  bool hasBytes;
};

// One scripted answer per slot is plenty for tests; kept in static storage so
// the handler needs no allocation.
ScriptedAnswer scripted[hyxsim::kSlots];

void AnswerScripted(HyxSimCall *call, void *context) {
  const auto *answer = static_cast<const ScriptedAnswer *>(context);
  if (answer->hasBytes && call->args[answer->argIndex] != 0)
    memcpy(reinterpret_cast<void *>(call->args[answer->argIndex]), answer->bytes, answer->length);
  call->status = answer->status;
  call->error = static_cast<uint64_t>(static_cast<int64_t>(answer->error));
}

}  // namespace

void HyxSim_ScriptAnswer(uint64_t number, uint32_t status, int32_t error, const void *bytes, size_t length,
                         unsigned argIndex) {
  hyxsim::Slot *slot = FindSlot(number, true);
  if (slot == nullptr || argIndex >= 6 || length > sizeof scripted[0].bytes) return;
  ScriptedAnswer &answer = scripted[slot - hyxsim::slots];
  HyxSim_SetHandler(number, nullptr, nullptr);
  answer.status = status;
  answer.error = error;
  answer.hasBytes = bytes != nullptr;
  if (bytes) memcpy(answer.bytes, bytes, length);
  answer.length = length;
  answer.argIndex = argIndex;
  HyxSim_SetHandler(number, AnswerScripted, &answer);
}

void HyxSim_RunModel(HyxSimCall *call) { hyxsim::RunModel(*call); }

void HyxSim_ClearHandlers(void) {
  for (hyxsim::Slot &slot : hyxsim::slots) slot.handler.store(nullptr);
}

uint64_t HyxSim_CallCount(uint64_t number) {
  hyxsim::Slot *slot = FindSlot(number, false);
  return slot ? slot->count.load() : 0;
}

void HyxSim_ResetCounts(void) {
  for (hyxsim::Slot &slot : hyxsim::slots) slot.count.store(0);
}

const char *HyxSim_ProfilePath(void) { return hyxsim::CurrentProfile().path.c_str(); }

void HyxSim_ProfileFields(void (*each)(const char *path, void *context), void *context) {
  hyxsim::ForEachProfileField(each, context);
}

}  // extern "C"
