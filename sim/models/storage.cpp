// The storage stack's calls: the adapter rescan.  Adapters, devices and
// paths themselves are system-information values (the profile's "hsi"
// section, storage_scsifw_*); the rescan answers for the adapters listed
// there and keeps count of what was rescanned, for tests to read.
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"
#include "hsiStore.h"

namespace hyxsim {
namespace {

struct Rescans {
  std::mutex lock;
  std::map<std::string, uint64_t> counts;
};

Rescans &TheRescans() {
  static auto *rescans = new Rescans;  // never destroyed: calls may come during exit
  return *rescans;
}

// x0 the adapter's name, x1 0.  An adapter the host does not list is
// HYX_NOT_FOUND; a rescan deletes nothing the profile holds.
void RescanAdapter(Call &call) {
  if (call.args[0] == 0) return Answer(call, HYX_INVALID_ADDRESS);
  std::string name(reinterpret_cast<const char *>(call.args[0]));
  if (!HsiHasInstance("storage_scsifw_adapters", name)) return AnswerErrno(call, ENOENT);
  Rescans &rescans = TheRescans();
  std::lock_guard<std::mutex> guard(rescans.lock);
  rescans.counts[name]++;
  Answer(call, HYX_OK);
}

}  // namespace

void RegisterStorageModels() {
  if (CurrentProfile().hyxkernel) RegisterModel(KERNEL_CALL_RESCAN_ADAPTER, RescanAdapter);
}

}  // namespace hyxsim

extern "C" uint64_t HyxSim_RescanCount(const char *adapter) {
  if (adapter == nullptr) return 0;
  hyxsim::Rescans &rescans = hyxsim::TheRescans();
  std::lock_guard<std::mutex> guard(rescans.lock);
  auto at = rescans.counts.find(adapter);
  return at == rescans.counts.end() ? 0 : at->second;
}
