// Profile values: what every section loader decodes numbers, bytes and
// objects with, naming the field at fault.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hyxsim {

// ---- profile values ----------------------------------------------------------
// Decoders say what is wrong in error; the section loader adds the field.

// A JSON number, a boolean, or number text ("0x1f", "-3", "17").
bool DecodeNumber(const nlohmann::json &value, uint64_t &out, std::string &error);
// Whether a value DecodeNumber takes is below zero.
bool IsNegative(const nlohmann::json &value);
// Plain text, "hex:" and hex digit pairs (spaces allowed), or a list of numbers.
bool DecodeBytes(const nlohmann::json &value, std::vector<uint8_t> &out, std::string &error);

// Reads one object of the profile with named faults: every getter checks the
// field's kind, and Done() refuses fields nobody asked for.  The first fault
// sticks; Fault() is "where.field: reason".
class ProfileObject {
 public:
  ProfileObject(const nlohmann::json *object, std::string where);
  bool ok() const { return fault_.empty(); }
  const std::string &Fault() const { return fault_; }
  bool Has(const char *field) const;

  std::string Text(const char *field, const std::string &fallback);
  bool Flag(const char *field, bool fallback);
  uint64_t Number(const char *field, uint64_t fallback, uint64_t max = UINT64_MAX);
  std::vector<uint8_t> Bytes(const char *field);
  // One of choices; fallback when absent.
  std::string Choice(const char *field, std::initializer_list<const char *> choices, const char *fallback);
  // The raw value of a field that the caller checks itself (null if absent).
  const nlohmann::json *Raw(const char *field);
  // Names a fault of the caller's own at field.
  void Fail(const char *field, const std::string &reason);
  // Refuses fields that were never read.
  bool Done();

 private:
  const nlohmann::json *Field(const char *field);
  const nlohmann::json *object_;
  std::string where_;
  std::vector<std::string> read_;
  std::string fault_;
};

// Notes that the simulator reads field of the object at where ("" or
// "profile" for a top-level section); ProfileObject notes every field it
// is asked about.
void NoteField(const std::string &where, const char *field);
// Every field path noted in this process
// ("firmware.acpi[].bytes"), in order, once each.
void ForEachProfileField(void (*each)(const char *path, void *context), void *context);

}  // namespace hyxsim
