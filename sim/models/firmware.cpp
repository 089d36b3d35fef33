// Firmware tables: ACPI tables by signature and instance (16517, 16518) and
// the SMBIOS data block (2051, 2052), from the profile's "firmware" section.
#include <cstring>
#include <string>
#include <vector>

#include "../kernel.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

constexpr uint32_t kNotFound = 0x0bad0003, kBadParam = 0x0bad0007, kBufTooSmall = 0x0bad00db;

struct AcpiTable {
  std::string signature;
  uint32_t instance;
  std::vector<uint8_t> bytes;
};

std::vector<AcpiTable> *acpiTables;
std::vector<uint8_t> *smbiosData;

// "hex:..." or plain text.
std::vector<uint8_t> Bytes(const std::string &text) {
  if (text.rfind("hex:", 0) != 0) return {text.begin(), text.end()};
  std::vector<uint8_t> bytes;
  for (size_t i = 4; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

void Answer(Call &call, uint32_t status, int error) {
  call.status = status;
  call.error = static_cast<uint64_t>(static_cast<int64_t>(error));
}

const AcpiTable *FindTable(const Call &call) {
  const char *signature = reinterpret_cast<const char *>(call.args[0]);
  uint32_t instance = static_cast<uint32_t>(call.args[1]);
  for (const AcpiTable &table : *acpiTables)
    if (strncmp(signature, table.signature.c_str(), 4) == 0 && table.instance == instance) return &table;
  return nullptr;
}

// x0 signature (4 characters), x1 instance, x2 address of a u32 length.
void AcpiLength(Call &call) {
  if (call.args[0] == 0 || call.args[2] == 0) return Answer(call, kBadParam, -EFAULT);
  const AcpiTable *table = FindTable(call);
  if (table == nullptr) return Answer(call, kNotFound, -ENOENT);
  uint32_t length = static_cast<uint32_t>(table->bytes.size());
  memcpy(reinterpret_cast<void *>(call.args[2]), &length, sizeof length);
  Answer(call, 0, 0);
}

// x0 signature, x1 instance, x2 buffer, x3 the buffer's length in bytes.
void AcpiTableCall(Call &call) {
  if (call.args[0] == 0 || call.args[2] == 0) return Answer(call, kBadParam, -EFAULT);
  const AcpiTable *table = FindTable(call);
  if (table == nullptr) return Answer(call, kNotFound, -ENOENT);
  if (call.args[3] < table->bytes.size()) return Answer(call, kBufTooSmall, -EINVAL);
  memcpy(reinterpret_cast<void *>(call.args[2]), table->bytes.data(), table->bytes.size());
  Answer(call, 0, 0);
}

// x0 address of a u32 length.
void SmbiosLength(Call &call) {
  if (call.args[0] == 0) return Answer(call, kBadParam, -EFAULT);
  uint32_t length = static_cast<uint32_t>(smbiosData->size());
  memcpy(reinterpret_cast<void *>(call.args[0]), &length, sizeof length);
  Answer(call, 0, 0);
}

// x0 buffer, x1 its length.
void SmbiosData(Call &call) {
  if (call.args[0] == 0) return Answer(call, kBadParam, -EFAULT);
  if (smbiosData->empty()) return Answer(call, kNotFound, -ENOENT);
  if (static_cast<uint32_t>(call.args[1]) < smbiosData->size()) return Answer(call, kBufTooSmall, -EINVAL);
  memcpy(reinterpret_cast<void *>(call.args[0]), smbiosData->data(), smbiosData->size());
  Answer(call, 0, 0);
}

}  // namespace

void RegisterFirmwareModels() {
  if (!CurrentProfile().hyxkernel) return;
  // Built once and never destroyed: calls may come during exit.
  acpiTables = new std::vector<AcpiTable>;
  smbiosData = new std::vector<uint8_t>;
  const nlohmann::json firmware = CurrentProfile().document.value("firmware", nlohmann::json::object());
  for (const nlohmann::json &table : firmware.value("acpi", nlohmann::json::array()))
    acpiTables->push_back({table.value("signature", std::string()), table.value("instance", 0u),
                           Bytes(table.value("bytes", std::string()))});
  *smbiosData = Bytes(firmware.value("smbios", std::string()));
  RegisterModel(16517, AcpiLength);
  RegisterModel(16518, AcpiTableCall);
  RegisterModel(2051, SmbiosData);
  RegisterModel(2052, SmbiosLength);
}

}  // namespace hyxsim
