// Firmware tables: ACPI tables by signature and instance and the SMBIOS data
// block, from the profile's "firmware" section.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "../kit.h"
#include "../models.h"
#include "../profile.h"

namespace hyxsim {
namespace {

struct AcpiTable {
  char signature[4];
  uint32_t instance;
  std::vector<uint8_t> bytes;
};

// Built once and never destroyed: calls may come during exit.
std::vector<AcpiTable> &AcpiTables() {
  static auto *tables = new std::vector<AcpiTable>;
  return *tables;
}

std::vector<uint8_t> &SmbiosBlock() {
  static auto *block = new std::vector<uint8_t>;
  return *block;
}

// "firmware": {"acpi": [{"signature", "instance", "bytes"}...], "smbios": bytes}
bool LoadFirmware(const nlohmann::json *section, std::string &error) {
  ProfileObject firmware(section, "firmware");
  if (const nlohmann::json *acpi = firmware.Raw("acpi")) {
    if (!acpi->is_array()) firmware.Fail("acpi", "takes a list");
    for (size_t i = 0; firmware.ok() && i < acpi->size(); ++i) {
      ProfileObject item(&(*acpi)[i], "firmware.acpi[" + std::to_string(i) + "]");
      AcpiTable table{};
      std::string signature = item.Text("signature", "");
      if (item.ok() && signature.size() != 4) item.Fail("signature", "takes 4 characters");
      memcpy(table.signature, signature.data(), signature.size() == 4 ? 4 : 0);
      table.instance = static_cast<uint32_t>(item.Number("instance", 0, UINT32_MAX));
      table.bytes = item.Bytes("bytes");
      if (!item.Done()) {
        error = item.Fault();
        return false;
      }
      AcpiTables().push_back(std::move(table));
    }
  }
  SmbiosBlock() = firmware.Bytes("smbios");
  if (!firmware.Done()) error = firmware.Fault();
  return firmware.ok();
}

const AcpiTable *FindTable(const Call &call) {
  const char *signature = reinterpret_cast<const char *>(call.args[0]);
  uint32_t instance = static_cast<uint32_t>(call.args[1]);
  for (const AcpiTable &table : AcpiTables())
    if (strncmp(signature, table.signature, 4) == 0 && table.instance == instance) return &table;
  return nullptr;
}

// x0 signature (4 characters), x1 instance, x2 address of a u32 length.
void AcpiLength(Call &call) {
  if (call.args[0] == 0 || call.args[2] == 0) return Answer(call, HYX_BAD_PARAM, EFAULT);
  const AcpiTable *table = FindTable(call);
  if (table == nullptr) return Answer(call, HYX_NOT_FOUND);
  WriteBlock(call.args[2], static_cast<uint32_t>(table->bytes.size()));
  Answer(call, HYX_OK);
}

// x0 signature, x1 instance, x2 buffer, x3 the buffer's length in bytes.
void AcpiTableCall(Call &call) {
  if (call.args[0] == 0 || call.args[2] == 0) return Answer(call, HYX_BAD_PARAM, EFAULT);
  const AcpiTable *table = FindTable(call);
  if (table == nullptr) return Answer(call, HYX_NOT_FOUND);
  if (call.args[3] < table->bytes.size()) return Answer(call, HYX_BUF_TOO_SMALL, EINVAL);
  memcpy(CallerBytes(call.args[2]), table->bytes.data(), table->bytes.size());
  Answer(call, HYX_OK);
}

// x0 address of a u32 length.
void SmbiosLength(Call &call) {
  if (call.args[0] == 0) return Answer(call, HYX_BAD_PARAM, EFAULT);
  WriteBlock(call.args[0], static_cast<uint32_t>(SmbiosBlock().size()));
  Answer(call, HYX_OK);
}

// x0 buffer, x1 its length.
void SmbiosData(Call &call) {
  if (call.args[0] == 0) return Answer(call, HYX_BAD_PARAM, EFAULT);
  if (SmbiosBlock().empty()) return Answer(call, HYX_NOT_FOUND);
  if (static_cast<uint32_t>(call.args[1]) < SmbiosBlock().size())
    return Answer(call, HYX_BUF_TOO_SMALL, EINVAL);
  memcpy(CallerBytes(call.args[0]), SmbiosBlock().data(), SmbiosBlock().size());
  Answer(call, HYX_OK);
}

}  // namespace

void RegisterFirmwareModels() {
  RegisterSection("firmware", LoadFirmware);
  if (!CurrentProfile().hyxkernel) return;
  RegisterModel(KERNEL_CALL_ACPI_LENGTH, AcpiLength);
  RegisterModel(KERNEL_CALL_ACPI_TABLE, AcpiTableCall);
  RegisterModel(KERNEL_CALL_SMBIOS_DATA, SmbiosData);
  RegisterModel(KERNEL_CALL_SMBIOS_LENGTH, SmbiosLength);
}

}  // namespace hyxsim
